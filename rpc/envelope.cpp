#include "envelope.h"

#include <QJsonDocument>

using namespace Qt::StringLiterals;

TResultEnvelope TResultEnvelope::Success(QJsonValue payload, QJsonArray byRef) {
    TResultEnvelope e;
    e.Ok = true;
    e.Payload = payload.isUndefined() ? QJsonValue() : std::move(payload);
    e.ByRef = std::move(byRef);
    return e;
}

TResultEnvelope TResultEnvelope::SuccessRaw(QByteArray payloadJson, QJsonArray byRef) {
    TResultEnvelope e;
    e.Ok = true;
    e.RawPayload = std::move(payloadJson);
    e.ByRef = std::move(byRef);
    return e;
}

QByteArray TResultEnvelope::ToJsonBytes() const {
    if (!Ok || RawPayload.isEmpty())
        return QJsonDocument(ToJson()).toJson(QJsonDocument::Compact);
    QByteArray out;
    out.reserve(RawPayload.size() + 64);
    out += "{\"byRef\":";
    out += QJsonDocument(ByRef).toJson(QJsonDocument::Compact);
    out += ",\"ok\":true,\"payload\":";
    out += RawPayload;
    out += '}';
    return out;
}

QJsonValue TResultEnvelope::PayloadValue() const {
    if (RawPayload.isEmpty())
        return Payload;
    const QJsonDocument doc = QJsonDocument::fromJson(RawPayload);
    return doc.isArray() ? QJsonValue(doc.array()) : QJsonValue(doc.object());
}

TResultEnvelope TResultEnvelope::Failure(QString code, QString message) {
    TResultEnvelope e;
    e.Ok = false;
    e.ErrorCode = std::move(code);
    e.ErrorMessage = std::move(message);
    return e;
}

QJsonObject TResultEnvelope::ToJson() const {
    if (Ok) {
        return QJsonObject{{u"ok"_s, true},
                           {u"payload"_s, Payload.isUndefined() ? QJsonValue() : Payload},
                           {u"byRef"_s, ByRef}};
    }
    return QJsonObject{
        {u"ok"_s, false},
        {u"error"_s, QJsonObject{{u"code"_s, ErrorCode}, {u"message"_s, ErrorMessage}}}};
}

namespace {

bool Fail(QString *error, const QString &why) {
    if (error)
        *error = why;
    return false;
}

} // namespace

bool TResultEnvelope::FromJson(const QJsonValue &json, TResultEnvelope &out, QString *error) {
    // Both ends are ours: anything unexpected means a broken peer, so it is refused rather than
    // guessed at.
    if (!json.isObject())
        return Fail(error, u"o resultado não é um objeto"_s);
    const QJsonObject o = json.toObject();
    const QJsonValue ok = o.value(u"ok"_s);
    if (!ok.isBool())
        return Fail(error, u"o campo \"ok\" do resultado está ausente ou não é lógico"_s);

    TResultEnvelope e;
    if (ok.toBool()) {
        for (auto it = o.begin(); it != o.end(); ++it) {
            if (it.key() != u"ok"_s && it.key() != u"payload"_s && it.key() != u"byRef"_s)
                return Fail(error, u"campo inesperado \"%1\" no resultado"_s.arg(it.key()));
        }
        const QJsonValue byRef = o.value(u"byRef"_s);
        if (!byRef.isUndefined() && !byRef.isArray())
            return Fail(error, u"o campo \"byRef\" do resultado não é uma lista"_s);
        e.Ok = true;
        e.Payload = o.contains(u"payload"_s) ? o.value(u"payload"_s) : QJsonValue();
        e.ByRef = byRef.toArray();
    } else {
        for (auto it = o.begin(); it != o.end(); ++it) {
            if (it.key() != u"ok"_s && it.key() != u"error"_s)
                return Fail(error, u"campo inesperado \"%1\" no resultado"_s.arg(it.key()));
        }
        const QJsonValue err = o.value(u"error"_s);
        if (!err.isObject())
            return Fail(error, u"resultado de falha sem o objeto \"error\""_s);
        const QJsonObject eo = err.toObject();
        const QJsonValue code = eo.value(u"code"_s);
        const QJsonValue message = eo.value(u"message"_s);
        if (!code.isString() || code.toString().isEmpty())
            return Fail(error, u"resultado de falha sem código"_s);
        if (!message.isString())
            return Fail(error, u"resultado de falha sem mensagem"_s);
        e.Ok = false;
        e.ErrorCode = code.toString();
        e.ErrorMessage = message.toString();
    }
    out = std::move(e);
    return true;
}
