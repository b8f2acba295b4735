#include "workerpool.h"

#include <chrono>
#include <thread>

namespace {

// Longer than a client takes to read one answer and send its next question: on a machine whose
// idle cores sleep deeply, waking a thread costs about as much as the whole call.
constexpr auto SpinFor = std::chrono::microseconds(500);

} // namespace

WorkerPool::WorkerPool(int threads, std::function<void()> atThreadEnd)
    : m_size(threads)
    , m_atThreadEnd(std::move(atThreadEnd)) {
    std::lock_guard guard(m_lock);
    for (int i = 0; i < threads; ++i)
        Spawn();
}

void WorkerPool::Spawn() {
    // Stand-ins that left are finished: their slots are taken again.
    std::erase_if(m_threads, [](const std::unique_ptr<QThread> &t) { return t->isFinished(); });
    ++m_live;
    m_threads.emplace_back(QThread::create([this] {
        BlockingWait::SetThreadHook(this);
        Run();
        BlockingWait::SetThreadHook(nullptr);
        if (m_atThreadEnd)
            m_atThreadEnd();
    }));
    m_threads.back()->start();
}

void WorkerPool::Begin() {
    std::lock_guard guard(m_lock);
    ++m_blocked;
    if (!m_stop && m_live - m_blocked < m_size && m_live < m_size + MaxStandIns)
        Spawn();
}

void WorkerPool::End() {
    {
        std::lock_guard guard(m_lock);
        --m_blocked;
    }
    // An idle stand-in is now one too many.
    m_wake.notify_all();
}

WorkerPool::~WorkerPool() {
    WaitForDone();
}

void WorkerPool::Start(std::function<void()> job) {
    bool wake = false;
    {
        std::lock_guard guard(m_lock);
        if (m_stop)
            return;
        m_jobs.push_back(std::move(job));
        m_queued.fetch_add(1);
        // A thread that is looking will take it; otherwise one is woken.
        wake = !m_spinning;
    }
    if (wake)
        m_wake.notify_one();
}

void WorkerPool::WaitForDone() {
    {
        std::unique_lock guard(m_lock);
        if (m_stop && m_threads.empty())
            return;
        m_idle.wait(guard, [this] { return m_jobs.empty() && m_running == 0; });
        m_stop = true;
    }
    m_wake.notify_all();
    for (const auto &thread : m_threads)
        thread->wait();
    m_threads.clear();
}

void WorkerPool::TakeFront(std::function<void()> &job) {
    job = std::move(m_jobs.front());
    m_jobs.pop_front();
    m_queued.fetch_sub(1);
    ++m_running;
}

bool WorkerPool::TakeSpinning(std::function<void()> &job) {
    {
        std::lock_guard guard(m_lock);
        if (m_spinning)
            return false;
        m_spinning = true;
    }
    const auto until = std::chrono::steady_clock::now() + SpinFor;
    for (;;) {
        const bool late = std::chrono::steady_clock::now() >= until;
        if (late || m_queued.load(std::memory_order_relaxed) > 0) {
            std::lock_guard guard(m_lock);
            // The flag falls under the lock, so a call started from here on wakes a thread.
            if (!m_jobs.empty()) {
                TakeFront(job);
                m_spinning = false;
                // Calls started while this thread looked woke nobody: pass one on.
                if (!m_jobs.empty())
                    m_wake.notify_one();
                return true;
            }
            if (late) {
                m_spinning = false;
                return false;
            }
        }
        // Whatever else wants this core (the I/O thread, the database) goes first.
        std::this_thread::yield();
    }
}

void WorkerPool::Run() {
    std::function<void()> job;
    bool look = false;
    for (;;) {
        if (!look || !TakeSpinning(job)) {
            std::unique_lock guard(m_lock);
            m_wake.wait(guard, [this] { return m_stop || !m_jobs.empty() || Surplus(); });
            if (m_jobs.empty()) {
                --m_live;
                return; // stopping with nothing left, or a stand-in no longer needed
            }
            TakeFront(job);
        }
        job();
        job = nullptr;
        std::lock_guard guard(m_lock);
        --m_running;
        // Only the last thread to finish looks: while others still run, calls are coming in
        // anyway, and a core spent looking would be taken from them (or from the database).
        look = m_running == 0;
        if (m_jobs.empty() && m_running == 0)
            m_idle.notify_all();
        if (Surplus()) {
            --m_live;
            return;
        }
    }
}
