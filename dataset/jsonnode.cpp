#include "jsonnode.h"

#include <QJsonArray>
#include <QJsonObject>

#include <simdjson.h>

#include <cstring>

using namespace Qt::StringLiterals;
namespace dom = simdjson::dom;

static_assert(sizeof(dom::element) <= 2 * sizeof(void *) &&
              alignof(dom::element) <= alignof(void *) &&
              std::is_trivially_copyable_v<dom::element>);

struct TJsonNode::Parsed {
    dom::document document;
};

namespace {

QString reason(simdjson::error_code code) {
    switch (code) {
    case simdjson::EMPTY:
        return u"texto vazio"_s;
    case simdjson::DEPTH_ERROR:
        return u"aninhamento excessivo"_s;
    case simdjson::STRING_ERROR:
        return u"texto com escape inválido"_s;
    case simdjson::UNESCAPED_CHARS:
        return u"caractere de controle em texto"_s;
    case simdjson::UNCLOSED_STRING:
        return u"texto não terminado"_s;
    case simdjson::UTF8_ERROR:
        return u"UTF-8 inválido"_s;
    case simdjson::NUMBER_ERROR:
        return u"número inválido"_s;
    case simdjson::NUMBER_OUT_OF_RANGE:
        return u"número fora do intervalo"_s;
    case simdjson::T_ATOM_ERROR:
    case simdjson::F_ATOM_ERROR:
    case simdjson::N_ATOM_ERROR:
        return u"valor inválido"_s;
    case simdjson::CAPACITY:
        return u"texto acima de %1 MiB"_s.arg(TJsonNode::MaxBytes / (1024 * 1024));
    case simdjson::MEMALLOC:
        return u"memória insuficiente"_s;
    default:
        return u"estrutura inválida"_s;
    }
}

// One parser per thread, reused: its index buffers grow to the largest text read so far. A text
// above a megabyte gets a parser of its own, so one large reply does not keep that much for good.
constexpr size_t KeptParserBytes = 1024 * 1024;

// The parser's own depth limit is the one promised.
static_assert(size_t(TJsonNode::MaxDepth) == simdjson::DEFAULT_MAX_DEPTH);

dom::parser &threadParser() {
    thread_local dom::parser parser{size_t(TJsonNode::MaxBytes)};
    return parser;
}

QJsonValue toJsonValue(dom::element element) {
    switch (element.type()) {
    case dom::element_type::ARRAY: {
        QJsonArray array;
        for (dom::element item : dom::array(element))
            array.append(toJsonValue(item));
        return array;
    }
    case dom::element_type::OBJECT: {
        QJsonObject object;
        // A repeated key keeps its last value, as QJsonDocument does.
        for (const dom::key_value_pair member : dom::object(element)) {
            object.insert(QString::fromUtf8(member.key.data(), qsizetype(member.key.size())),
                          toJsonValue(member.value));
        }
        return object;
    }
    case dom::element_type::STRING: {
        const std::string_view text = element.get_string().value_unsafe();
        return QString::fromUtf8(text.data(), qsizetype(text.size()));
    }
    case dom::element_type::INT64:
        return qint64(element.get_int64().value_unsafe());
    case dom::element_type::UINT64:
        return double(element.get_uint64().value_unsafe());
    case dom::element_type::DOUBLE:
        return element.get_double().value_unsafe();
    case dom::element_type::BOOL:
        return element.get_bool().value_unsafe();
    case dom::element_type::NULL_VALUE:
        return QJsonValue(QJsonValue::Null);
    }
    return QJsonValue(QJsonValue::Undefined);
}

} // namespace

TJsonNode::TJsonNode() = default;

TJsonNode::TJsonNode(std::shared_ptr<const Parsed> parsed, const dom::element &element)
    : m_parsed(std::move(parsed)) {
    std::memcpy(m_element, &element, sizeof(element));
}

dom::element TJsonNode::Element() const {
    dom::element element;
    std::memcpy(&element, m_element, sizeof(element));
    return element;
}

