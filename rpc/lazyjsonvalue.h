#pragma once

#include "jsonnode.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QLatin1StringView>
#include <QString>
#include <QStringView>

#include <memory>
#include <mutex>

// A JSON value that may still sit in the parsed text it came in. A reply's payload stays there:
// the table packets it carries are read from the parse straight into rows (Node), and the tree is
// made, once, only for a caller that reads it as a value. Reads like a QJsonValue.
class TLazyJsonValue final {
public:
    TLazyJsonValue() = default; // null
    explicit TLazyJsonValue(QJsonValue value);
    explicit TLazyJsonValue(TJsonNode parsed);
    TLazyJsonValue &operator=(QJsonValue value);

    // The value as a tree, made at the first call when it is still parsed text.
    const QJsonValue &Value() const;
    operator const QJsonValue &() const { return Value(); }
    // The parsed text the value is in; no value when it was given as a tree.
    const TJsonNode &Node() const;

    QJsonValue::Type type() const;
    bool isNull() const { return type() == QJsonValue::Null; }
    bool isBool() const { return type() == QJsonValue::Bool; }
    bool isDouble() const { return type() == QJsonValue::Double; }
    bool isString() const { return type() == QJsonValue::String; }
    bool isArray() const { return type() == QJsonValue::Array; }
    bool isObject() const { return type() == QJsonValue::Object; }
    bool isUndefined() const { return type() == QJsonValue::Undefined; }

    bool toBool(bool defaultValue = false) const { return Value().toBool(defaultValue); }
    int toInt(int defaultValue = 0) const { return Value().toInt(defaultValue); }
    qint64 toInteger(qint64 defaultValue = 0) const { return Value().toInteger(defaultValue); }
    double toDouble(double defaultValue = 0) const { return Value().toDouble(defaultValue); }
    QString toString() const { return Value().toString(); }
    QJsonArray toArray() const { return Value().toArray(); }
    QJsonObject toObject() const { return Value().toObject(); }

    const QJsonValue operator[](QStringView key) const { return Value()[key]; }
    const QJsonValue operator[](QLatin1StringView key) const { return Value()[key]; }
    const QJsonValue operator[](qsizetype i) const { return Value()[i]; }

    friend bool operator==(const TLazyJsonValue &a, const QJsonValue &b) { return a.Value() == b; }
    friend bool operator==(const TLazyJsonValue &a, const TLazyJsonValue &b) {
        return a.Value() == b.Value();
    }

private:
    struct Parsed {
        TJsonNode node;
        std::once_flag once;
        QJsonValue value;
    };
    QJsonValue m_value{QJsonValue::Null}; // when given as a tree
    std::shared_ptr<Parsed> m_parsed;     // when parsed text; copies share the tree made of it
};
