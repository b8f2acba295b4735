#include "packetwriter.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <cstring>

using namespace Qt::StringLiterals;

namespace {

char16_t codeUnit(QChar c) {
    return c.unicode();
}
char16_t codeUnit(char c) {
    return static_cast<unsigned char>(c);
}

} // namespace

namespace {

QByteArray HeadOf(const TFieldDefs &fields, QByteArrayView before) {
    QByteArray head = before.toByteArray() + "{\"fields\":";
    head += QJsonDocument(Packet::FieldsToJson(fields)).toJson(QJsonDocument::Compact);
    head += ",\"rows\":[";
    return head;
}

} // namespace

TPacketWriter::TPacketWriter(const TFieldDefs &fields, QByteArrayView before) {
    const QByteArray head = HeadOf(fields, before);
    Resize(qMax<qsizetype>(64 * 1024, head.size() * 2));
    Put(head.constData(), head.size());
}

TPacketWriter::Layout::Layout(const TFieldDefs &fields, QByteArrayView before)
    : Head(HeadOf(fields, before)) {}

TPacketWriter::TPacketWriter(const Layout &layout, qsizetype expected) {
    // Sized for a row or two unless told more: the buffer grows by doubling past that.
    Resize(qMax(layout.Head.size() + 256, expected));
    Put(layout.Head.constData(), layout.Head.size());
}

void TPacketWriter::Grow(qsizetype bytes) {
    Resize(qMax(m_used + bytes + 4, m_capacity * 2));
}

void TPacketWriter::Resize(qsizetype bytes) {
    m_out.resize(bytes);
    m_capacity = m_out.size();
    m_base = m_out.data();
}

void TPacketWriter::Put(const char *bytes, qsizetype n) {
    std::memcpy(Reserve(n), bytes, size_t(n));
    m_used += n;
}

void TPacketWriter::Separate() {
    char *p = Reserve(0);
    if (!m_rowOpen) {
        if (!m_firstRow)
            *p++ = ',';
        *p++ = '[';
        m_rowOpen = true;
        m_firstRow = false;
        m_firstValue = true;
    }
    if (!m_firstValue)
        *p++ = ',';
    m_firstValue = false;
    m_used = p - m_base;
}

void TPacketWriter::Null() {
    Separate();
    Put("null", 4);
}

void TPacketWriter::Text(QStringView text) {
    Separate();
    // At most six bytes for a UTF-16 unit (an escaped control), and the quotes.
    m_used += WriteString(Reserve(text.size() * 6 + 2), text);
}

void TPacketWriter::Utf8Text(QByteArrayView text) {
    for (const char c : text) {
        // Plain printable ASCII is already its own JSON; anything else takes the long way.
        if (static_cast<unsigned char>(c) >= 0x80 || c < 0x20 || c == '"' || c == '\\') {
            Text(QString::fromUtf8(text));
            return;
        }
    }
    Separate();
    char *p = Reserve(text.size() + 2);
    *p++ = '"';
    std::memcpy(p, text.data(), size_t(text.size()));
    p[text.size()] = '"';
    m_used += text.size() + 2;
}

void TPacketWriter::Date(QDate date) {
    if (!date.isValid() || date.year() < 1 || date.year() > 9999) {
        Null();
        return;
    }
    Separate();
    int year = 0, month = 0, day = 0;
    date.getDate(&year, &month, &day);
    const char text[12] = {'"',
                           char('0' + year / 1000),
                           char('0' + year / 100 % 10),
                           char('0' + year / 10 % 10),
                           char('0' + year % 10),
                           '-',
                           char('0' + month / 10),
                           char('0' + month % 10),
                           '-',
                           char('0' + day / 10),
                           char('0' + day % 10),
                           '"'};
    Put(text, sizeof(text));
}

