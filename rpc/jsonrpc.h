#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>

// JSON-RPC 2.0 faults of the protocol itself (standard codes). Method failures travel inside the
// result envelope instead.
namespace JsonRpc {

constexpr int ParseError = -32700;
constexpr int InvalidRequest = -32600;
constexpr int MethodNotFound = -32601;
constexpr int InvalidParams = -32602;
constexpr int InternalError = -32603;
// Server-defined: the connection already has as many calls under way as it may have.
constexpr int TooManyCalls = -32001;

struct Error {
    int Code = 0;
    QString Message;
    // Refused before it was parsed (too much structure): the id was not read, and whoever can
    // find it by a cheaper pass may still answer with it.
    bool Unparsed = false;
};

} // namespace JsonRpc
