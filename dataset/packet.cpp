#include "packet.h"

#include "datetime.h"
#include "jsonnode.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QSet>

#include <array>
#include <cmath>

#include <simdjson.h>

using namespace Qt::StringLiterals;

namespace {

int fieldIndex(const TFieldDefs &fields, const QString &name) {
    for (int i = 0; i < fields.size(); ++i) {
        if (fields.at(i).Name.compare(name, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

QString invalid(const QString &detail) {
    return u"Pacote de dados inválido: %1."_s.arg(detail);
}

bool fail(QString *error, const QString &message) {
    if (error)
        *error = message;
    return false;
}

QString wrongKind(TFieldType type) {
    switch (type) {
    case TFieldType::String:
        return u"era esperado um texto"_s;
    case TFieldType::Date:
        return u"era esperada uma data (texto AAAA-MM-DD)"_s;
    case TFieldType::Integer:
        return u"era esperado um número inteiro"_s;
    case TFieldType::Float:
        return u"era esperado um número"_s;
    }
    return QString();
}

QString tooLong(const QString &text, int size) {
    return u"o texto '%1' tem %2 caracteres e o campo admite %3"_s.arg(text)
        .arg(text.size())
        .arg(size);
}

QString badDate(const QString &text) {
    return u"'%1' não é uma data válida"_s.arg(text);
}

QString notIntegral(double value) {
    return u"'%1' não é um número inteiro"_s.arg(value);
}

bool integralValue(double d) {
    return std::isfinite(d) && d == std::trunc(d) && std::fabs(d) < 9.2e18;
}

QString cellError(qsizetype row, const TFieldDef &def, const QString &detail) {
    return invalid(u"linha %1, campo '%2': %3"_s.arg(row + 1).arg(def.Name, detail));
}

QString rowLengthError(qsizetype row, qsizetype count, qsizetype expected) {
    return invalid(
        u"linha %1 tem %2 valores; eram esperados %3"_s.arg(row + 1).arg(count).arg(expected));
}

// Checks one JSON value against its field; on failure `detail` says what is wrong, without the
// field's name (the callers add where it was found).
bool decodeValue(const TFieldDef &def, const QJsonValue &json, QVariant &out, QString &detail) {
    if (json.isNull()) {
        out = QVariant();
        return true;
    }
    switch (def.DataType) {
    case TFieldType::String: {
        if (!json.isString())
            break;
        QString text = json.toString();
        if (text.size() > def.Size) {
            detail = tooLong(text, def.Size);
            return false;
        }
        out = QVariant(std::move(text));
        return true;
    }
    case TFieldType::Date: {
        if (!json.isString())
            break;
        const QString text = json.toString();
        const std::optional<TDateTime> value = DateTimeUtil::FromIso(text);
        if (!value) {
            detail = badDate(text);
            return false;
        }
        out = QVariant(*value);
        return true;
    }
    case TFieldType::Integer: {
        if (!json.isDouble())
            break;
        const double d = json.toDouble();
        if (!integralValue(d)) {
            detail = notIntegral(d);
            return false;
        }
        out = QVariant(json.toInteger(qint64(d)));
        return true;
    }
    case TFieldType::Float:
        if (!json.isDouble())
            break;
        out = QVariant(json.toDouble());
        return true;
    }
    detail = wrongKind(def.DataType);
    return false;
}

bool decodeFields(const QJsonValue &list, TFieldDefs &fields, QString *error) {
    if (!list.isArray())
        return fail(error, invalid(u"a lista de campos ('fields') está ausente"_s));
    const QJsonArray array = list.toArray();
    fields.reserve(array.size());
    // Names compare without case; a set keeps the check for repeats linear in the field count.
    QSet<QString> seen;
    seen.reserve(array.size());
    for (qsizetype i = 0; i < array.size(); ++i) {
        const QJsonValue item = array.at(i);
        if (!item.isObject())
            return fail(error, invalid(u"a definição do campo %1 não é um objeto"_s.arg(i + 1)));
        const QJsonObject def = item.toObject();
        const QJsonValue name = def.value(QLatin1StringView("name"));
        if (!name.isString() || name.toString().isEmpty())
            return fail(error, invalid(u"o campo %1 não tem nome"_s.arg(i + 1)));
        TFieldDef field;
        field.Name = name.toString();
        const QString folded = field.Name.toCaseFolded();
        if (seen.contains(folded))
            return fail(error, invalid(u"o campo '%1' está repetido"_s.arg(field.Name.left(64))));
        seen.insert(folded);
        const QString type = def.value(QLatin1StringView("type")).toString();
        if (type == "string"_L1) {
            field.DataType = TFieldType::String;
        } else if (type == "date"_L1) {
            field.DataType = TFieldType::Date;
        } else if (type == "integer"_L1) {
            field.DataType = TFieldType::Integer;
        } else if (type == "float"_L1) {
            field.DataType = TFieldType::Float;
        } else {
            return fail(error, invalid(u"o campo '%1' tem o tipo desconhecido '%2'"_s.arg(
                                   field.Name, type)));
        }
        if (field.DataType == TFieldType::String) {
            const QJsonValue size = def.value(QLatin1StringView("size"));
            const double d = size.toDouble(0);
            if (!size.isDouble() || d != std::trunc(d) || d < 1 || d > 1'000'000) {
                return fail(error,
                            invalid(u"o campo de texto '%1' não tem um tamanho positivo"_s.arg(
                                field.Name)));
            }
            field.Size = int(d);
        }
        const QJsonValue required = def.value(QLatin1StringView("required"));
        if (!required.isUndefined()) {
            if (!required.isBool()) {
                return fail(error, invalid(u"o campo '%1' tem 'required' que não é verdadeiro "
                                           u"nem falso"_s.arg(field.Name)));
            }
            field.Required = required.toBool();
        }
        fields.append(std::move(field));
    }
    return true;
}

// `where` names the row for messages, e.g. "linha 3" or "alteração 2 ('original')".
bool decodeRow(const TFieldDefs &fields, const QJsonValue &json, const QString &where,
               TRowValues &row, QString *error) {
    if (!json.isArray())
        return fail(error, invalid(u"%1 não é uma lista de valores"_s.arg(where)));
    const QJsonArray values = json.toArray();
    if (values.size() != fields.size()) {
        return fail(error, invalid(u"%1 tem %2 valores; eram esperados %3"_s.arg(where)
                                       .arg(values.size())
                                       .arg(fields.size())));
    }
    row.resize(fields.size());
    QString detail;
    for (qsizetype i = 0; i < fields.size(); ++i) {
        if (!decodeValue(fields.at(i), values.at(i), row[i], detail)) {
            return fail(error,
                        invalid(u"%1, campo '%2': %3"_s.arg(where, fields.at(i).Name, detail)));
        }
    }
    return true;
}

QJsonArray fieldsToJsonImpl(const TFieldDefs &fields) {
    QJsonArray array;
    for (const TFieldDef &def : fields) {
        QJsonObject object{{u"name"_s, def.Name}, {u"type"_s, Packet::TypeName(def.DataType)}};
        if (def.DataType == TFieldType::String)
            object.insert(u"size"_s, def.Size);
        if (def.Required)
            object.insert(u"required"_s, true);
        array.append(object);
    }
    return array;
}

QJsonArray rowToJson(const TFieldDefs &fields, const TRowValues &row) {
    QJsonArray array;
    for (qsizetype i = 0; i < fields.size(); ++i)
        array.append(Packet::ValueToJson(fields.at(i), i < row.size() ? row.at(i) : QVariant()));
    return array;
}

// Flags are one-letter texts: sharing one string per letter spares an allocation per cell.
QString singleAscii(uchar c) {
    static const std::array<QString, 128> letters = [] {
        std::array<QString, 128> all;
        for (int i = 0; i < 128; ++i)
            all[size_t(i)] = QString(QChar(i));
        return all;
    }();
    return c < 128 ? letters[c] : QString::fromUtf8(reinterpret_cast<const char *>(&c), 1);
}

bool isAscii(std::string_view text) {
    for (const char c : text) {
        if (uchar(c) >= 0x80)
            return false;
    }
    return true;
}

QString textOf(std::string_view text, bool ascii) {
    if (text.size() == 1 && ascii)
        return singleAscii(uchar(text.front()));
    if (ascii)
        return QString::fromLatin1(text.data(), qsizetype(text.size()));
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

// One cell straight from the parse, with the rules and messages of decodeValue.
bool decodeElement(const TFieldDef &def, simdjson::dom::element json, QVariant &out,
                   QString &detail) {
    using simdjson::dom::element_type;
    const element_type type = json.type();
    if (type == element_type::NULL_VALUE) {
        out = QVariant();
        return true;
    }
    switch (def.DataType) {
    case TFieldType::String: {
        if (type != element_type::STRING)
            break;
        const std::string_view utf8 = json.get_string().value_unsafe();
        const bool ascii = isAscii(utf8);
        // UTF-8 is never shorter than its UTF-16 count, so a short text needs no counting.
        if (qsizetype(utf8.size()) <= def.Size) {
            out = QVariant(textOf(utf8, ascii));
            return true;
        }
        QString text = textOf(utf8, ascii);
        if (text.size() > def.Size) {
            detail = tooLong(text, def.Size);
            return false;
        }
        out = QVariant(std::move(text));
        return true;
    }
    case TFieldType::Date: {
        if (type != element_type::STRING)
            break;
        const std::string_view text = json.get_string().value_unsafe();
        const bool ascii = isAscii(text);
        // An ISO date is ASCII: read in place, without making a QString of it first.
        const std::optional<TDateTime> value =
            ascii ? DateTimeUtil::FromIso(QLatin1StringView(text.data(), qsizetype(text.size())))
                  : std::nullopt;
        if (!value) {
            detail = badDate(textOf(text, ascii));
            return false;
        }
        out = QVariant(*value);
        return true;
    }
    case TFieldType::Integer:
        if (type == element_type::INT64) {
            // The tree decoder's range, so both take the same numbers.
            const qint64 i = json.get_int64().value_unsafe();
            if (!integralValue(double(i))) {
                detail = notIntegral(double(i));
                return false;
            }
            out = QVariant(i);
            return true;
        }
        if (type == element_type::UINT64 || type == element_type::DOUBLE) {
            const double d = json.get_double().value_unsafe();
            if (!integralValue(d)) {
                detail = notIntegral(d);
                return false;
            }
            out = QVariant(qint64(d));
            return true;
        }
        break;
    case TFieldType::Float:
        if (type == element_type::INT64 || type == element_type::UINT64 ||
            type == element_type::DOUBLE) {
            out = QVariant(json.get_double().value_unsafe());
            return true;
        }
        break;
    }
    detail = wrongKind(def.DataType);
    return false;
}

bool decodeNode(const TJsonNode &node, TTablePacket &out, QString *error) {
    namespace dom = simdjson::dom;
    if (!node.IsObject())
        return fail(error, invalid(u"o pacote não é um objeto"_s));
    const dom::object object(node.Element());
    dom::element rowsJson;
    bool haveFields = false;
    bool haveRows = false;
    for (const dom::key_value_pair member : object) {
        bool *seen = member.key == "fields" ? &haveFields
                     : member.key == "rows" ? &haveRows
                                            : nullptr;
        if (!seen)
            continue;
        if (*seen) {
            return fail(error, invalid(u"a chave '%1' está repetida"_s.arg(
                                   QLatin1StringView(member.key.data(), member.key.size()))));
        }
        *seen = true;
        if (seen == &haveRows)
            rowsJson = member.value;
    }
    TTablePacket packet;
    // The field list is small: read through the tree, so its rules and messages stay the tree
    // decoder's, word for word. Undefined when absent.
    if (!decodeFields(node.Value("fields"_L1).ToJsonValue(), packet.Fields, error))
        return false;
    if (!haveRows || rowsJson.type() != dom::element_type::ARRAY)
        return fail(error, invalid(u"a lista de linhas ('rows') está ausente"_s));
    const dom::array rows(rowsJson);
    const TFieldDefs &fields = packet.Fields;
    const qsizetype width = fields.size();
    packet.Rows.reserve(qsizetype(rows.size()));
    QString detail;
    qsizetype r = 0;
    for (const dom::element rowJson : rows) {
        if (rowJson.type() != dom::element_type::ARRAY)
            return fail(error, invalid(u"linha %1 não é uma lista de valores"_s.arg(r + 1)));
        const dom::array values(rowJson);
        const qsizetype count = qsizetype(values.size());
        if (count != width)
            return fail(error, rowLengthError(r, count, width));
        TRowValues &row = packet.Rows.emplace_back(width);
        QVariant *cells = row.data();
        qsizetype f = 0;
        for (const dom::element cell : values) {
            if (!decodeElement(fields.at(f), cell, cells[f], detail))
                return fail(error, cellError(r, fields.at(f), detail));
            ++f;
        }
        ++r;
    }
    out = std::move(packet);
    return true;
}

} // namespace

int TTablePacket::FieldIndex(const QString &name) const {
    return fieldIndex(Fields, name);
}

int TChangeLog::FieldIndex(const QString &name) const {
    return fieldIndex(Fields, name);
}

namespace Packet {

QString TypeName(TFieldType type) {
    switch (type) {
    case TFieldType::String:
        return u"string"_s;
    case TFieldType::Date:
        return u"date"_s;
    case TFieldType::Integer:
        return u"integer"_s;
    case TFieldType::Float:
        return u"float"_s;
    }
    return QString();
}

QJsonValue ValueToJson(const TFieldDef &def, const QVariant &value) {
    if (!value.isValid() || value.isNull())
        return QJsonValue(QJsonValue::Null);
    switch (def.DataType) {
    case TFieldType::String:
        return value.toString();
    case TFieldType::Date:
        return DateTimeUtil::ToIso(value.toDouble());
    case TFieldType::Integer:
        return value.toLongLong();
    case TFieldType::Float:
        return value.toDouble();
    }
    return QJsonValue(QJsonValue::Null);
}

bool ValueFromJson(const TFieldDef &def, const QJsonValue &json, QVariant &out, QString *error) {
    QString detail;
    QVariant value;
    if (!decodeValue(def, json, value, detail))
        return fail(error, u"Valor inválido para o campo '%1': %2."_s.arg(def.Name, detail));
    out = std::move(value);
    return true;
}

QJsonArray FieldsToJson(const TFieldDefs &fields) {
    return fieldsToJsonImpl(fields);
}

QJsonObject ToJson(const TTablePacket &packet) {
    QJsonArray rows;
    for (const TRowValues &row : packet.Rows)
        rows.append(rowToJson(packet.Fields, row));
    return QJsonObject{{u"fields"_s, FieldsToJson(packet.Fields)}, {u"rows"_s, rows}};
}

QJsonObject ToJson(const TChangeLog &log) {
    QJsonArray changes;
    for (const TChange &change : log.Changes) {
        QJsonObject object;
        switch (change.Op) {
        case TChangeOp::Insert:
            object.insert(u"op"_s, u"insert"_s);
            object.insert(u"values"_s, rowToJson(log.Fields, change.Values));
            break;
        case TChangeOp::Update:
            object.insert(u"op"_s, u"update"_s);
            object.insert(u"original"_s, rowToJson(log.Fields, change.Original));
            object.insert(u"values"_s, rowToJson(log.Fields, change.Values));
            break;
        case TChangeOp::Delete:
            object.insert(u"op"_s, u"delete"_s);
            object.insert(u"original"_s, rowToJson(log.Fields, change.Original));
            break;
        }
        changes.append(object);
    }
    return QJsonObject{{u"fields"_s, FieldsToJson(log.Fields)}, {u"changes"_s, changes}};
}

QByteArray ToBytes(const TTablePacket &packet) {
    return QJsonDocument(ToJson(packet)).toJson(QJsonDocument::Compact);
}

bool FromJson(const QJsonValue &json, TTablePacket &out, QString *error) {
    if (!json.isObject())
        return fail(error, invalid(u"o pacote não é um objeto"_s));
    const QJsonObject object = json.toObject();
    TTablePacket packet;
    if (!decodeFields(object.value(QLatin1StringView("fields")), packet.Fields, error))
        return false;
    const QJsonValue rowsValue = object.value(QLatin1StringView("rows"));
    if (!rowsValue.isArray())
        return fail(error, invalid(u"a lista de linhas ('rows') está ausente"_s));
    const QJsonArray rows = rowsValue.toArray();
    const qsizetype width = packet.Fields.size();
    packet.Rows.resize(rows.size());
    QString detail;
    for (qsizetype r = 0; r < rows.size(); ++r) {
        const QJsonValue row = rows.at(r);
        if (!row.isArray())
            return fail(error, invalid(u"linha %1 não é uma lista de valores"_s.arg(r + 1)));
        const QJsonArray values = row.toArray();
        if (values.size() != width)
            return fail(error, rowLengthError(r, values.size(), width));
        TRowValues &target = packet.Rows[r];
        target.resize(width);
        for (qsizetype f = 0; f < width; ++f) {
            if (!decodeValue(packet.Fields.at(f), values.at(f), target[f], detail))
                return fail(error, cellError(r, packet.Fields.at(f), detail));
        }
    }
    out = std::move(packet);
    return true;
}

bool FromJson(const QJsonValue &json, TChangeLog &out, QString *error) {
    if (!json.isObject())
        return fail(error, invalid(u"o registro de alterações não é um objeto"_s));
    const QJsonObject object = json.toObject();
    TChangeLog log;
    if (!decodeFields(object.value(QLatin1StringView("fields")), log.Fields, error))
        return false;
    const QJsonValue changesValue = object.value(QLatin1StringView("changes"));
    if (!changesValue.isArray())
        return fail(error, invalid(u"a lista de alterações ('changes') está ausente"_s));
    const QJsonArray changes = changesValue.toArray();
    log.Changes.resize(changes.size());
    for (qsizetype c = 0; c < changes.size(); ++c) {
        const QString where = u"alteração %1"_s.arg(c + 1);
        const QJsonValue item = changes.at(c);
        if (!item.isObject())
            return fail(error, invalid(u"%1 não é um objeto"_s.arg(where)));
        const QJsonObject change = item.toObject();
        const QString op = change.value(QLatin1StringView("op")).toString();
        TChange &target = log.Changes[c];
        bool needOriginal = false;
        bool needValues = false;
        if (op == "insert"_L1) {
            target.Op = TChangeOp::Insert;
            needValues = true;
        } else if (op == "update"_L1) {
            target.Op = TChangeOp::Update;
            needOriginal = needValues = true;
        } else if (op == "delete"_L1) {
            target.Op = TChangeOp::Delete;
            needOriginal = true;
        } else {
            return fail(error, invalid(u"%1 tem a operação desconhecida '%2'"_s.arg(where, op)));
        }
        if (needOriginal) {
            const QJsonValue original = change.value(QLatin1StringView("original"));
            if (original.isUndefined())
                return fail(error, invalid(u"%1 não tem 'original'"_s.arg(where)));
            if (!decodeRow(log.Fields, original, where + u" ('original')"_s, target.Original,
                           error))
                return false;
        }
        if (needValues) {
            const QJsonValue values = change.value(QLatin1StringView("values"));
            if (values.isUndefined())
                return fail(error, invalid(u"%1 não tem 'values'"_s.arg(where)));
            if (!decodeRow(log.Fields, values, where + u" ('values')"_s, target.Values, error))
                return false;
        }
    }
    out = std::move(log);
    return true;
}

bool FromJson(const TJsonNode &json, TTablePacket &out, QString *error) {
    return decodeNode(json, out, error);
}

bool FromBytes(const QByteArray &bytes, TTablePacket &out, QString *error) {
    TJsonNode node;
    QString why;
    if (!TJsonNode::Parse(bytes, node, &why)) {
        // The parser says what is wrong but not where; the document parser finds the place.
        QJsonParseError parseError;
        QJsonDocument::fromJson(bytes, &parseError);
        if (parseError.error == QJsonParseError::NoError)
            return fail(error, invalid(u"JSON malformado (%1)"_s.arg(why)));
        return fail(
            error,
            invalid(u"JSON malformado na posição %1 (%2)"_s.arg(parseError.offset).arg(why)));
    }
    return FromJson(node, out, error);
}

} // namespace Packet
