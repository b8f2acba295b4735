#pragma once

#include "blockingwait.h"

#include <QThread>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

// The threads that run calls. When the last busy thread finishes a call, it looks for the next
// one for a moment before it sleeps: a client that calls one method after another then finds a
// thread awake, instead of paying for a sleeping one to be woken. Only one thread looks at a
// time, and none while others run, so neither an idle nor a loaded server spends much on it.
//
// A thread that waits on another program (a call waiting for SQLite's write lock while an import
// holds it) tells the pool, which starts a stand-in meanwhile: the other calls, reads above all,
// go on. Stand-ins are bounded; each leaves once the wait it stood in for is over.
class WorkerPool final : private BlockingWait::Hook {
public:
    static constexpr int MaxStandIns = 64;

    // `atThreadEnd` runs on each thread as its last work, before WaitForDone can return.
    explicit WorkerPool(int threads, std::function<void()> atThreadEnd = {});
    ~WorkerPool();
    WorkerPool(const WorkerPool &) = delete;
    WorkerPool &operator=(const WorkerPool &) = delete;

    void Start(std::function<void()> job);
    // Runs what was started and waits for it; Start may not be called any more.
    void WaitForDone();
    // Calls started and not yet taken by a thread.
    int Queued() const { return m_queued.load(std::memory_order_relaxed); }

private:
    void Begin() override;
    void End() override;
    // REQUIRES: m_lock held.
    void Spawn();
    bool Surplus() const { return m_live - m_blocked > m_size; }
    void Run();
    bool TakeSpinning(std::function<void()> &job);
    // REQUIRES: m_lock held, a job queued.
    void TakeFront(std::function<void()> &job);

    std::mutex m_lock;
    std::condition_variable m_wake;
    std::condition_variable m_idle;
    std::deque<std::function<void()>> m_jobs;
    std::atomic<int> m_queued{0};
    bool m_spinning = false; // a thread is looking; guarded by m_lock
    int m_running = 0;
    int m_size = 0;    // the threads asked for
    int m_live = 0;    // threads running Run, stand-ins included; guarded by m_lock
    int m_blocked = 0; // of them, waiting on another program; guarded by m_lock
    bool m_stop = false;
    std::function<void()> m_atThreadEnd;
    std::vector<std::unique_ptr<QThread>> m_threads;
};
