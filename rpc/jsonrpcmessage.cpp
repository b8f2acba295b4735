#include "jsonrpcmessage.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

using namespace Qt::StringLiterals;

namespace JsonRpc {

namespace {

QByteArray Compact(const QJsonObject &o) {
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

bool ValidId(const QJsonValue &id) {
    // Fractional ids are discouraged by JSON-RPC; strings, integers and null are accepted.
    return id.isString() || id.isNull() ||
           (id.isDouble() && id.toDouble() == double(id.toInteger()));
}

bool SetError(Error *error, int code, QString message) {
    if (error)
        *error = Error{code, std::move(message)};
    return false;
}

bool SetText(QString *error, QString message) {
    if (error)
        *error = std::move(message);
    return false;
}

// What one pass over a request's bytes finds before it is parsed.
struct Shape {
    // What Qt's reader takes although JSON does not: "\\x41" or "\\q" as the bare letter, a raw
    // control character inside a string, a number such as "1." or ".5". The first such fault.
    const char *LexicalFault = nullptr;
    qsizetype Containers = 0; // objects and arrays
    qsizetype Separators = 0; // commas outside strings: about the number of values
};

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// Whether text[begin, end) is a JSON number: -?(0|[1-9][0-9]*)(.[0-9]+)?([eE][+-]?[0-9]+)?
bool IsJsonNumber(const QByteArray &text, qsizetype begin, qsizetype end) {
    qsizetype i = begin;
    const auto digits = [&] {
        const qsizetype from = i;
        while (i < end && isDigit(text.at(i)))
            ++i;
        return i > from;
    };
    if (i < end && text.at(i) == '-')
        ++i;
    if (i < end && text.at(i) == '0')
        ++i;
    else if (!digits())
        return false;
    if (i < end && text.at(i) == '.') {
        ++i;
        if (!digits())
            return false;
    }
    if (i < end && (text.at(i) == 'e' || text.at(i) == 'E')) {
        ++i;
        if (i < end && (text.at(i) == '+' || text.at(i) == '-'))
            ++i;
        if (!digits())
            return false;
    }
    return i == end;
}

bool isNumberChar(char c) {
    return isDigit(c) || c == '-' || c == '+' || c == '.' || c == 'e' || c == 'E';
}

// One pass, tracking whether it is inside a string. A parsed tree costs many times the text's
// size when the text is all structure ("[[],[],...]", "[1,1,...]"), so the counts let such a
// request be refused before it is parsed.
Shape ScanRequest(const QByteArray &text) {
    Shape shape;
    bool inString = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char c = text.at(i);
        if (!inString) {
            if (c == '"') {
                inString = true;
            } else if (c == '{' || c == '[') {
                ++shape.Containers;
            } else if (c == ',') {
                ++shape.Separators;
            } else if (isDigit(c) || c == '-' || c == '.') {
                // The whole number at once: each byte is still looked at once.
                qsizetype end = i + 1;
                while (end < text.size() && isNumberChar(text.at(end)))
                    ++end;
                if (!IsJsonNumber(text, i, end)) {
                    shape.LexicalFault = "número inválido";
                    return shape;
                }
                i = end - 1;
            }
            continue;
        }
        if (c == '"') {
            inString = false;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            shape.LexicalFault = "caractere de controle dentro de um texto (use \\uXXXX)";
            return shape;
        } else if (c == '\\') {
            if (++i >= text.size()) {
                shape.LexicalFault = "sequência de escape inválida";
                return shape;
            }
            switch (text.at(i)) {
            case '"':
            case '\\':
            case '/':
            case 'b':
            case 'f':
            case 'n':
            case 'r':
            case 't':
            case 'u':
                break;
            default:
                shape.LexicalFault = "sequência de escape inválida";
                return shape;
            }
        }
    }
    return shape;
}

// A text Qt refuses only because it is a single value, not an object or an array.
bool IsLoneJsonValue(const QByteArray &text) {
    QJsonParseError parse;
    const QJsonDocument wrapped = QJsonDocument::fromJson('[' + text + ']', &parse);
    return parse.error == QJsonParseError::NoError && wrapped.array().size() == 1;
}

} // namespace

QByteArray EncodeRequest(qint64 id, const QString &method, const QJsonArray &params) {
    return Compact(
        {{u"jsonrpc"_s, u"2.0"_s}, {u"id"_s, id}, {u"method"_s, method}, {u"params"_s, params}});
}

QByteArray EncodeResult(const QJsonValue &id, const QJsonValue &result) {
    return Compact({{u"jsonrpc"_s, u"2.0"_s}, {u"id"_s, id}, {u"result"_s, result}});
}

QByteArray EncodeResultBytes(const QJsonValue &id, const QByteArray &resultJson) {
    return EncodeResultParts(id, {resultJson});
}

QByteArray EncodeResultParts(const QJsonValue &id, std::initializer_list<QByteArrayView> result) {
    // A lone value is not a JSON document: wrap it, and take it back out.
    const QByteArray wrapped = QJsonDocument(QJsonArray{id}).toJson(QJsonDocument::Compact);
    qsizetype size = wrapped.size() + 32;
    for (const QByteArrayView part : result)
        size += part.size();
    QByteArray out;
    out.reserve(size);
    out += "{\"id\":";
    out += QByteArrayView(wrapped).sliced(1, wrapped.size() - 2);
    out += ",\"jsonrpc\":\"2.0\",\"result\":";
    for (const QByteArrayView part : result)
        out += part;
    out += '}';
    return out;
}

QByteArray EncodeError(const QJsonValue &id, int code, const QString &message) {
    return Compact({{u"jsonrpc"_s, u"2.0"_s},
                    {u"id"_s, id.isUndefined() ? QJsonValue() : id},
                    {u"error"_s, QJsonObject{{u"code"_s, code}, {u"message"_s, message}}}});
}

bool DecodeRequest(const QByteArray &text, Request &out, Error *error, QJsonValue *id) {
    if (id)
        *id = QJsonValue();
    const Shape shape = ScanRequest(text);
    if (shape.Containers > MaxRequestContainers || shape.Separators > MaxRequestValues) {
        SetError(error, InvalidRequest,
                 u"Requisição com estrutura grande demais: no máximo %1 objetos e listas e "
                 "%2 valores."_s.arg(MaxRequestContainers)
                     .arg(MaxRequestValues));
        if (error)
            error->Unparsed = true;
        return false;
    }
    // Before Qt's reader: it would take "1." for a lone value, which is no JSON at all.
    if (shape.LexicalFault)
        return SetError(error, ParseError,
                        u"JSON inválido: %1"_s.arg(QString::fromUtf8(shape.LexicalFault)));
    QJsonParseError parse;
    const QJsonDocument doc = QJsonDocument::fromJson(text, &parse);
    if (parse.error != QJsonParseError::NoError) {
        if (IsLoneJsonValue(text))
            return SetError(error, InvalidRequest,
                            u"A requisição deve ser um único objeto JSON."_s);
        return SetError(error, ParseError, u"JSON inválido: %1"_s.arg(parse.errorString()));
    }
    if (!doc.isObject())
        return SetError(error, InvalidRequest, u"A requisição deve ser um único objeto JSON."_s);

    const QJsonObject o = doc.object();
    const QJsonValue rawId = o.value(u"id"_s);
    if (!rawId.isUndefined() && !ValidId(rawId))
        return SetError(error, InvalidRequest, u"O campo \"id\" é inválido."_s);
    if (id && !rawId.isUndefined())
        *id = rawId;
    if (o.value(u"jsonrpc"_s) != QJsonValue(u"2.0"_s))
        return SetError(error, InvalidRequest, u"O campo \"jsonrpc\" deve ser \"2.0\"."_s);
    const QJsonValue method = o.value(u"method"_s);
    if (!method.isString() || method.toString().isEmpty())
        return SetError(error, InvalidRequest, u"O campo \"method\" está ausente ou vazio."_s);
    const QJsonValue params = o.value(u"params"_s);
    if (!params.isUndefined() && !params.isArray())
        return SetError(error, InvalidRequest,
                        u"O campo \"params\" deve ser uma lista de argumentos posicionais."_s);

    out.Id = rawId;
    out.Method = method.toString();
    out.Params = params.toArray();
    return true;
}

bool DecodeResponse(const QByteArray &text, Response &out, QString *error) {
    TJsonNode reply;
    QString why;
    if (!TJsonNode::Parse(text, reply, &why))
        return SetText(error, u"resposta que não é JSON (%1)"_s.arg(why));
    ParsedResponse parsed;
    if (!DecodeResponse(reply, parsed, error))
        return false;
    out.Id = std::move(parsed.Id);
    out.Result = parsed.Result.ToJsonValue();
    out.Failure = std::move(parsed.Failure);
    return true;
}

bool DecodeResponse(const TJsonNode &reply, ParsedResponse &out, QString *error) {
    if (!reply.IsObject())
        return SetText(error, u"resposta que não é um objeto JSON"_s);
    const TJsonNode version = reply.Value("jsonrpc"_L1);
    if (!version.IsString() || version.ToString() != u"2.0"_s)
        return SetText(error, u"resposta sem \"jsonrpc\": \"2.0\""_s);
    const TJsonNode id = reply.Value("id"_L1);
    const bool integral = id.IsNumber() && id.ToDouble() == double(id.ToInteger());
    if (!id.IsString() && !id.IsNull() && !integral)
        return SetText(error, u"resposta sem identificador válido"_s);

    const TJsonNode result = reply.Value("result"_L1);
    const TJsonNode failure = reply.Value("error"_L1);
    if (result.Exists() == failure.Exists())
        return SetText(error, u"resposta deve ter \"result\" ou \"error\", e só um deles"_s);

    ParsedResponse r;
    r.Id = id.ToJsonValue();
    if (failure.Exists()) {
        const TJsonNode code = failure.Value("code"_L1);
        const TJsonNode message = failure.Value("message"_L1);
        const qint64 number = code.ToInteger(qint64(INT_MIN) - 1);
        if (!failure.IsObject() || !code.IsNumber() || number < INT_MIN || number > INT_MAX ||
            !message.IsString())
            return SetText(error, u"erro de protocolo malformado na resposta"_s);
        r.Failure = Error{int(number), message.ToString()};
    } else {
        r.Result = result;
    }
    out = std::move(r);
    return true;
}

} // namespace JsonRpc
