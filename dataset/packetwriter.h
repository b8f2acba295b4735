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
    // `before` goes ahead of the packet in the same buffer, for a packet that is part of more.
    explicit TPacketWriter(const TFieldDefs &fields, QByteArrayView before = {});
    // The fields' part of a packet, written once for a method whose fields never change: for a
    // one-row answer it costs more than the rest.
    struct Layout {
        explicit Layout(const TFieldDefs &fields, QByteArrayView before = {});
        QByteArray Head;
    };
    // `expected`: the bytes the packet is likely to take (the last one's, say), reserved at once
    // so that a large packet is not copied as it grows.
    explicit TPacketWriter(const Layout &layout, qsizetype expected = 0);
    // It writes through a pointer into its own buffer.
    TPacketWriter(const TPacketWriter &) = delete;
    TPacketWriter &operator=(const TPacketWriter &) = delete;

    void Null();
    void Text(QStringView text);
    // The same from UTF-8 (malformed sequences become U+FFFD, as in QString::fromUtf8).
    void Utf8Text(QByteArrayView text);
    void Date(QDate date); // an invalid date is written as null
    // A date kept as ISO text ("2026-12-31", anything after the tenth character ignored), as
    // SQLite keeps them: copied as it is when it is a real date; false (nothing written) when
    // it is not one.
    bool IsoDate(QStringView text);
    bool IsoDate(QByteArrayView text); // the same, from the bytes of such text
    void EndRow();
    // `before`, then {"fields":[...],"rows":[...]}; the writer is spent afterwards.
    QByteArray Finish();

    // `text` as a JSON string, quotes included, appended to `out` in UTF-8.
    static void AppendString(QByteArray &out, QStringView text);
    // The same into `out`, which has room for 6 bytes per UTF-16 unit and 2; returns the count.
    static qsizetype WriteString(char *out, QStringView text);

private:
    // The buffer grows ahead of the writing, and bytes go in through a pointer: a thousand rows
    // are tens of thousands of values, and an append call per piece of each cost more than the
    // query that reads them.
    // Room for `bytes` more, after a value's separator, and for a row's opening and a comma.
    char *Reserve(qsizetype bytes) {
        if (m_used + bytes + 4 > m_capacity)
            Grow(bytes);
        return m_base + m_used;
    }
    void Grow(qsizetype bytes);
    void Resize(qsizetype bytes); // the one place m_out changes size before Finish
    void Put(const char *bytes, qsizetype n);
    void Separate();
    template <typename Chars> bool WriteIsoDate(Chars text);
    QByteArray m_out;
    qsizetype m_used = 0;
    // m_out's size and bytes, kept apart: the buffer is this writer's alone until Finish.
    qsizetype m_capacity = 0;
    char *m_base = nullptr;
    bool m_rowOpen = false;
    bool m_firstRow = true;
    bool m_firstValue = true;
};
