#pragma once

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
    QJsonValue Payload;   // null when the method returns nothing
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
    // The payload as a value, parsing the raw payload if that is how it was given.
    QJsonValue PayloadValue() const;
    // Strict: false (and *error set) when the object is not an envelope.
    static bool FromJson(const QJsonValue &json, TResultEnvelope &out, QString *error);
};
