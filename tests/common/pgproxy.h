#pragma once

#include <QByteArray>
#include <QThread>

#include <atomic>
#include <memory>

// A proxy between a program of ours and PostgreSQL on loopback, for what a real network and a
// real server do that a test cannot ask of them on cue. It passes every byte on until a client
// sends a statement holding the trigger text; from then on that session's answers are spoilt
// as the mode says, while the session itself stays up:
// - Fail: after `rows` rows of the result, the client is told the statement failed (57014, as a
//   statement timeout or a cancel says it) and the rest of the result is dropped: an error in
//   the middle of a streamed result.
// - Freeze: once Freeze() is called, nothing more reaches the client, and no error either: a
//   listening session that stops delivering, as behind a half-open connection.
// It runs on a thread of its own, so a test may block while a program starts through it.
// Connect through it with `sslmode=disable`, so the statements can be read.
class PgProxy final {
public:
    enum class Mode { Fail, Freeze };
    PgProxy(quint16 target, Mode mode, QByteArray trigger, int rows = 0);
    ~PgProxy();
    PgProxy(const PgProxy &) = delete;
    PgProxy &operator=(const PgProxy &) = delete;

    quint16 Port() const { return m_port; }
    // Sessions spoilt so far.
    int Spoilt() const { return m_spoilt.load(); }
    // Mode Freeze: the sessions that sent the trigger go silent from now on.
    void Freeze();

    class Engine;

private:
    QThread m_thread;
    Engine *m_engine = nullptr;
    quint16 m_port = 0;
    std::atomic<int> m_spoilt{0};
};