template <typename Chars> bool TPacketWriter::WriteIsoDate(Chars text) {
    const auto at = [&text](qsizetype i) {
        return codeUnit(text[i]);
    };
    if (text.size() < 10 || at(4) != u'-' || at(7) != u'-')
        return false;
    char quoted[12];
    quoted[0] = '"';
    int digits[8];
    int n = 0;
    for (int i = 0; i < 10; ++i) {
        const char16_t c = at(i);
        if (i != 4 && i != 7) {
            if (c < u'0' || c > u'9')
                return false;
            digits[n++] = c - u'0';
        }
        quoted[i + 1] = char(c);
    }
    quoted[11] = '"';
    const int year = digits[0] * 1000 + digits[1] * 100 + digits[2] * 10 + digits[3];
    const int month = digits[4] * 10 + digits[5];
    const int day = digits[6] * 10 + digits[7];
    if (year < 1 || !QDate::isValid(year, month, day))
        return false;
    Separate();
    Put(quoted, sizeof(quoted));
    return true;
}

bool TPacketWriter::IsoDate(QStringView text) {
    return WriteIsoDate(text);
}

bool TPacketWriter::IsoDate(QByteArrayView text) {
    return WriteIsoDate(text);
}

void TPacketWriter::EndRow() {
    char *p = Reserve(0);
    if (!m_rowOpen) { // a row of no values
        if (!m_firstRow)
            *p++ = ',';
        *p++ = '[';
        m_firstRow = false;
    }
    *p++ = ']';
    m_used = p - m_base;
    m_rowOpen = false;
}

QByteArray TPacketWriter::Finish() {
    if (m_rowOpen)
        EndRow();
    Put("]}", 2);
    m_out.truncate(m_used);
    return std::move(m_out);
}

qsizetype TPacketWriter::WriteString(char *const start, QStringView text) {
    char *out = start;
    static const char hex[] = "0123456789abcdef";
    *out++ = '"';
    const char16_t *p = text.utf16();
    const char16_t *const end = p + text.size();
    while (p < end) {
        const char16_t c = *p++;
        if (c < 0x80) {
            switch (c) {
            case u'"':
                *out++ = '\\';
                *out++ = '"';
                break;
            case u'\\':
                *out++ = '\\';
                *out++ = '\\';
                break;
            case u'\b':
                *out++ = '\\';
                *out++ = 'b';
                break;
            case u'\f':
                *out++ = '\\';
                *out++ = 'f';
                break;
            case u'\n':
                *out++ = '\\';
                *out++ = 'n';
                break;
            case u'\r':
                *out++ = '\\';
                *out++ = 'r';
                break;
            case u'\t':
                *out++ = '\\';
                *out++ = 't';
                break;
            default:
                if (c < 0x20) {
                    const char escaped[6] = {'\\', 'u', '0', '0', hex[c >> 4], hex[c & 15]};
                    std::memcpy(out, escaped, 6);
                    out += 6;
                } else {
                    *out++ = char(c);
                }
            }
            continue;
        }
        char32_t code = c;
        if (QChar::isHighSurrogate(c) && p < end && QChar::isLowSurrogate(*p))
            code = QChar::surrogateToUcs4(c, *p++);
        else if (QChar::isSurrogate(c))
            code = 0xFFFD; // a lone half of a pair is no character
        if (code < 0x800) {
            *out++ = char(0xC0 | (code >> 6));
            *out++ = char(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            *out++ = char(0xE0 | (code >> 12));
            *out++ = char(0x80 | ((code >> 6) & 0x3F));
            *out++ = char(0x80 | (code & 0x3F));
        } else {
            *out++ = char(0xF0 | (code >> 18));
            *out++ = char(0x80 | ((code >> 12) & 0x3F));
            *out++ = char(0x80 | ((code >> 6) & 0x3F));
            *out++ = char(0x80 | (code & 0x3F));
        }
    }
    *out++ = '"';
    return out - start;
}

void TPacketWriter::AppendString(QByteArray &out, QStringView text) {
    const qsizetype used = out.size();
    out.resize(used + text.size() * 6 + 2);
    out.truncate(used + WriteString(out.data() + used, text));
}
