#include "lazyjsonvalue.h"

TLazyJsonValue::TLazyJsonValue(QJsonValue value)
    : m_value(std::move(value)) {}

TLazyJsonValue::TLazyJsonValue(TJsonNode parsed)
    : m_value(QJsonValue::Undefined)
    , m_parsed(std::make_shared<Parsed>()) {
    m_parsed->node = std::move(parsed);
}

TLazyJsonValue &TLazyJsonValue::operator=(QJsonValue value) {
    m_value = std::move(value);
    m_parsed.reset();
    return *this;
}

const QJsonValue &TLazyJsonValue::Value() const {
    if (!m_parsed)
        return m_value;
    Parsed &parsed = *m_parsed;
    std::call_once(parsed.once, [&parsed] { parsed.value = parsed.node.ToJsonValue(); });
    return parsed.value;
}

const TJsonNode &TLazyJsonValue::Node() const {
    static const TJsonNode none;
    return m_parsed ? m_parsed->node : none;
}

QJsonValue::Type TLazyJsonValue::type() const {
    if (!m_parsed)
        return m_value.type();
    // Asked of the parse, so a look at the kind makes no tree.
    const TJsonNode &node = m_parsed->node;
    if (!node.Exists())
        return QJsonValue::Undefined;
    if (node.IsNull())
        return QJsonValue::Null;
    if (node.IsBool())
        return QJsonValue::Bool;
    if (node.IsNumber())
        return QJsonValue::Double;
    if (node.IsString())
        return QJsonValue::String;
    return node.IsArray() ? QJsonValue::Array : QJsonValue::Object;
}
