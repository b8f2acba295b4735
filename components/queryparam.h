#pragma once

#include <QString>
#include <QVariant>

// A named parameter of a local query (":P_X" in its text). Starts with no value (NULL).
class TParam final {
public:
    explicit TParam(QString name)
        : m_name(std::move(name)) {}

    const QString &Name() const { return m_name; }
    bool IsNull() const { return m_value.isNull(); }
    void Clear() { m_value = QVariant(); } // NULL in the query
    QVariant Value() const { return m_value; }
    void SetValue(const QVariant &value) { m_value = value; }
    QString AsString() const { return m_value.toString(); }
    void SetAsString(const QString &text) { m_value = text; } // "" is a value, not NULL
    void SetAsInteger(qint64 value) { m_value = value; }

private:
    QString m_name;
    QVariant m_value;
};
