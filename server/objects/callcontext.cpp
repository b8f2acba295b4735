#include "callcontext.h"

namespace {

thread_local Caller t_caller;

} // namespace

namespace CallerContext {

void Set(const Caller &caller) {
    t_caller = caller;
}

const Caller &Current() {
    return t_caller;
}

} // namespace CallerContext
