#pragma once

#include <QtGlobal>

#include <atomic>
#include <chrono>
#include <initializer_list>
#include <thread>

class Database;
struct pg_conn;

// On PostgreSQL, hears every change any program commits to the companies and their periods (the
// database's triggers announce them), on a thread and a connection of its own. A reader may keep
// those rows in memory while Hearing(), for as long as Heard() has not moved on. On SQLite it
// hears nothing, and Hearing() stays false.
class ChangeWatch final {
public:
    explicit ChangeWatch(Database &database);
    ~ChangeWatch();
    ChangeWatch(const ChangeWatch &) = delete;
    ChangeWatch &operator=(const ChangeWatch &) = delete;

    // How long one proof that the channel carries words vouches for it: a listening session
    // that stops delivering without an error is distrusted within this bound.
    static constexpr std::chrono::milliseconds TrustFor{2000};

    // Hearing, and proved so within TrustFor: every change committed before the last proof was
    // sent has been heard.
    bool Hearing() const {
        return m_hearing.load(std::memory_order_acquire) &&
               std::chrono::steady_clock::now().time_since_epoch().count() <
                   m_trustedUntil.load(std::memory_order_acquire);
    }
    // Moves on at every change heard, and whenever hearing starts or stops.
    quint64 Heard() const { return m_heard.load(std::memory_order_acquire); }

private:
    void Run();
    // Until the connection is lost or the watch stops; says whether it was hearing.
    bool Listen();
    // Waits for any of `fds` (or only for the stop); false when the watch stops.
    bool Wait(std::initializer_list<int> fds, std::chrono::milliseconds timeout,
              bool *ready = nullptr);
    // A session of its own, opened without blocking the stop; null when it cannot be had.
    pg_conn *Connect();

    Database &m_database;
    std::atomic<bool> m_hearing{false};
    std::atomic<std::chrono::steady_clock::rep> m_trustedUntil{0};
    std::atomic<quint64> m_heard{0};
    std::atomic<bool> m_stop{false};
    int m_wake[2] = {-1, -1}; // a byte written here ends any wait at once
    std::thread m_thread;
};
