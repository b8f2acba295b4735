#include "csvreader.h"

#include <csv.h>

#include <optional>

using namespace Qt::StringLiterals;

namespace {

// Small reads keep a runaway field's growth inside libcsv close to MaxFieldBytes before it is
// noticed.
constexpr qint64 ChunkBytes = 8 * 1024;

// Windows-1252 differs from Latin-1 only in 0x80-0x9F; the five unassigned bytes are kept as
// their C1 code points, which the checks then refuse as control characters.
constexpr char16_t Cp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

// Well-formed UTF-8 as RFC 3629 has it, fed in pieces: no overlong forms, no surrogates,
// nothing past U+10FFFF, and no character left cut at the end.
class Utf8Check final {
public:
    void Feed(const QByteArray &bytes) {
        for (qsizetype i = 0; i < bytes.size() && !m_bad; ++i) {
            const auto b = static_cast<unsigned char>(bytes[i]);
            if (m_need == 0) {
                if (b < 0x80)
                    continue;
                m_lower = 0x80;
                m_upper = 0xBF;
                if (b >= 0xC2 && b <= 0xDF) {
                    m_need = 1;
                } else if (b >= 0xE0 && b <= 0xEF) {
                    m_need = 2;
                    m_lower = b == 0xE0 ? 0xA0 : 0x80;
                    m_upper = b == 0xED ? 0x9F : 0xBF;
                } else if (b >= 0xF0 && b <= 0xF4) {
                    m_need = 3;
                    m_lower = b == 0xF0 ? 0x90 : 0x80;
                    m_upper = b == 0xF4 ? 0x8F : 0xBF;
                } else {
                    m_bad = true;
                }
                continue;
            }
            if (b < m_lower || b > m_upper) {
                m_bad = true;
                continue;
            }
            m_lower = 0x80;
            m_upper = 0xBF;
            --m_need;
        }
    }
    bool Valid() const { return !m_bad && m_need == 0; }

private:
    int m_need = 0;
    unsigned char m_lower = 0x80, m_upper = 0xBF;
    bool m_bad = false;
};

// UTF-16 as Excel's "Texto Unicode" writes it, with its BOM or without: the ASCII of a header
// line leaves every other byte zero, which no CSV file of one-byte text ever has.
bool LooksUtf16(const QByteArray &head) {
    if (head.startsWith("\xFF\xFE") || head.startsWith("\xFE\xFF"))
        return true;
    const qsizetype pairs = head.size() / 2;
    if (pairs < 2)
        return false;
    qsizetype zeros[2] = {0, 0};
    for (qsizetype i = 0; i < pairs * 2; ++i)
        zeros[i % 2] += head[i] == '\0' ? 1 : 0;
    const auto most = [&](qsizetype n) {
        return n * 10 >= pairs * 9;
    };
    const auto few = [&](qsizetype n) {
        return n * 10 <= pairs;
    };
    return (most(zeros[0]) && few(zeros[1])) || (most(zeros[1]) && few(zeros[0]));
}

// The line "sep=;" Excel writes (and reads) before the header to name the separator, quoted or
// not: the bytes it takes with its line break, 0 when the file has none.
qsizetype SeparatorLine(const QByteArray &head, std::optional<char> &separator) {
    const auto byte = [&](qsizetype i) {
        return i < head.size() ? head[i] : '\0';
    };
    qsizetype at = 0;
    const bool quoted = head.startsWith('"');
    at += quoted ? 1 : 0;
    if (head.mid(at, 4).toLower() != "sep=" || head.size() < at + 5)
        return 0;
    const char c = head[at + 4];
    if (c != ';' && c != ',' && c != '\t' && c != '|')
        return 0;
    at += 5;
    if (quoted) {
        if (byte(at) != '"')
            return 0;
        ++at;
    }
    if (byte(at) == '\r')
        ++at;
    if (byte(at) == '\n')
        ++at;
    else if (at < head.size() && byte(at - 1) != '\r')
        return 0;
    separator = c;
    return at;
}

} // namespace

CsvReader::CsvReader()
    : m_parser(std::make_unique<csv_parser>()) {}

CsvReader::~CsvReader() {
    csv_free(m_parser.get());
}

QString CsvReader::Decode(const QByteArray &bytes, Encoding encoding) {
    if (encoding == Encoding::Utf8)
        return QString::fromUtf8(bytes);
    QString text(bytes.size(), Qt::Uninitialized);
    QChar *out = text.data();
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        *out++ = QChar(b >= 0x80 && b < 0xA0 ? Cp1252High[b - 0x80] : char16_t(b));
    }
    return text;
}

