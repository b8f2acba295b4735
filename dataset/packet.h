#pragma once

#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <QVariant>
#include <QVector>

class TJsonNode;

enum class TFieldType { String, Date, Integer, Float };

struct TFieldDef {
    QString Name;
    TFieldType DataType = TFieldType::String;
    int Size = 0; // characters, for String only
    bool Required = false;
    bool operator==(const TFieldDef &) const = default;
};
using TFieldDefs = QVector<TFieldDef>;

// One row's values in field order. A null QVariant is "no value"; otherwise the variant holds
// QString (String), double (Date: a TDateTime), qint64 (Integer) or double (Float).
using TRowValues = QVector<QVariant>;

// All rows of a table.
struct TTablePacket {
    TFieldDefs Fields;
    QVector<TRowValues> Rows;
    int FieldIndex(const QString &name) const; // -1 when absent; names compare without case
};

enum class TChangeOp { Insert, Update, Delete };

// One row's net change since the last merge. Insert: Values. Update: Original and Values, both
// whole rows. Delete: Original.
struct TChange {
    TChangeOp Op = TChangeOp::Insert;
    TRowValues Original;
    TRowValues Values;
};

struct TChangeLog {
    TFieldDefs Fields;
    QVector<TChange> Changes;
    int FieldIndex(const QString &name) const;
};

namespace Packet {

QString TypeName(TFieldType type); // "string", "date", "integer", "float"

QJsonObject ToJson(const TTablePacket &packet);
// The "fields" list of a packet or change log.
QJsonArray FieldsToJson(const TFieldDefs &fields);
QJsonObject ToJson(const TChangeLog &log);
QByteArray ToBytes(const TTablePacket &packet);

// Strict decoders. On failure they return false, leave `out` untouched and put a Portuguese
// message naming the offending field or row into *error.
bool FromJson(const QJsonValue &json, TTablePacket &out, QString *error);
bool FromJson(const QJsonValue &json, TChangeLog &out, QString *error);
bool FromBytes(const QByteArray &bytes, TTablePacket &out, QString *error);
// The same rules and messages, read straight from a parsed text into rows: no tree in between.
bool FromJson(const TJsonNode &json, TTablePacket &out, QString *error);

// One value of a field: checks the JSON value against the definition and converts it.
bool ValueFromJson(const TFieldDef &def, const QJsonValue &json, QVariant &out, QString *error);
QJsonValue ValueToJson(const TFieldDef &def, const QVariant &value);

} // namespace Packet
