#pragma once

#include "packet.h"

#include <QByteArray>
#include <QDate>
#include <QStringView>

// A table packet's JSON written value by value as a query hands the values over: the same
// text Packet::ToJson gives, without a row list, a variant per value or a JSON tree between the
// query and the bytes. Values go in field order; EndRow closes each row.
class TPacketWriter final {
public:
    explicit TPacketWriter(const TFieldDefs &fields);

    void Null();
    void Text(QStringView text);
    // The same from UTF-8 (malformed sequences become U+FFFD, as in QString::fromUtf8).
    void Utf8Text(QByteArrayView text);
    void Date(QDate date); // an invalid date is written as null
    // A date kept as ISO text ("2026-12-31", anything after the tenth character ignored), as
    // SQLite keeps them: copied as it is when it is a real date; false (nothing written) when
    // it is not one.
    bool IsoDate(QStringView text);
    void EndRow();
    // {"fields":[...],"rows":[...]}; the writer is spent afterwards.
    QByteArray Finish();

    // `text` as a JSON string, quotes included, appended to `out` in UTF-8.
    static void AppendString(QByteArray &out, QStringView text);

private:
    void Separate();
    QByteArray m_out;
    bool m_rowOpen = false;
    bool m_firstRow = true;
    bool m_firstValue = true;
};
