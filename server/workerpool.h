#pragma once

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
class WorkerPool final {
public:
    // `atThreadEnd` runs on each thread as its last work, before WaitForDone can return.
    explicit WorkerPool(int threads, std::function<void()> atThreadEnd = {});
    ~WorkerPool();
    WorkerPool(const WorkerPool &) = delete;
    WorkerPool &operator=(const WorkerPool &) = delete;

    void Start(std::function<void()> job);
    // Runs what was started and waits for it; Start may not be called any more.
    void WaitForDone();

private:
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
    bool m_stop = false;
    std::function<void()> m_atThreadEnd;
    std::vector<std::unique_ptr<QThread>> m_threads;
};