bool CsvReader::Open(const QString &path, QString *error) {
    m_file.setFileName(path);
    if (!m_file.open(QIODevice::ReadOnly)) {
        *error = u"não foi possível ler %1: %2"_s.arg(path, m_file.errorString());
        return false;
    }
    m_size = m_file.size();
    if (LooksUtf16(m_file.peek(512))) {
        *error = u"%1 está em UTF-16 (o \"Texto Unicode\" do Excel), que a importação não lê: "
                 "salve-o no Excel como \"CSV UTF-8 (Delimitado por vírgulas)\" e importe de "
                 "novo"_s.arg(path);
        return false;
    }
    m_start = m_file.peek(3) == QByteArrayLiteral("\xEF\xBB\xBF") ? 3 : 0;
    m_firstLine = 1;
    std::optional<char> declared;
    m_file.seek(m_start);
    if (const qsizetype after = SeparatorLine(m_file.peek(16), declared); after > 0) {
        m_start += after;
        m_firstLine = 2;
    }
    // One pass over the whole file decides its encoding: a Windows-1252 file with an accent
    // anywhere is not valid UTF-8, while a UTF-8 file read as Windows-1252 would garble every
    // accent in it.
    m_file.seek(m_start);
    Utf8Check utf8;
    bool header = true;
    int semicolons = 0, commas = 0;
    bool quoted = false;
    while (!m_file.atEnd()) {
        const QByteArray chunk = m_file.read(ChunkBytes);
        if (chunk.isEmpty())
            break;
        utf8.Feed(chunk);
        for (qsizetype i = 0; header && i < chunk.size(); ++i) {
            const char c = chunk[i];
            if (c == '"')
                quoted = !quoted;
            else if (!quoted && (c == '\n' || c == '\r'))
                header = false;
            else if (!quoted && c == ';')
                ++semicolons;
            else if (!quoted && c == ',')
                ++commas;
        }
    }
    if (m_file.error() != QFile::NoError) {
        *error = u"falha ao ler %1: %2"_s.arg(path, m_file.errorString());
        return false;
    }
    // A character cut at the end makes the file no UTF-8 either: read as Windows-1252, it
    // yields its bytes' own characters, never a U+FFFD no one typed.
    m_encoding = utf8.Valid() ? Encoding::Utf8 : Encoding::Windows1252;
    m_separator = declared ? *declared : semicolons > 0 || commas == 0 ? ';' : ',';
    return Rewind(error);
}

bool CsvReader::Rewind(QString *error) {
    csv_free(m_parser.get());
    if (csv_init(m_parser.get(), CSV_STRICT | CSV_REPALL_NL | CSV_STRICT_FINI) != 0) {
        *error = u"sem memória para ler o arquivo"_s;
        return false;
    }
    csv_set_delim(m_parser.get(), static_cast<unsigned char>(m_separator));
    if (!m_file.seek(m_start)) {
        *error = u"falha ao voltar ao início de %1"_s.arg(m_file.fileName());
        return false;
    }
    m_position = m_start;
    m_line = m_rowLine = m_firstLine;
    m_lastWasCr = m_finished = false;
    m_current.clear();
    m_ready.clear();
    m_error.clear();
    return true;
}

void CsvReader::fail(const QString &text) {
    if (m_error.isEmpty())
        m_error = u"linha %1: %2"_s.arg(m_rowLine).arg(text);
    m_finished = true;
    m_ready.clear();
}

void CsvReader::OnField(void *data, size_t length, void *self) {
    auto *reader = static_cast<CsvReader *>(self);
    if (!reader->m_error.isEmpty())
        return;
    if (reader->m_current.isEmpty())
        reader->m_rowLine = reader->m_line;
    if (qsizetype(length) > MaxFieldBytes) {
        reader->fail(u"campo com mais de %1 KiB"_s.arg(MaxFieldBytes / 1024));
        return;
    }
    if (reader->m_current.size() >= MaxFields) {
        reader->fail(u"linha com mais de %1 campos"_s.arg(MaxFields));
        return;
    }
    const QByteArray field(static_cast<const char *>(data), qsizetype(length));
    reader->m_line += field.count('\n');
    reader->m_current.append(field);
    reader->m_lastWasCr = false;
}

void CsvReader::OnRowEnd(int terminator, void *self) {
    auto *reader = static_cast<CsvReader *>(self);
    if (!reader->m_error.isEmpty())
        return;
    // libcsv ends a row at CR and then reports the LF of CRLF as a row of its own.
    const bool lfOfCrlf = terminator == '\n' && reader->m_lastWasCr && reader->m_current.isEmpty();
    reader->m_lastWasCr = terminator == '\r';
    if (!lfOfCrlf && (terminator == '\n' || terminator == '\r'))
        ++reader->m_line;
    if (reader->m_current.isEmpty())
        return;
    Row row;
    row.Line = reader->m_rowLine;
    row.Fields.reserve(reader->m_current.size());
    for (const QByteArray &field : std::as_const(reader->m_current))
        row.Fields.append(Decode(field, reader->m_encoding));
    reader->m_current.clear();
    reader->m_ready.append(std::move(row));
}

bool CsvReader::feed() {
    const QByteArray chunk = m_file.read(ChunkBytes);
    if (chunk.isEmpty()) {
        if (m_file.error() != QFile::NoError) {
            fail(u"falha ao ler o arquivo: %1"_s.arg(m_file.errorString()));
            return false;
        }
        if (m_current.isEmpty())
            m_rowLine = m_line;
        if (csv_fini(m_parser.get(), OnField, OnRowEnd, this) != 0)
            fail(u"campo entre aspas sem as aspas de fechamento"_s);
        m_finished = true;
        return m_error.isEmpty();
    }
    m_position += chunk.size();
    if (m_current.isEmpty() && m_parser->entry_pos == 0)
        m_rowLine = m_line;
    const size_t parsed =
        csv_parse(m_parser.get(), chunk.constData(), size_t(chunk.size()), OnField, OnRowEnd, this);
    if (!m_error.isEmpty())
        return false;
    if (parsed != size_t(chunk.size())) {
        fail(csv_error(m_parser.get()) == CSV_ENOMEM
                 ? u"sem memória para ler o arquivo"_s
                 : u"aspas fora de lugar (um campo com aspas deve começar e terminar com "
                   "elas, e aspas dentro dele são dobradas)"_s);
        return false;
    }
    if (qsizetype(m_parser->entry_pos) > MaxFieldBytes) {
        fail(u"campo com mais de %1 KiB"_s.arg(MaxFieldBytes / 1024));
        return false;
    }
    return true;
}

bool CsvReader::Next(Row &row) {
    while (m_ready.isEmpty() && !m_finished) {
        if (!feed())
            return false;
    }
    if (m_ready.isEmpty())
        return false;
    row = m_ready.takeFirst();
    return true;
}
