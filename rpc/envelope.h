#pragma once

#include "lazyjsonvalue.h"
#include "packet.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>

// The result of every remote method, success or failure. Server failures are values carried in
// here; no exception crosses the wire.
//   {"ok": true,  "payload": ..., "byRef": [...]}
//   {"ok": false, "error": {"code": "...", "message": "..."}}
struct TResultEnvelope {
    bool Ok = true;
    // Null when the method returns nothing. A received payload stays in the reply's parse until
    // it is read as a value; table packets are read from there (Payload.Node()).
    TLazyJsonValue Payload;
    QJsonArray ByRef;     // new values of the by-reference arguments, in order
    QString ErrorCode;    // e.g. "conflict", "invalid_argument", "not_found", "internal"
    QString ErrorMessage; // Portuguese, meant for the user
    // The payload as JSON text already written (a large table straight from its query); when
    // set, it is what goes on the wire and Payload stays null.
    QByteArray RawPayload;

    static TResultEnvelope Success(QJsonValue payload = {}, QJsonArray byRef = {});
    static TResultEnvelope SuccessRaw(QByteArray payloadJson, QJsonArray byRef = {});
    static TResultEnvelope Failure(QString code, QString message);

    QJsonObject ToJson() const;
    // The envelope as compact JSON text, the raw payload spliced in without a parse.
    QByteArray ToJsonBytes() const;
    // The same text in three parts to be written one after another: all before the payload, the
    // payload as it was given, and the rest. A large payload need not be copied to be framed.
    struct JsonText {
        QByteArray Head;
        QByteArrayView Payload; // valid while the envelope lives
        QByteArrayView Tail;
    };
    JsonText ToJsonParts() const;
    // The payload as a value, parsing the raw payload if that is how it was given.
    QJsonValue PayloadValue() const;
    // The payload, or its element `index` when it is a list, as a table packet: read straight
    // from the reply into rows when it came in one. Packet::FromJson's rules and messages; an
    // element that is not there is no packet either.
    bool PayloadPacket(TTablePacket &out, QString *error, int index = -1) const;

    // Strict: false (and *error set) when the object is not an envelope.
    static bool FromJson(const QJsonValue &json, TResultEnvelope &out, QString *error);
    // The same checks on a parsed reply; the payload is kept as it was parsed.
    static bool FromJson(const TJsonNode &json, TResultEnvelope &out, QString *error);
};