bool TJsonNode::Parse(QByteArray text, TJsonNode &out, QString *error) {
    if (text.size() > MaxBytes) {
        if (error)
            *error = reason(simdjson::CAPACITY);
        return false;
    }
    // simdjson reads a little past the end: a text without that slack is copied once.
    const qsizetype size = text.size();
    if (text.capacity() - size < qsizetype(simdjson::SIMDJSON_PADDING))
        text.reserve(size + qsizetype(simdjson::SIMDJSON_PADDING));
    auto parsed = std::make_shared<Parsed>();
    dom::parser local{size_t(MaxBytes)};
    dom::parser &parser = size_t(size) > KeptParserBytes ? local : threadParser();
    dom::element root;
    const simdjson::error_code code =
        parser.parse_into_document(parsed->document, text.constData(), size_t(size), false)
            .get(root);
    if (code != simdjson::SUCCESS) {
        if (error)
            *error = reason(code);
        return false;
    }
    out = TJsonNode(std::move(parsed), root);
    return true;
}

bool TJsonNode::IsNull() const {
    return Exists() && Element().is_null();
}

bool TJsonNode::IsBool() const {
    return Exists() && Element().type() == dom::element_type::BOOL;
}

bool TJsonNode::IsNumber() const {
    if (!Exists())
        return false;
    const dom::element_type type = Element().type();
    return type == dom::element_type::INT64 || type == dom::element_type::UINT64 ||
           type == dom::element_type::DOUBLE;
}

bool TJsonNode::IsString() const {
    return Exists() && Element().type() == dom::element_type::STRING;
}

bool TJsonNode::IsArray() const {
    return Exists() && Element().type() == dom::element_type::ARRAY;
}

bool TJsonNode::IsObject() const {
    return Exists() && Element().type() == dom::element_type::OBJECT;
}

qsizetype TJsonNode::Size() const {
    if (IsArray())
        return qsizetype(dom::array(Element()).size());
    if (IsObject())
        return qsizetype(dom::object(Element()).size());
    return 0;
}

TJsonNode TJsonNode::At(qsizetype index) const {
    if (!IsArray() || index < 0)
        return {};
    dom::element item;
    if (dom::array(Element()).at(size_t(index)).get(item) != simdjson::SUCCESS)
        return {};
    return TJsonNode(m_parsed, item);
}

TJsonNode TJsonNode::Value(QLatin1StringView key) const {
    if (!IsObject())
        return {};
    // The last of repeated keys, as QJsonDocument reads them.
    const std::string_view wanted(key.data(), size_t(key.size()));
    bool found = false;
    dom::element value;
    for (const dom::key_value_pair member : dom::object(Element())) {
        if (member.key == wanted) {
            value = member.value;
            found = true;
        }
    }
    return found ? TJsonNode(m_parsed, value) : TJsonNode();
}

QStringList TJsonNode::Keys() const {
    QStringList keys;
    if (!IsObject())
        return keys;
    for (const dom::key_value_pair member : dom::object(Element()))
        keys.append(QString::fromUtf8(member.key.data(), qsizetype(member.key.size())));
    return keys;
}

QString TJsonNode::ToString() const {
    if (!IsString())
        return QString();
    const std::string_view text = Element().get_string().value_unsafe();
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

bool TJsonNode::ToBool() const {
    return IsBool() && Element().get_bool().value_unsafe();
}

double TJsonNode::ToDouble() const {
    if (!IsNumber())
        return 0;
    return Element().get_double().value_unsafe();
}

qint64 TJsonNode::ToInteger(qint64 fallback) const {
    if (!Exists())
        return fallback;
    const dom::element element = Element();
    switch (element.type()) {
    case dom::element_type::INT64:
        return element.get_int64().value_unsafe();
    case dom::element_type::DOUBLE: {
        // Out of range first: converting such a double to an integer is undefined.
        const double d = element.get_double().value_unsafe();
        if (!(d >= -9.2e18 && d <= 9.2e18))
            return fallback;
        const auto i = qint64(d);
        return double(i) == d ? i : fallback;
    }
    default:
        return fallback;
    }
}

QJsonValue TJsonNode::ToJsonValue() const {
    return Exists() ? toJsonValue(Element()) : QJsonValue(QJsonValue::Undefined);
}
