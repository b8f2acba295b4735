#pragma once

#include <QByteArray>
#include <QJsonValue>
#include <QLatin1StringView>
#include <QString>
#include <QStringList>

#include <cstddef>
#include <memory>

namespace simdjson::dom {
class element;
} // namespace simdjson::dom

// A JSON text parsed once, and one value in it. Copies share the parse, which lives as long as
// any of them. Looking a value up costs next to nothing and converts nothing, so a reply can be
// checked field by field and its table packets read straight into rows (Packet::FromJson), with
// no second parse and no QJsonValue tree in between; ToJsonValue gives the tree to whoever wants
// one.
class TJsonNode final {
public:
    // The most a text may hold, and how deep it may nest: what the transport takes in one
    // message (the server's own limit), and what QJsonDocument takes.
    static constexpr qsizetype MaxBytes = 16 * 1024 * 1024;
    static constexpr int MaxDepth = 1024;

    TJsonNode(); // no value, as an absent key gives

    // Parses the whole text strictly (RFC 8259, valid UTF-8, a single value). False, with a
    // Portuguese reason in *error, for anything else; `out` is then untouched.
    static bool Parse(QByteArray text, TJsonNode &out, QString *error);

    bool Exists() const { return m_parsed != nullptr; }
    bool IsNull() const;
    bool IsBool() const;
    bool IsNumber() const;
    bool IsString() const;
    bool IsArray() const;
    bool IsObject() const;

    qsizetype Size() const;                       // of an array or object; 0 for anything else
    TJsonNode At(qsizetype index) const;          // element of an array; none when out of range
    TJsonNode Value(QLatin1StringView key) const; // member of an object; none when absent
    QStringList Keys() const;                     // of an object, in text order

    QString ToString() const; // text of a string; empty for anything else
    bool ToBool() const;
    double ToDouble() const;
    // An integral number as an integer; `fallback` for anything else (as QJsonValue::toInteger).
    qint64 ToInteger(qint64 fallback = 0) const;
    // The value as a tree; Undefined when there is none.
    QJsonValue ToJsonValue() const;

    // For the readers of this library that walk the parse themselves. REQUIRES: Exists().
    simdjson::dom::element Element() const;

private:
    struct Parsed;
    TJsonNode(std::shared_ptr<const Parsed> parsed, const simdjson::dom::element &element);

    std::shared_ptr<const Parsed> m_parsed;
    // simdjson's element (a document pointer and a tape index), kept by value so that walking
    // to a member allocates nothing.
    alignas(void *) std::byte m_element[2 * sizeof(void *)] = {};
};
