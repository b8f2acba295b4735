#pragma once

#include "dataset/exceptions.h"

// A broken rule of a screen: the guard shows its text in an error box and the handler ends.
// Raised by MensErro.
// Details, when given, are shown apart from the text (behind the box's "Show Details...").
class EUserError final : public Exception {
public:
    explicit EUserError(QString message, QString details = {})
        : Exception(std::move(message))
        , m_details(std::move(details)) {}
    const QString &Details() const noexcept { return m_details; }

private:
    QString m_details;
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
