#pragma once

#include <QByteArray>
#include <QString>

#include <exception>

// Failures travel as exceptions up to the handler guard at the event boundary; each carries the
// Portuguese text meant for the user.
class Exception : public std::exception {
public:
    explicit Exception(QString message);
    const QString &Message() const noexcept { return m_message; }
    const char *what() const noexcept override { return m_utf8.constData(); }

private:
    QString m_message;
    QByteArray m_utf8;
};

// Silent abort: abandons the running handler and shows nothing (the user declined, or a
// before-event refused the operation).
class EAbort final : public Exception {
public:
    EAbort();
};

// Misuse of a table or a field (wrong state, unknown field, value of the wrong kind).
class EDatabaseError final : public Exception {
public:
    using Exception::Exception;
};

// Text that is not a valid value (a date that does not exist, a number that is not one).
class EConvertError final : public Exception {
public:
    using Exception::Exception;
};

[[noreturn]] void Abort();
