#pragma once

#include "roles.h"

#include <QString>

// Who is making the call the current thread runs: set by the transport around each call.
// Verified: the name belongs to the token the connection presented; otherwise the client stated
// it (or nobody did) and the history says so.
struct Caller {
    QString Operator;
    bool Verified = false;
    Role Access = Role::Contador;
    QString Address; // where the connection came from, for the log of refused calls
};

namespace CallerContext {
void Set(const Caller &caller);
const Caller &Current();
} // namespace CallerContext
