#pragma once

// A thread that sits waiting on another program (SQLite's write lock held by an import, say)
// does no work of its own: whoever runs the thread may run another one meanwhile. The runner
// installs a hook on each of its threads; the code that waits marks the wait with a Section.
// Threads without a hook wait as they always did.
namespace BlockingWait {

class Hook {
public:
    virtual void Begin() = 0;
    virtual void End() = 0;

protected:
    ~Hook() = default;
};

// The calling thread's hook; null removes it.
void SetThreadHook(Hook *hook);

// Marks the calling thread as waiting until End (or destruction); Begin and End in pairs, a
// second Begin without End does nothing.
class Section final {
public:
    Section() = default;
    ~Section() { End(); }
    Section(const Section &) = delete;
    Section &operator=(const Section &) = delete;

    void Begin();
    void End();
    bool Active() const { return m_hook != nullptr; }

private:
    Hook *m_hook = nullptr;
};

} // namespace BlockingWait
