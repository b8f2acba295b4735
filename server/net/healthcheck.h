#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

// The answer to GET /health. The database is asked on a thread of its own, never on the thread
// that serves the connections: a database that hangs makes the answer late by BoundMs at most,
// and a 503. One probe answers every request that arrives while it runs, and those of the next
// FreshMs, so a flood of requests costs the database one query a second.
class HealthCheck final : public QObject {
    Q_OBJECT

public:
    struct Probe {
        bool Reached = false;
        int SchemaVersion = 0;
        int KnownVersion = 0;
        QString Kind; // "sqlite", "postgresql"
        bool Hearing = false;
    };
    struct Answer {
        int Status = 503;
        QByteArray Body; // JSON
    };
    static constexpr int BoundMs = 2000;
    static constexpr int FreshMs = 1000;
    // Requests waiting for a probe; more are answered 503 at once.
    static constexpr int MaxWaiting = 1024;

    // `probe` runs on the check's thread, `threadEnds` as that thread's last work. No probe: the
    // process alone is checked.
    HealthCheck(std::function<Probe()> probe, std::function<void()> threadEnds,
                QObject *parent = nullptr);
    ~HealthCheck() override;

    // `reply` runs on this object's thread, at once or within BoundMs.
    void Ask(std::function<void(const Answer &)> reply);
    // From now on every answer is 503: a balancer takes the server out before it stops.
    void SetStopping();
    // Whether anyone asked in the last `ms`: whether a balancer is watching.
    bool AskedWithin(qint64 ms) const;

    // `failure` empty: the probe's own verdict.
    static Answer Compose(const Probe &probe, const QString &failure, const QString &version);

private:
    void Run();
    void Finished(const Probe &probe);
    void AnswerAll(const Answer &answer);

    std::function<Probe()> m_probe;
    std::function<void()> m_threadEnds;
    std::vector<std::function<void(const Answer &)>> m_waiting;
    Answer m_last;
    QElapsedTimer m_lastAt;  // when m_last was made; invalid before the first
    QElapsedTimer m_askedAt; // invalid until the first request
    QTimer m_bound;
    bool m_stopping = false;
    bool m_probing = false;

    std::mutex m_lock;
    std::condition_variable m_wake;
    bool m_wanted = false; // guarded by m_lock
    bool m_quit = false;   // guarded by m_lock
    std::thread m_thread;
};
