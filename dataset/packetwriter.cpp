#include "packetwriter.h"

#include <QJsonArray>
#include <QJsonDocument>

using namespace Qt::StringLiterals;

TPacketWriter::TPacketWriter(const TFieldDefs &fields) {
    m_out.reserve(64 * 1024);
    m_out += "{\"fields\":";
    m_out += QJsonDocument(Packet::FieldsToJson(fields)).toJson(QJsonDocument::Compact);
    m_out += ",\"rows\":[";
}

void TPacketWriter::Separate() {
    if (!m_rowOpen) {
        if (!m_firstRow)
            m_out += ',';
        m_out += '[';
        m_rowOpen = true;
        m_firstRow = false;
        m_firstValue = true;
    }
    if (!m_firstValue)
        m_out += ',';
    m_firstValue = false;
}

void TPacketWriter::Null() {
    Separate();
    m_out += "null";
}

void TPacketWriter::Text(QStringView text) {
    Separate();
    AppendString(m_out, text);
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
    m_out += '"';
    m_out += text;
    m_out += '"';
}

void TPacketWriter::Date(QDate date) {
    if (!date.isValid() || date.year() < 1 || date.year() > 9999) {
        Null();
        return;
    }
    Separate();
    int year = 0, month = 0, day = 0;
    date.getDate(&year, &month, &day);
    char text[12] = {'"',
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
    m_out.append(text, sizeof(text));
}

bool TPacketWriter::IsoDate(QStringView text) {
    if (text.size() < 10 || text[4] != u'-' || text[7] != u'-')
        return false;
    int digits[8];
    int n = 0;
    for (int i : {0, 1, 2, 3, 5, 6, 8, 9}) {
        const char16_t c = text[i].unicode();
        if (c < u'0' || c > u'9')
            return false;
        digits[n++] = c - u'0';
    }
    const int year = digits[0] * 1000 + digits[1] * 100 + digits[2] * 10 + digits[3];
    const int month = digits[4] * 10 + digits[5];
    const int day = digits[6] * 10 + digits[7];
    if (year < 1 || !QDate::isValid(year, month, day))
        return false;
    Separate();
    m_out += '"';
    for (int i = 0; i < 10; ++i)
        m_out += char(text[i].unicode());
    m_out += '"';
    return true;
}

void TPacketWriter::EndRow() {
    if (!m_rowOpen) { // a row of no values
        if (!m_firstRow)
            m_out += ',';
        m_out += '[';
        m_firstRow = false;
    }
    m_out += ']';
    m_rowOpen = false;
}

QByteArray TPacketWriter::Finish() {
    if (m_rowOpen)
        EndRow();
    m_out += "]}";
    return std::move(m_out);
}

void TPacketWriter::AppendString(QByteArray &out, QStringView text) {
    static const char hex[] = "0123456789abcdef";
    out += '"';
    const char16_t *p = text.utf16();
    const char16_t *const end = p + text.size();
    while (p < end) {
        const char16_t c = *p++;
        if (c < 0x80) {
            switch (c) {
            case u'"':
                out += "\\\"";
                break;
            case u'\\':
                out += "\\\\";
                break;
            case u'\b':
                out += "\\b";
                break;
            case u'\f':
                out += "\\f";
                break;
            case u'\n':
                out += "\\n";
                break;
            case u'\r':
                out += "\\r";
                break;
            case u'\t':
                out += "\\t";
                break;
            default:
                if (c < 0x20) {
                    const char escaped[6] = {'\\', 'u', '0', '0', hex[c >> 4], hex[c & 15]};
                    out.append(escaped, 6);
                } else {
                    out += char(c);
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
            const char bytes[2] = {char(0xC0 | (code >> 6)), char(0x80 | (code & 0x3F))};
            out.append(bytes, 2);
        } else if (code < 0x10000) {
            const char bytes[3] = {char(0xE0 | (code >> 12)), char(0x80 | ((code >> 6) & 0x3F)),
                                   char(0x80 | (code & 0x3F))};
            out.append(bytes, 3);
        } else {
            const char bytes[4] = {char(0xF0 | (code >> 18)), char(0x80 | ((code >> 12) & 0x3F)),
                                   char(0x80 | ((code >> 6) & 0x3F)), char(0x80 | (code & 0x3F))};
            out.append(bytes, 4);
        }
    }
    out += '"';
}
