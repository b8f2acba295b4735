#pragma once

#include "dataset/exceptions.h"

// A broken rule of a screen: the guard shows its text in an error box and the handler ends.
// Raised by MensErro.
class EUserError final : public Exception {
public:
    using Exception::Exception;
};

// A failure the application server reported in a result envelope (CheckResultServ). Shown like a
// user error; the code is kept for callers that want to tell failures apart.
class EServerError final : public Exception {
public:
    EServerError(QString message, QString code);
    const QString &Code() const noexcept { return m_code; }

private:
    QString m_code;
};
