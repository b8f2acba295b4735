#pragma once

class TPacketWriter;

#include "packet.h"

#include <QDate>
#include <QString>
#include <QStringList>
#include <QVariant>

// The parameter record as exchanged with the screens: 38 fields in the order the screens
// declare them. CONTOPECTBL stores all of them except NMEMPRESA, which lives in EMPRESA.
namespace ParamRecord {

enum class Kind { Flag, Code, Text, Date };

struct Column {
    const char *Name;
    Kind ColumnKind;
    int Size; // characters; 0 for dates
};

// All 38 fields, the packet order of GetContOpe.
const QVector<Column> &Fields();
// The 37 stored in CONTOPECTBL, same relative order.
const QVector<Column> &StoredColumns();
const Column *Find(const QString &name); // names compare without case; nullptr when unknown

TFieldDef FieldDef(const Column &column);
TFieldDefs PacketFields();       // the 38
TFieldDefs StoredPacketFields(); // the 37

// Dates that may stay empty; a date value 0 in them means "no date" and is stored as NULL.
bool IsOptionalDate(const QString &name);

// Storage form of one value: QString for text, ISO "yyyy-MM-dd" QString for dates, or a null
// QVariant. `ok` false (with *error) when the value does not fit the column.
QVariant ToStorage(const Column &column, const QVariant &value, bool *ok, QString *error);
// Packet form of a stored value (text, or a TDateTime double for dates).
QVariant FromStorage(const Column &column, const QVariant &stored);
// The same value written straight into a packet being written.
void WriteStored(TPacketWriter &writer, const Column &column, const QVariant &stored);

QDate StoredDate(const QVariant &stored); // DATE columns come back as QDate or ISO text

// Bulk request field -> record column, for the sixteen dates and the fourteen flags.
struct RequestMapping {
    const char *RequestField;
    const char *RecordColumn;
};
const QVector<RequestMapping> &PeriodMapping();
const QVector<RequestMapping> &ControlMapping();
TFieldDefs RequestPacketFields(); // the 30 request fields, request order

// Starting values of a record created by the bulk request, for the columns the request does
// not set (flags, IDSALDEMPR); dates default to today elsewhere.
QString StartingValue(const QString &column);

} // namespace ParamRecord
