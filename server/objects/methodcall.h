#pragma once

#include "remoteobject.h"

#include <QVector>

#include <functional>

// What every remote method shares: the check of its positional arguments (a protocol fault when
// they do not fit) and the turning of a CallFailure into a failure envelope.
namespace MethodCall {

enum class Arg { Text, Object };

// nullopt when `params` has exactly the expected count and JSON kinds.
std::optional<JsonRpc::Error> CheckParams(const QString &method, const QJsonArray &params,
                                          const QVector<Arg> &expected);

// Whether a client's text holds a control character (the set of ControlChars). None of them
// belongs in a code, a name or a date, and PostgreSQL refuses a NUL in a statement's parameter
// with an error of its own: a text is refused for it before it reaches the database, alike on
// both.
bool HasControlCharacter(QStringView text);

// Runs `body`; a CallFailure becomes a failure envelope, anything else an "internal" one.
TResultEnvelope Guard(const std::function<TResultEnvelope()> &body);

} // namespace MethodCall
