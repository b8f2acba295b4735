#include "envelope.h"

#include <QJsonDocument>

using namespace Qt::StringLiterals;

TResultEnvelope TResultEnvelope::Success(QJsonValue payload, QJsonArray byRef) {
    TResultEnvelope e;
    e.Ok = true;
    if (!payload.isUndefined())
        e.Payload = std::move(payload);
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
    const JsonText parts = ToJsonParts();
    if (parts.Payload.isEmpty())
        return parts.Head;
    QByteArray out;
    out.reserve(parts.Head.size() + parts.Payload.size() + parts.Tail.size());
    out += parts.Head;
    out += parts.Payload;
    out += parts.Tail;
    return out;
}

TResultEnvelope::JsonText TResultEnvelope::ToJsonParts() const {
    if (!Ok || RawPayload.isEmpty())
        return {QJsonDocument(ToJson()).toJson(QJsonDocument::Compact), {}, {}};
    JsonText parts;
    parts.Head = "{\"byRef\":";
    parts.Head += QJsonDocument(ByRef).toJson(QJsonDocument::Compact);
    parts.Head += ",\"ok\":true,\"payload\":";
    parts.Payload = RawPayload;
    parts.Tail = "}";
    return parts;
}

QJsonValue TResultEnvelope::PayloadValue() const {
    if (RawPayload.isEmpty())
        return Payload;
    const QJsonDocument doc = QJsonDocument::fromJson(RawPayload);
    return doc.isArray() ? QJsonValue(doc.array()) : QJsonValue(doc.object());
}

bool TResultEnvelope::PayloadPacket(TTablePacket &out, QString *error, int index) const {
    const TJsonNode &parsed = Payload.Node();
    if (parsed.Exists())
        return Packet::FromJson(index < 0 ? parsed : parsed.At(index), out, error);
    const QJsonValue tree = PayloadValue();
    return Packet::FromJson(index < 0 ? tree : tree.toArray().at(index), out, error);
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
                           {u"payload"_s, Payload.isUndefined() ? QJsonValue() : Payload.Value()},
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
    // One set of rules: the tree is read as the text it stands for (inside a list, so that any
    // value makes a document).
    TJsonNode parsed;
    QString why;
    if (!TJsonNode::Parse(QJsonDocument(QJsonArray{json}).toJson(QJsonDocument::Compact), parsed,
                          &why))
        return Fail(error, why);
    return FromJson(parsed.At(0), out, error);
}

bool TResultEnvelope::FromJson(const TJsonNode &json, TResultEnvelope &out, QString *error) {
    // Both ends are ours: anything unexpected means a broken peer, so it is refused rather than
    // guessed at.
    if (!json.IsObject())
        return Fail(error, u"o resultado não é um objeto"_s);
    const TJsonNode ok = json.Value("ok"_L1);
    if (!ok.IsBool())
        return Fail(error, u"o campo \"ok\" do resultado está ausente ou não é lógico"_s);

    const QStringList keys = json.Keys();
    TResultEnvelope e;
    if (ok.ToBool()) {
        for (const QString &key : keys) {
            if (key != u"ok"_s && key != u"payload"_s && key != u"byRef"_s)
                return Fail(error, u"campo inesperado \"%1\" no resultado"_s.arg(key));
        }
        const TJsonNode byRef = json.Value("byRef"_L1);
        if (byRef.Exists() && !byRef.IsArray())
            return Fail(error, u"o campo \"byRef\" do resultado não é uma lista"_s);
        e.Ok = true;
        const TJsonNode payload = json.Value("payload"_L1);
        if (payload.Exists())
            e.Payload = TLazyJsonValue(payload);
        if (byRef.Size() > 0)
            e.ByRef = byRef.ToJsonValue().toArray();
    } else {
        for (const QString &key : keys) {
            if (key != u"ok"_s && key != u"error"_s)
                return Fail(error, u"campo inesperado \"%1\" no resultado"_s.arg(key));
        }
        const TJsonNode err = json.Value("error"_L1);
        if (!err.IsObject())
            return Fail(error, u"resultado de falha sem o objeto \"error\""_s);
        const TJsonNode code = err.Value("code"_L1);
        const TJsonNode message = err.Value("message"_L1);
        if (!code.IsString() || code.ToString().isEmpty())
            return Fail(error, u"resultado de falha sem código"_s);
        if (!message.IsString())
            return Fail(error, u"resultado de falha sem mensagem"_s);
        e.Ok = false;
        e.ErrorCode = code.ToString();
        e.ErrorMessage = message.ToString();
    }
    out = std::move(e);
    return true;
}
