#include "blockingwait.h"

namespace {

thread_local BlockingWait::Hook *t_hook = nullptr;

} // namespace

namespace BlockingWait {

void SetThreadHook(Hook *hook) {
    t_hook = hook;
}

void Section::Begin() {
    if (m_hook || !t_hook)
        return;
    m_hook = t_hook;
    m_hook->Begin();
}

void Section::End() {
    if (!m_hook)
        return;
    Hook *hook = m_hook;
    m_hook = nullptr;
    hook->End();
}

} // namespace BlockingWait
