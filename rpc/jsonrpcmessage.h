#pragma once

#include "jsonnode.h"
#include "jsonrpc.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonValue>
#include <QString>

#include <initializer_list>
#include <optional>

// Building and reading the single JSON-RPC 2.0 message carried by one WebSocket text frame.
namespace JsonRpc {

// A request may hold at most this many JSON objects and arrays, and about this many values; the
// largest the screens send is a small fraction of either.
constexpr qsizetype MaxRequestContainers = 65536;
constexpr qsizetype MaxRequestValues = 200000;

struct Request {
    QJsonValue Id; // undefined for a notification (no answer is sent)
    QString Method;
    QJsonArray Params; // positional only
    bool IsNotification() const { return Id.isUndefined(); }
};

struct Response {
    QJsonValue Id;                // null when the peer could not read our id
    QJsonValue Result;            // meaningful when Error is empty
    std::optional<Error> Failure; // a fault of the protocol itself
};

// The same, as the client reads it: the reply parsed once, the result left in the parse.
struct ParsedResponse {
    QJsonValue Id;
    TJsonNode Result;
    std::optional<Error> Failure;
};

QByteArray EncodeRequest(qint64 id, const QString &method, const QJsonArray &params);
QByteArray EncodeResult(const QJsonValue &id, const QJsonValue &result);
// The same, for a result already written as JSON text (spliced in as it is).
QByteArray EncodeResultBytes(const QJsonValue &id, const QByteArray &resultJson);
// The same, for a result written as parts that follow one another: a large result is copied
// once, into the reply, instead of being joined first.
QByteArray EncodeResultParts(const QJsonValue &id, std::initializer_list<QByteArrayView> result);
QByteArray EncodeError(const QJsonValue &id, int code, const QString &message);

// Server side. On failure *error holds the standard code and a message; *id holds the request's
// id when it could be read, so the answer can still be matched by the client.
bool DecodeRequest(const QByteArray &text, Request &out, Error *error, QJsonValue *id);

// Client side. Anything that is not a well-formed response is refused with *error set.
bool DecodeResponse(const QByteArray &text, Response &out, QString *error);
bool DecodeResponse(const TJsonNode &reply, ParsedResponse &out, QString *error);

} // namespace JsonRpc
