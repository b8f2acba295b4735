#include "csvimport.h"

#include "closedspan.h"
#include "companylist.h"
#include "csvreader.h"
#include "database.h"
#include "paramrecord.h"
#include "rules/controlchars.h"
#include "serverlog.h"
#include "sqlitereader.h"

#include <QDate>
#include <QDir>
#include <QElapsedTimer>
#include <QHash>
#include <QLocale>
#include <QSet>
#include <QSqlDriver>
#include <QTemporaryFile>
#include <QVarLengthArray>

#include <libpq-fe.h>
#include <sqlite3.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

enum class Type { Code, Text, Date, Amount, Flag, Number };

struct ColumnDef {
    QString Name;
    Type ColumnType;
    int Size = 0;       // characters, for texts
    bool Key = false;   // part of the row's key
    bool Stored = true; // REMOVER only steers the import
    bool Needed = true; // must be in the header
};

struct KindDef {
    QString Table;
    QString Noun;
    bool Feminine = false; // "novas" or "novos"
    QVector<ColumnDef> Columns;
    bool RefersToCompany = false; // CDEMPRESA must be in EMPRESA
    bool UniqueKey = false;       // the table refuses a second row with the same key
};

const KindDef *Find(const QString &kind) {
    static const QHash<QString, KindDef> kinds = {
        {u"empresas"_s,
         {u"EMPRESA"_s,
          u"empresas"_s,
          true,
          {{u"CDEMPRESA"_s, Type::Code, 2, true},
           {u"NMEMPRESA"_s, Type::Text, 40},
           {u"REMOVER"_s, Type::Flag, 1, false, false, false}},
          false,
          true}},
        {u"saldos"_s,
         {u"SALDEMPR"_s,
          u"saldos"_s,
          false,
          {{u"CDEMPRESA"_s, Type::Code, 2, true},
           {u"DTSALDEMPR"_s, Type::Date, 0, true},
           {u"CDCONTA"_s, Type::Text, 20, true},
           {u"VRSALDODEB"_s, Type::Amount},
           {u"VRSALDOCRED"_s, Type::Amount}},
          true}},
        {u"lancamentos"_s,
         {u"LANCCONT"_s,
          u"lançamentos"_s,
          false,
          {{u"NRLANC"_s, Type::Number, 0, true},
           {u"CDEMPRESA"_s, Type::Code, 2},
           {u"DTLANC"_s, Type::Date},
           {u"CDCONTA"_s, Type::Text, 20},
           {u"VRLANC"_s, Type::Amount},
           {u"IDEVOLUIDO"_s, Type::Flag, 1},
           {u"IDRECALCFISC"_s, Type::Flag, 1}},
          true,
          true}},
    };
    const auto found = kinds.constFind(kind);
    return found == kinds.constEnd() ? nullptr : &*found;
}

// The tables whose rows keep a company from being removed.
const QStringList Referrers = {u"CONTOPECTBL"_s,  u"SALDEMPR"_s,     u"LANCCONT"_s,
                               u"FECHAPERIODO"_s, u"ENCERRAMENTO"_s, u"EXCECAO"_s};

QString Quoted(const QString &text) {
    return u"'%1'"_s.arg(ServerLog::Escape(text, 30));
}

// NUMERIC(15,2): 13 digits before the decimal mark and 2 after it.
std::optional<qint64> ParseAmount(const QString &raw) {
    QString text = raw.trimmed();
    bool negative = false;
    if (text.startsWith(u'-') || text.startsWith(u'+')) {
        negative = text.startsWith(u'-');
        text.remove(0, 1);
    }
    QString whole = text, fraction;
    if (text.contains(u',')) {
        // Decimal comma; dots, if any, group the thousands ("1.234.567,89").
        const QStringList parts = text.split(u',');
        if (parts.size() != 2)
            return std::nullopt;
        fraction = parts[1];
        const QStringList groups = parts[0].split(u'.');
        for (qsizetype i = 1; i < groups.size(); ++i) {
            if (groups[i].size() != 3)
                return std::nullopt;
        }
        if (groups.size() > 1 && (groups[0].isEmpty() || groups[0].size() > 3))
            return std::nullopt;
        whole = groups.join(QString());
    } else if (text.contains(u'.')) {
        const QStringList parts = text.split(u'.');
        if (parts.size() != 2)
            return std::nullopt;
        whole = parts[0];
        fraction = parts[1];
    }
    const auto digits = [](const QString &s) {
        return std::all_of(s.begin(), s.end(), [](QChar c) { return c >= u'0' && c <= u'9'; });
    };
    if (whole.isEmpty() || !digits(whole) || !digits(fraction) || fraction.size() > 2)
        return std::nullopt;
    while (whole.size() > 1 && whole.startsWith(u'0'))
        whole.remove(0, 1);
    if (whole.size() > 13)
        return std::nullopt;
    const qint64 cents = whole.toLongLong() * 100 + fraction.leftJustified(2, u'0').toLongLong();
    return negative ? -cents : cents;
}

// dd/mm/aaaa or aaaa-mm-dd written out in full, as nearly every file has them, without the cost
// of a format parse per value; anything else is left to QDate::fromString.
QDate PlainDate(const QString &text) {
    if (text.size() != 10)
        return {};
    const auto number = [&](qsizetype from, qsizetype count) {
        int n = 0;
        for (qsizetype i = from; i < from + count; ++i) {
            const char16_t c = text.at(i).unicode();
            if (c < u'0' || c > u'9')
                return -1;
            n = n * 10 + (c - u'0');
        }
        return n;
    };
    int year = -1, month = -1, day = -1;
    if (text.at(2) == u'/' && text.at(5) == u'/') {
        day = number(0, 2);
        month = number(3, 2);
        year = number(6, 4);
    } else if (text.at(4) == u'-' && text.at(7) == u'-') {
        year = number(0, 4);
        month = number(5, 2);
        day = number(8, 2);
    }
    if (year < 0 || month < 0 || day < 0)
        return {};
    return QDate(year, month, day);
}

// The stored form of one value; empty *reason when it is good. Every column is read whole: a
// NUL or other control character anywhere refuses the value, before any reading of it could
// stop short at it.
QVariant Check(const ColumnDef &column, const QString &raw, QString *reason) {
    if (const qsizetype at = ControlChars::Find(raw); at >= 0) {
        const QString code = u"%1"_s.arg(uint(raw.at(at).unicode()), 4, 16, QChar(u'0'));
        *reason = u"contém caracteres de controle (U+%1 no caractere %2)"_s.arg(code.toUpper())
                      .arg(at + 1);
        return {};
    }
    switch (column.ColumnType) {
    case Type::Code: {
        QString code;
        if (!CompanyList::ParseCode(raw, code, reason)) {
            // A spreadsheet reads 04 as the number 4 and saves it so.
            const QString trimmed = raw.trimmed();
            if (trimmed.size() == 1 && trimmed.at(0).isDigit())
                *reason += u" A planilha provavelmente tirou o zero à esquerda (era '0%1'?): "
                           "no Excel, abra o arquivo por Dados › De Texto/CSV com a coluna "
                           "como Texto."_s.arg(trimmed);
            return {};
        }
        return code;
    }
    case Type::Text:
        if (raw.isEmpty())
            *reason = u"vazio"_s;
        else if (raw.size() > column.Size)
            *reason = u"tem %1 caracteres; o máximo é %2"_s.arg(raw.size()).arg(column.Size);
        return raw;
    case Type::Date: {
        const QString text = raw.trimmed();
        QDate date = PlainDate(text);
        if (!date.isValid())
            date = QDate::fromString(text, u"dd/MM/yyyy"_s);
        if (!date.isValid())
            date = QDate::fromString(text, u"yyyy-MM-dd"_s);
        if (!date.isValid()) {
            *reason = u"data inválida %1 (use dd/mm/aaaa ou aaaa-mm-dd)"_s.arg(Quoted(raw));
            return {};
        }
        return date.toString(Qt::ISODate);
    }
    case Type::Amount: {
        const std::optional<qint64> cents = ParseAmount(raw);
        if (!cents) {
            *reason = u"valor inválido %1 (até 13 dígitos inteiros e 2 decimais, com vírgula "
                      "ou ponto decimal)"_s.arg(Quoted(raw));
            return {};
        }
        return *cents;
    }
    case Type::Flag: {
        const QString text = raw.trimmed();
        if (text != u"S"_s && text != u"N"_s) {
            if (!column.Needed && text.isEmpty())
                return u"N"_s;
            *reason = u"esperado S ou N, encontrado %1"_s.arg(Quoted(raw));
            return {};
        }
        return text;
    }
    case Type::Number: {
        // Digits and nothing else: a tail after them is no part of the number.
        const QString text = raw.trimmed();
        const bool digits =
            !text.isEmpty() && text.size() <= 10 &&
            std::all_of(text.begin(), text.end(), [](QChar c) { return c >= u'0' && c <= u'9'; });
        const qint64 number = digits ? text.toLongLong() : 0;
        if (number < 1 || number > 2147483647) {
            *reason = u"número inválido %1 (de 1 a 2147483647)"_s.arg(Quoted(raw));
            return {};
        }
        return number;
    }
    }
    return {};
}

// A stored value in the form Check gives, to tell an unchanged row.
QVariant Normalised(const ColumnDef &column, const QVariant &stored) {
    switch (column.ColumnType) {
    case Type::Date:
        return ParamRecord::StoredDate(stored).toString(Qt::ISODate);
    case Type::Amount:
        return CsvImport::StoredCents(stored.toString());
    case Type::Number:
        return stored.toLongLong();
    default:
        return stored.toString();
    }
}

QVariant Bound(const ColumnDef &column, const QVariant &value) {
    return column.ColumnType == Type::Amount
               ? QVariant(CsvImport::CentsText(value.toLongLong(), u'.'))
               : value;
}

// Which keys a file may repeat, told in one pass with little memory: a Bloom filter of the keys'
// digests, sized from the file (up to a byte per 24 bytes of it, some 8 bits a row). A key it
// takes for seen is only a candidate, whose rows the writing pass then follows; one that was not
// repeated after all is counted as any other, so the counts stay exact.
class KeyFilter final {
public:
    explicit KeyFilter(qint64 fileBytes) {
        quint64 bits = 1 << 16;
        while (bits * 2 <= quint64(fileBytes / 3) && bits < (quint64(1) << 36))
            bits <<= 1;
        m_words.assign(bits / 64, 0);
        m_mask = bits - 1;
    }
    // True when every bit of the key was set already: it may have been seen.
    bool SeenOrAdd(quint64 key) {
        const quint64 h1 = Mix(key), h2 = Mix(key ^ 0x5851F42D4C957F2DULL) | 1;
        bool seen = true;
        for (quint64 i = 0; i < 4; ++i) {
            const quint64 bit = (h1 + i * h2) & m_mask;
            quint64 &word = m_words[bit / 64];
            const quint64 flag = quint64(1) << (bit % 64);
            seen = seen && (word & flag) != 0;
            word |= flag;
        }
        return seen;
    }

    static quint64 Mix(quint64 x) {
        x += 0x9E3779B97F4A7C15ULL;
        x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
        x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
        return x ^ (x >> 31);
    }

private:
    std::vector<quint64> m_words;
    quint64 m_mask = 0;
};

// The checked rows between the two passes, in a temporary file, each value as it is bound: a
// number, or text (UTF-8; amounts as "-1234.50"). The writing pass then only binds, and a file
// of millions of rows costs disk, not memory.
class RowBuffer final {
public:
    struct Value {
        bool IsNumber = false;
        qint64 Number = 0;
        QByteArrayView Text; // valid until the next Next
    };
    struct Record {
        qint64 Line = 0;
        bool Removal = false;
        QVarLengthArray<Value, 8> Values;
    };

    bool Open(QString *error) {
        m_file.setFileTemplate(QDir::tempPath() + u"/ger-import-XXXXXX"_s);
        if (m_file.open())
            return true;
        *error = u"não foi possível criar o arquivo temporário da importação em %1: %2"_s.arg(
            QDir::tempPath(), m_file.errorString());
        return false;
    }

    void Append(qint64 line, bool removal, const QVector<ColumnDef> &columns,
                const QVariantList &values) {
        const qsizetype start = m_out.size();
        m_out.append(4, '\0'); // the record's length, filled in below
        putNumber(line);
        m_out.append(char(removal ? 1 : 0));
        for (qsizetype c = 0; c < columns.size(); ++c) {
            const QVariant &value = values[c];
            const Type type = columns[c].ColumnType;
            if (!removal && type == Type::Number) {
                m_out.append(char(1));
                putNumber(value.toLongLong());
                continue;
            }
            m_out.append(char(0));
            const QByteArray text = !removal && type == Type::Amount
                                        ? amountText(value.toLongLong())
                                        : value.toString().toUtf8();
            const quint32 size = quint32(text.size());
            m_out.append(reinterpret_cast<const char *>(&size), sizeof size);
            m_out.append(text);
        }
        const quint32 length = quint32(m_out.size() - start - 4);
        memcpy(m_out.data() + start, &length, sizeof length);
        if (m_out.size() >= (1 << 20))
            flush();
    }

    // Back to the first record, once every row is in.
    bool Rewind(QString *error) {
        flush();
        m_in.clear();
        m_at = 0;
        if (m_file.error() == QFileDevice::NoError && m_file.seek(0))
            return true;
        *error = u"falha no arquivo temporário da importação: %1"_s.arg(m_file.errorString());
        return false;
    }

    bool Next(Record &record) {
        quint32 length = 0;
        if (!ensure(sizeof length))
            return false;
        memcpy(&length, m_in.constData() + m_at, sizeof length);
        m_at += sizeof length;
        if (!ensure(length))
            throw CallFailure{u"io"_s, u"o arquivo temporário da importação terminou antes "
                                       "do esperado"_s};
        const char *p = m_in.constData() + m_at;
        m_at += length;
        record.Line = getNumber(p);
        record.Removal = *p++ != 0;
        record.Values.clear();
        const char *end = m_in.constData() + m_at;
        while (p < end) {
            Value value;
            value.IsNumber = *p++ != 0;
            if (value.IsNumber) {
                value.Number = getNumber(p);
            } else {
                quint32 size = 0;
                memcpy(&size, p, sizeof size);
                p += sizeof size;
                value.Text = QByteArrayView(p, size);
                p += size;
            }
            record.Values.append(value);
        }
        return true;
    }

    // As COPY and the statements bind it: "-1234.50".
    static QByteArray amountText(qint64 cents) {
        const qint64 magnitude = cents < 0 ? -cents : cents;
        QByteArray text = cents < 0 ? QByteArray("-") : QByteArray();
        text.append(QByteArray::number(magnitude / 100));
        text.append('.');
        text.append(char('0' + magnitude % 100 / 10));
        text.append(char('0' + magnitude % 10));
        return text;
    }

private:
    void putNumber(qint64 n) { m_out.append(reinterpret_cast<const char *>(&n), sizeof n); }
    static qint64 getNumber(const char *&p) {
        qint64 n = 0;
        memcpy(&n, p, sizeof n);
        p += sizeof n;
        return n;
    }
    void flush() {
        if (m_out.isEmpty())
            return;
        if (m_file.write(m_out) != m_out.size())
            throw CallFailure{u"io"_s, u"falha ao escrever o arquivo temporário da importação: "
                                       "%1"_s.arg(m_file.errorString())};
        m_out.clear();
    }
    // At least `bytes` unread in m_in; false at the end of the file.
    bool ensure(qsizetype bytes) {
        if (m_in.size() - m_at >= bytes)
            return true;
        m_in.remove(0, m_at);
        m_at = 0;
        while (m_in.size() < bytes) {
            const QByteArray more = m_file.read(qMax<qsizetype>(bytes - m_in.size(), 1 << 20));
            if (more.isEmpty())
                return false;
            m_in.append(more);
        }
        return true;
    }

    QTemporaryFile m_file;
    QByteArray m_out, m_in;
    qsizetype m_at = 0;
};

class Importer final {
public:
    Importer(const KindDef &kind, CsvReader &reader)
        : m_kind(kind)
        , m_reader(reader) {
        for (qsizetype c = 0; c < m_kind.Columns.size() && m_kind.RefersToCompany; ++c) {
            if (m_kind.Columns[c].Name == u"CDEMPRESA"_s)
                m_companyColumn = c;
            if (m_kind.Columns[c].ColumnType == Type::Date)
                m_dateColumn = c;
        }
    }

    // The header: which file column holds which of the kind's columns.
    bool ReadHeader(CsvImport::Outcome &out) {
        CsvReader::Row header;
        if (!m_reader.Next(header)) {
            addError(out, m_reader.Error().isEmpty() ? u"arquivo vazio: falta a linha de "
                                                       "cabeçalho com os nomes das colunas"_s
                                                     : m_reader.Error());
            return false;
        }
        // Excel ends every line with a separator when a column beyond the data was ever used.
        while (header.Fields.size() > 1 && header.Fields.constLast().trimmed().isEmpty())
            header.Fields.removeLast();
        const QString at = u"linha %1"_s.arg(header.Line);
        m_positions.fill(-1, m_kind.Columns.size());
        for (qsizetype i = 0; i < header.Fields.size(); ++i) {
            const QString name = header.Fields[i].trimmed().toUpper();
            qsizetype found = -1;
            for (qsizetype c = 0; c < m_kind.Columns.size(); ++c) {
                if (m_kind.Columns[c].Name == name)
                    found = c;
            }
            if (found < 0)
                addError(out, u"%1: coluna desconhecida %2 (as colunas de %3 são %4)"_s.arg(
                                  at, Quoted(header.Fields[i]), m_kind.Noun, columnNames()));
            else if (m_positions[found] >= 0)
                addError(out, u"%1: coluna %2 repetida"_s.arg(at, name));
            else
                m_positions[found] = i;
        }
        for (qsizetype c = 0; c < m_kind.Columns.size(); ++c) {
            if (m_positions[c] < 0 && m_kind.Columns[c].Needed)
                addError(out, u"%1: falta a coluna %2"_s.arg(at, m_kind.Columns[c].Name));
        }
        m_fieldCount = header.Fields.size();
        return out.ErrorCount == 0;
    }

    void LoadCompanies(QSqlDatabase &db) {
        m_companies.clear();
        QSqlQuery q = Database::Prepare(db, u"SELECT CDEMPRESA FROM EMPRESA"_s);
        Database::Exec(q);
        while (Database::Next(q))
            m_companies.insert(q.value(0).toString());
        m_companyBytes.clear();
        for (const QString &code : std::as_const(m_companies))
            m_companyBytes.insert(code.toUtf8());
    }

    // The definitive closes of the companies, for the rows dated by a company's day.
    void LoadClosed(QSqlDatabase &db) {
        m_closed.clear();
        if (m_dateColumn < 0 || m_companyColumn < 0)
            return;
        const QHash<QString, QDate> closes = ClosedSpan::All(db);
        for (auto it = closes.cbegin(); it != closes.cend(); ++it)
            m_closed.insert(it.key().toUtf8(), it.value());
    }
    bool HasClosed() const { return !m_closed.isEmpty(); }

    // A row on or before its company's close passes only when the table holds it already,
    // unchanged: the same file imports again, nothing in the closed span moves. Nor may a row
    // move a stored one out of a close: where the key is not the company and the day (an
    // entry's number), the stored row's own company and day are judged too. The refusal, or
    // empty; `values` as Check gives them.
    QString closedFault(QSqlDatabase &db, qint64 line, const QVariantList &values) {
        if (m_closed.isEmpty())
            return {};
        const QString code = values[m_companyColumn].toString();
        const auto found = m_closed.constFind(code.toUtf8());
        if (found != m_closed.cend() &&
            values[m_dateColumn].toString() <= found.value().toString(Qt::ISODate)) {
            if (Apply(db, false, values, false) == Result::Unchanged)
                return {};
            return u"linha %1, coluna %2: %3; %4 nov%5s ou alterad%5s com data até esse dia não "
                   "são aceitos"_s.arg(line)
                .arg(m_kind.Columns[m_dateColumn].Name, ClosedSpan::Phrase(code, found.value()),
                     m_kind.Noun, m_kind.Feminine ? u"a"_s : u"o"_s);
        }
        prepareTexts();
        if (m_keys.contains(m_companyColumn) && m_keys.contains(m_dateColumn))
            return {};
        QSqlQuery &read = Database::Statement(db, m_readSql);
        int bind = 0;
        for (const qsizetype c : std::as_const(m_keys))
            read.bindValue(bind++, values[c]);
        Database::Exec(read);
        if (!Database::Next(read)) {
            read.finish();
            return {};
        }
        const QString storedCode = read.value(int(m_rest.indexOf(m_companyColumn))).toString();
        const QDate storedDay =
            ParamRecord::StoredDate(read.value(int(m_rest.indexOf(m_dateColumn))));
        read.finish();
        const auto closed = m_closed.constFind(storedCode.toUtf8());
        if (closed == m_closed.cend() || !storedDay.isValid() || storedDay > closed.value())
            return {};
        if (Apply(db, false, values, false) == Result::Unchanged)
            return {};
        QStringList key;
        for (const qsizetype c : std::as_const(m_keys))
            key.append(values[c].toString());
        return u"linha %1, coluna %2: %5 %3 %4 gravad%5 é de %6 e %7; %8 com data até esse dia "
               "não podem ser alterad%5s nem mudar de data ou de empresa"_s.arg(line)
            .arg(m_kind.Columns[m_keys.constFirst()].Name, m_kind.Noun.chopped(1), key.join(u'/'),
                 m_kind.Feminine ? u"a"_s : u"o"_s, storedDay.toString(u"dd/MM/yyyy"_s),
                 ClosedSpan::Phrase(storedCode, closed.value()), m_kind.Noun);
    }
    // The writing pass asks again: a close made since the first pass counts too.
    void CheckClosed(QSqlDatabase &db, const RowBuffer::Record &record, QVariantList &values) {
        if (m_closed.isEmpty() || record.Removal)
            return;
        decode(record, values);
        if (const QString fault = closedFault(db, record.Line, values); !fault.isEmpty())
            throw CallFailure{u"refused"_s, fault};
    }

    // A buffered row checked again where the database may have changed since the first pass:
    // its company still there, a company to remove still without rows. Throws the refusal.
    void Recheck(QSqlDatabase &db, const RowBuffer::Record &record) {
        if (m_companyColumn >= 0 && !record.Removal) {
            const QByteArrayView code = record.Values[m_companyColumn].Text;
            if (!m_companyBytes.contains(QByteArray::fromRawData(code.data(), code.size())))
                throw CallFailure{
                    u"conflict"_s,
                    u"linha %1, coluna CDEMPRESA: empresa %2 não cadastrada"_s.arg(record.Line)
                        .arg(Quoted(QString::fromUtf8(code)))};
        }
        if (record.Removal) {
            const QString code = QString::fromUtf8(record.Values[0].Text);
            const QStringList using_ = referrers(db, code);
            if (!using_.isEmpty())
                throw CallFailure{u"conflict"_s,
                                  u"linha %1, coluna REMOVER: a empresa %2 não pode ser removida: "
                                  "há registros dela em %3"_s.arg(record.Line)
                                      .arg(Quoted(code), using_.join(u", "_s))};
        }
    }

    // The first pass: every row checked, the good ones kept for the writing pass while the file
    // has no fault. Returns the rows read.
    qint64 CheckAll(QSqlDatabase &db, RowBuffer &buffer, const CsvImport::Progress &progress,
                    CsvImport::Outcome &out) {
        qint64 rows = 0;
        CsvReader::Row row;
        QVariantList values;
        KeyFilter seen(m_reader.Size());
        const auto blank = [](const QString &field) {
            return field.trimmed().isEmpty();
        };
        while (m_reader.Next(row)) {
            // Spreadsheets write the separators of unused columns after the data, and an empty
            // row of the sheet as separators alone.
            if (row.Fields.size() > m_fieldCount &&
                std::all_of(row.Fields.cbegin() + m_fieldCount, row.Fields.cend(), blank))
                row.Fields.resize(m_fieldCount);
            if (std::all_of(row.Fields.cbegin(), row.Fields.cend(), blank))
                continue;
            ++rows;
            if (progress.Checking && rows % 4096 == 0)
                progress.Checking(rows, m_reader.Position(), m_reader.Size());
            if (!CheckRow(db, row, values, out))
                continue;
            // Told with the format's faults, in the same pass: every row a close refuses.
            if (!isRemoval(row)) {
                if (const QString fault = closedFault(db, row.Line, values); !fault.isEmpty()) {
                    addError(out, fault);
                    continue;
                }
            }
            if (out.ErrorCount > 0)
                continue;
            buffer.Append(row.Line, isRemoval(row), m_kind.Columns, values);
            const quint64 key = keyOf(values);
            if (seen.SeenOrAdd(key)) {
                m_candidates.push_back(key);
                if (m_candidates.size() >= 2 * m_compacted + 1024)
                    compactCandidates();
            }
        }
        compactCandidates();
        if (progress.Checking)
            progress.Checking(rows, m_reader.Size(), m_reader.Size());
        if (!m_reader.Error().isEmpty())
            addError(out, m_reader.Error());
        return rows;
    }

    // The writing pass over the buffered rows.
    void WriteAll(QSqlDatabase &db, RowBuffer &buffer, const CsvImport::Progress &progress,
                  qint64 total, CsvImport::Outcome &out) {
        QString error;
        if (!buffer.Rewind(&error))
            throw CallFailure{u"io"_s, error};
        LoadCompanies(db);
        BeginDirect(db);
        const std::unique_ptr<Importer, void (*)(Importer *)> direct(
            this, [](Importer *i) { i->EndDirect(); });
        RowBuffer::Record record;
        QVariantList values;
        m_firstOutcome.assign(m_candidates.size(), NoOutcome);
        qint64 done = 0;
        while (buffer.Next(record)) {
            Recheck(db, record);
            CheckClosed(db, record, values);
            if (record.Removal || !m_insert || !insertRaw(record)) {
                decode(record, values);
                count(record, Apply(db, record.Removal, values, true), out);
            } else {
                count(record, Result::Inserted, out);
            }
            ++done;
            if (progress.Step && done % 256 == 0)
                progress.Step(done, total);
        }
        if (progress.Step)
            progress.Step(done, total);
    }

    // What the writing pass would do, told against the database as it is, writing nothing.
    void Classify(QSqlDatabase &db, RowBuffer &buffer, const CsvImport::Progress &progress,
                  qint64 total, CsvImport::Outcome &out) {
        QString error;
        if (!buffer.Rewind(&error))
            throw CallFailure{u"io"_s, error};
        RowBuffer::Record record;
        QVariantList values;
        m_firstOutcome.assign(m_candidates.size(), NoOutcome);
        qint64 done = 0;
        while (buffer.Next(record)) {
            CheckClosed(db, record, values);
            decode(record, values);
            count(record, Apply(db, record.Removal, values, false), out);
            if (progress.Step && ++done % 256 == 0)
                progress.Step(done, total);
        }
        if (progress.Step)
            progress.Step(done, total);
    }

    // The row's values by the kind's columns; false with every fault added to `out`.
    bool CheckRow(QSqlDatabase &db, const CsvReader::Row &row, QVariantList &values,
                  CsvImport::Outcome &out) {
        values.clear();
        if (row.Fields.size() != m_fieldCount) {
            addError(out, u"linha %1: %2 campos, o cabeçalho tem %3"_s.arg(row.Line)
                              .arg(row.Fields.size())
                              .arg(m_fieldCount));
            return false;
        }
        bool good = true;
        const bool removing = isRemoval(row);
        for (qsizetype c = 0; c < m_kind.Columns.size(); ++c) {
            const ColumnDef &column = m_kind.Columns[c];
            const QString raw = m_positions[c] < 0 ? QString() : row.Fields[m_positions[c]];
            QString reason;
            QVariant value;
            if (removing && !column.Key)
                value = raw;
            else
                value = Check(column, raw, &reason);
            if (reason.isEmpty() && column.Name == u"CDEMPRESA"_s && m_kind.RefersToCompany &&
                !m_companies.contains(value.toString()))
                reason = u"empresa %1 não cadastrada"_s.arg(Quoted(value.toString()));
            if (!reason.isEmpty()) {
                addError(out, u"linha %1, coluna %2: %3"_s.arg(row.Line).arg(column.Name, reason));
                good = false;
            }
            values.append(value);
        }
        if (good && removing) {
            const QStringList using_ = referrers(db, values.constFirst().toString());
            if (!using_.isEmpty()) {
                addError(out,
                         u"linha %1, coluna REMOVER: a empresa %2 não pode ser removida: "
                         "há registros dela em %3"_s.arg(row.Line)
                             .arg(Quoted(values.constFirst().toString()), using_.join(u", "_s)));
                good = false;
            }
        }
        return good;
    }

    enum class Result : quint8 { Inserted, Updated, Unchanged, Removed };

    // Inserts, updates or removes the row's record; with `write` false, only tells which.
    Result Apply(QSqlDatabase &db, bool removal, const QVariantList &values, bool write) {
        prepareTexts();
        int bind = 0;
        if (removal) {
            QSqlQuery &remove = Database::Statement(db, write ? m_deleteSql : m_readSql);
            remove.bindValue(0, values.constFirst());
            Database::Exec(remove);
            const bool gone = write ? remove.numRowsAffected() > 0 : Database::Next(remove);
            remove.finish();
            return gone ? Result::Removed : Result::Unchanged;
        }
        QSqlQuery &read = Database::Statement(db, m_readSql);
        for (const qsizetype c : std::as_const(m_keys))
            read.bindValue(bind++, values[c]);
        Database::Exec(read);
        if (!Database::Next(read)) {
            read.finish();
            if (!write)
                return Result::Inserted;
            QSqlQuery &insert = Database::Statement(db, m_insertSql);
            bind = 0;
            for (const qsizetype c : std::as_const(m_all))
                insert.bindValue(bind++, Bound(m_kind.Columns[c], values[c]));
            Database::Exec(insert);
            return Result::Inserted;
        }
        bool same = true;
        for (qsizetype i = 0; i < m_rest.size(); ++i) {
            const ColumnDef &column = m_kind.Columns[m_rest[i]];
            same = same && Normalised(column, read.value(int(i))) == values[m_rest[i]];
        }
        read.finish();
        if (same)
            return Result::Unchanged;
        if (!write)
            return Result::Updated;
        QSqlQuery &update = Database::Statement(db, m_updateSql);
        bind = 0;
        for (const qsizetype c : std::as_const(m_rest))
            update.bindValue(bind++, Bound(m_kind.Columns[c], values[c]));
        for (const qsizetype c : std::as_const(m_keys))
            update.bindValue(bind++, values[c]);
        Database::Exec(update);
        return Result::Updated;
    }

    // On SQLite, the inserts go straight to the engine: a variant per value through Qt Sql
    // costs more than the insert itself. Ends with EndDirect, before the transaction does.
    void BeginDirect(QSqlDatabase &db) {
        sqlite3 *handle = SqliteReader::Handle(db);
        if (!handle || !m_kind.UniqueKey)
            return;
        prepareTexts();
        const QByteArray sql = m_insertSql.toUtf8();
        sqlite3_stmt *raw = nullptr;
        if (sqlite3_prepare_v3(handle, sql.constData(), int(sql.size()), SQLITE_PREPARE_PERSISTENT,
                               &raw, nullptr) != SQLITE_OK)
            throw QSqlError(u"CsvImport"_s, QString::fromUtf8(sqlite3_errmsg(handle)),
                            QSqlError::StatementError);
        m_handle = handle;
        m_insert = raw;
        // The indexes of a large table take pages from all over the file: a cache of a few
        // megabytes would read them again and again. Only this connection's memory, given back
        // at the end; durability is untouched.
        sqlite3_exec(handle, "PRAGMA cache_size = -24576", nullptr, nullptr, nullptr);
    }
    void EndDirect() {
        if (!m_handle)
            return;
        sqlite3_finalize(m_insert);
        sqlite3_exec(m_handle, "PRAGMA cache_size = -2000", nullptr, nullptr, nullptr);
        m_insert = nullptr;
        m_handle = nullptr;
    }
    ~Importer() { EndDirect(); }

    // On PostgreSQL, the connection's own libpq handle: null elsewhere, and for kinds whose rows
    // may ask for a removal or whose key the table does not hold unique.
    PGconn *CopyHandle(QSqlDatabase &db) const {
        if (!m_kind.UniqueKey || m_kind.Columns.constLast().Name == u"REMOVER"_s || !db.driver())
            return nullptr;
        PGconn *pg = Database::PostgresHandle(db);
        return pg && PQtransactionStatus(pg) == PQTRANS_INTRANS && !PQisBusy(pg) ? pg : nullptr;
    }

    bool TableEmpty(QSqlDatabase &db) const {
        QSqlQuery q = Database::Prepare(db, u"SELECT 1 FROM %1 LIMIT 1"_s.arg(m_kind.Table));
        Database::Exec(q);
        return !Database::Next(q);
    }

    // The whole file streamed by COPY, checked on the way: straight into the table when it is
    // empty (a key twice in the file then fails the COPY, and false sends the caller another
    // way), else into a temporary table merged by key in one statement, whose returned rows
    // tell the new from the changed; a key twice in the file fails that statement, and false
    // again. The savepoint leaves the transaction as it was before a false.
    bool Copy(QSqlDatabase &db, PGconn *pg, RowBuffer &rowBuffer, bool direct,
              const CsvImport::Progress &progress, qint64 total, CsvImport::Outcome &out) {
        prepareTexts();
        QString again;
        if (!rowBuffer.Rewind(&again))
            throw CallFailure{u"io"_s, again};
        LoadCompanies(db);
        const QString columns = columnList(m_all);
        const QString target = direct ? m_kind.Table : u"GER_IMPORT_ROWS"_s;
        pgExec(pg, "SAVEPOINT GER_IMPORT", PGRES_COMMAND_OK);
        if (!direct)
            pgExec(pg,
                   u"CREATE TEMPORARY TABLE GER_IMPORT_ROWS (LIKE %1) ON COMMIT DROP"_s
                       .arg(m_kind.Table)
                       .toUtf8(),
                   PGRES_COMMAND_OK);
        pgExec(pg, u"COPY %1 (%2) FROM STDIN"_s.arg(target, columns).toUtf8(), PGRES_COPY_IN);
        RowBuffer::Record record;
        QByteArray buffer;
        qint64 rows = 0;
        for (;;) {
            try {
                if (!rowBuffer.Next(record))
                    break;
                Recheck(db, record);
            } catch (const CallFailure &) {
                PQputCopyEnd(pg, "import abandoned");
                drain(pg);
                throw;
            }
            appendLine(buffer, record);
            ++rows;
            if (buffer.size() >= 64 * 1024) {
                if (PQputCopyData(pg, buffer.constData(), int(buffer.size())) != 1)
                    break;
                buffer.clear();
            }
            if (progress.Step && rows % 256 == 0)
                progress.Step(rows, total);
        }
        if (!buffer.isEmpty())
            PQputCopyData(pg, buffer.constData(), int(buffer.size()));
        PQputCopyEnd(pg, nullptr);
        const QString state = drain(pg);
        if (!state.isEmpty()) {
            if (direct && state == u"23505"_s)
                return rollBack(pg);
            throw QSqlError(u"CsvImport"_s, QString::fromUtf8(PQerrorMessage(pg)),
                            QSqlError::StatementError, state);
        }
        if (direct) {
            out.Inserted = rows;
        } else {
            QStringList set, mine, theirs;
            for (const qsizetype c : std::as_const(m_rest)) {
                const QString &name = m_kind.Columns[c].Name;
                set << u"%1 = EXCLUDED.%1"_s.arg(name);
                mine << m_kind.Table + u'.' + name;
                theirs << u"EXCLUDED."_s + name;
            }
            const QString merge =
                u"WITH MERGED AS (INSERT INTO %1 (%2) SELECT %2 FROM GER_IMPORT_ROWS "
                "ON CONFLICT (%3) DO UPDATE SET %4 WHERE (%5) IS DISTINCT FROM (%6) "
                "RETURNING (xmax = 0) AS FRESH) "
                "SELECT COUNT(*) FILTER (WHERE FRESH), COUNT(*) FILTER (WHERE NOT FRESH) "
                "FROM MERGED"_s.arg(m_kind.Table, columns, columnList(m_keys), set.join(u", "_s),
                                    mine.join(u", "_s), theirs.join(u", "_s));
            PGresult *result = PQexec(pg, merge.toUtf8().constData());
            const std::unique_ptr<PGresult, void (*)(PGresult *)> owned(result, PQclear);
            if (PQresultStatus(result) != PGRES_TUPLES_OK) {
                const char *code = PQresultErrorField(result, PG_DIAG_SQLSTATE);
                // A key twice in the file: the same row cannot be merged twice by one statement.
                if (code && qstrcmp(code, "21000") == 0)
                    return rollBack(pg);
                throw QSqlError(u"CsvImport"_s, QString::fromUtf8(PQresultErrorMessage(result)),
                                QSqlError::StatementError, QString::fromLatin1(code));
            }
            out.Inserted = QByteArray(PQgetvalue(result, 0, 0)).toLongLong();
            out.Updated = QByteArray(PQgetvalue(result, 0, 1)).toLongLong();
            out.Unchanged = rows - out.Inserted - out.Updated;
            pgExec(pg, "DROP TABLE GER_IMPORT_ROWS", PGRES_COMMAND_OK);
        }
        pgExec(pg, "RELEASE SAVEPOINT GER_IMPORT", PGRES_COMMAND_OK);
        out.Rows = rows;
        if (progress.Step)
            progress.Step(rows, total);
        return true;
    }

    static void addError(CsvImport::Outcome &out, const QString &text) {
        if (out.Errors.size() < CsvImport::MaxListedErrors)
            out.Errors.append(text);
        ++out.ErrorCount;
    }

private:
    void prepareTexts() {
        if (!m_insertSql.isEmpty())
            return;
        for (qsizetype c = 0; c < m_kind.Columns.size(); ++c) {
            if (m_kind.Columns[c].Key)
                m_keys.append(c);
            else if (m_kind.Columns[c].Stored)
                m_rest.append(c);
        }
        m_all = m_keys + m_rest;
        const auto names = [&](const QVector<qsizetype> &which, const QString &suffix,
                               const QString &glue) {
            QStringList parts;
            for (const qsizetype c : which)
                parts << m_kind.Columns[c].Name + suffix;
            return parts.join(glue);
        };
        const QString where = names(m_keys, u" = ?"_s, u" AND "_s);
        m_deleteSql = u"DELETE FROM %1 WHERE %2"_s.arg(m_kind.Table, where);
        m_readSql = u"SELECT %1 FROM %2 WHERE %3"_s.arg(names(m_rest, QString(), u", "_s),
                                                        m_kind.Table, where);
        m_insertSql = u"INSERT INTO %1 (%2) VALUES (%3)"_s.arg(
            m_kind.Table, names(m_all, QString(), u", "_s),
            QStringList(m_all.size(), u"?"_s).join(u", "_s));
        m_updateSql = u"UPDATE %1 SET %2 WHERE %3"_s.arg(m_kind.Table,
                                                         names(m_rest, u" = ?"_s, u", "_s), where);
    }

    // True when the row went in; false when the key is taken. Bound as Qt Sql binds the same
    // values, so the stored form is the same either way.
    bool insertRaw(const RowBuffer::Record &record) {
        int bind = 1;
        for (const qsizetype c : std::as_const(m_all)) {
            const RowBuffer::Value &value = record.Values[c];
            if (value.IsNumber)
                sqlite3_bind_int64(m_insert, bind++, value.Number);
            else
                sqlite3_bind_text(m_insert, bind++, value.Text.data(), int(value.Text.size()),
                                  SQLITE_STATIC);
        }
        const int rc = sqlite3_step(m_insert);
        const int extended = sqlite3_extended_errcode(m_handle);
        sqlite3_reset(m_insert);
        if (rc == SQLITE_DONE)
            return true;
        if (extended == SQLITE_CONSTRAINT_PRIMARYKEY || extended == SQLITE_CONSTRAINT_UNIQUE)
            return false;
        throw QSqlError(u"CsvImport"_s, QString::fromUtf8(sqlite3_errmsg(m_handle)),
                        QSqlError::StatementError, QString::number(extended));
    }

    // A buffered row in the form Check gives, for the statements of Qt Sql.
    void decode(const RowBuffer::Record &record, QVariantList &values) const {
        values.clear();
        for (qsizetype c = 0; c < m_kind.Columns.size(); ++c) {
            const RowBuffer::Value &value = record.Values[c];
            if (value.IsNumber)
                values.append(value.Number);
            else if (!record.Removal && m_kind.Columns[c].ColumnType == Type::Amount)
                values.append(CsvImport::StoredCents(QString::fromLatin1(value.Text)));
            else
                values.append(QString::fromUtf8(value.Text));
        }
    }

    QString columnList(const QVector<qsizetype> &which) const {
        QStringList names;
        for (const qsizetype c : which)
            names << m_kind.Columns[c].Name;
        return names.join(u", "_s);
    }

    // One row in COPY's text form. The checks let no control character through, so a backslash
    // is all there is to escape.
    void appendLine(QByteArray &buffer, const RowBuffer::Record &record) const {
        bool first = true;
        for (const qsizetype c : std::as_const(m_all)) {
            if (!first)
                buffer.append('\t');
            first = false;
            const RowBuffer::Value &value = record.Values[c];
            if (value.IsNumber)
                buffer.append(QByteArray::number(value.Number));
            else if (value.Text.contains('\\'))
                buffer.append(value.Text.toByteArray().replace("\\", "\\\\"));
            else
                buffer.append(value.Text);
        }
        buffer.append('\n');
    }

    static void pgExec(PGconn *pg, const QByteArray &sql, ExecStatusType expected) {
        PGresult *result = PQexec(pg, sql.constData());
        const std::unique_ptr<PGresult, void (*)(PGresult *)> owned(result, PQclear);
        if (PQresultStatus(result) != expected)
            throw QSqlError(u"CsvImport"_s, QString::fromUtf8(PQresultErrorMessage(result)),
                            QSqlError::StatementError,
                            QString::fromLatin1(PQresultErrorField(result, PG_DIAG_SQLSTATE)));
    }

    // Every result left on the connection; the SQLSTATE of the first failure, empty if none.
    static QString drain(PGconn *pg) {
        QString state;
        while (PGresult *result = PQgetResult(pg)) {
            const ExecStatusType status = PQresultStatus(result);
            if (state.isEmpty() && status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
                const char *code = PQresultErrorField(result, PG_DIAG_SQLSTATE);
                state = code ? QString::fromLatin1(code) : u"XX000"_s;
            }
            PQclear(result);
        }
        return state;
    }

    static bool rollBack(PGconn *pg) {
        pgExec(pg, "ROLLBACK TO SAVEPOINT GER_IMPORT", PGRES_COMMAND_OK);
        pgExec(pg, "RELEASE SAVEPOINT GER_IMPORT", PGRES_COMMAND_OK);
        return false;
    }

    bool isRemoval(const CsvReader::Row &row) const {
        const qsizetype c = m_kind.Columns.size() - 1;
        return m_kind.Columns[c].Name == u"REMOVER"_s && m_positions[c] >= 0 &&
               row.Fields.value(m_positions[c]).trimmed() == u"S"_s;
    }

    QStringList referrers(QSqlDatabase &db, const QString &code) {
        QStringList found;
        for (const QString &table : Referrers) {
            QSqlQuery &q = Database::Statement(
                db, u"SELECT 1 FROM %1 WHERE CDEMPRESA = ? LIMIT 1"_s.arg(table));
            q.bindValue(0, code);
            Database::Exec(q);
            if (Database::Next(q))
                found << table;
            q.finish();
        }
        return found;
    }

    void compactCandidates() {
        std::sort(m_candidates.begin(), m_candidates.end());
        m_candidates.erase(std::unique(m_candidates.begin(), m_candidates.end()),
                           m_candidates.end());
        m_compacted = m_candidates.size();
    }

    // A key the file holds once is counted by what its row did; a key it repeats, once, by what
    // its rows did together: a change after "unchanged" makes it changed, a removal removed.
    void count(const RowBuffer::Record &record, Result result, CsvImport::Outcome &out) {
        const auto counter = [&out](Result r) -> qint64 & {
            switch (r) {
            case Result::Inserted:
                return out.Inserted;
            case Result::Updated:
                return out.Updated;
            case Result::Unchanged:
                return out.Unchanged;
            case Result::Removed:
                break;
            }
            return out.Removed;
        };
        if (!m_candidates.empty()) {
            const quint64 key = keyOf(record);
            const auto at = std::lower_bound(m_candidates.cbegin(), m_candidates.cend(), key);
            if (at != m_candidates.cend() && *at == key) {
                quint8 &first = m_firstOutcome[size_t(at - m_candidates.cbegin())];
                if (first != NoOutcome) {
                    const Result prior = Result(first);
                    Result merged = prior;
                    if (result == Result::Removed && prior != Result::Removed)
                        merged = Result::Removed;
                    else if (prior == Result::Unchanged && result == Result::Updated)
                        merged = Result::Updated;
                    --counter(prior);
                    ++counter(merged);
                    first = quint8(merged);
                    return;
                }
                first = quint8(result);
            }
        }
        ++counter(result);
        ++out.Rows;
    }

    static quint64 digest(QByteArrayView bytes, quint64 seed) {
        return quint64(qHashBits(bytes.data(), size_t(bytes.size()), size_t(seed)));
    }

    // The digest of a row's key, alike from the checked values and from the buffered record.
    quint64 keyOf(const QVariantList &values) const {
        quint64 h = 0;
        for (qsizetype c = 0; c < m_kind.Columns.size(); ++c) {
            if (!m_kind.Columns[c].Key)
                continue;
            h = m_kind.Columns[c].ColumnType == Type::Number
                    ? KeyFilter::Mix(h ^ quint64(values[c].toLongLong()))
                    : KeyFilter::Mix(h ^ digest(values[c].toString().toUtf8(), h));
        }
        return h;
    }
    quint64 keyOf(const RowBuffer::Record &record) const {
        quint64 h = 0;
        for (qsizetype c = 0; c < m_kind.Columns.size(); ++c) {
            if (!m_kind.Columns[c].Key)
                continue;
            const RowBuffer::Value &v = record.Values[c];
            h = v.IsNumber ? KeyFilter::Mix(h ^ quint64(v.Number))
                           : KeyFilter::Mix(h ^ digest(v.Text, h));
        }
        return h;
    }

    QString columnNames() const {
        QStringList all;
        for (const ColumnDef &c : m_kind.Columns)
            all << c.Name;
        return all.join(u", "_s);
    }

    const KindDef &m_kind;
    CsvReader &m_reader;
    QVector<qsizetype> m_positions;
    qsizetype m_fieldCount = 0;
    QSet<QString> m_companies;
    QSet<QByteArray> m_companyBytes;
    qsizetype m_companyColumn = -1;    // CDEMPRESA, where it must be in EMPRESA
    qsizetype m_dateColumn = -1;       // the day a row is dated by
    QHash<QByteArray, QDate> m_closed; // the definitive closes, by company
    QVector<qsizetype> m_keys, m_rest, m_all;
    QString m_deleteSql, m_readSql, m_insertSql, m_updateSql;
    sqlite3 *m_handle = nullptr;
    sqlite3_stmt *m_insert = nullptr;
    // The keys the file may hold more than once, in order, and what their rows did so far.
    std::vector<quint64> m_candidates;
    size_t m_compacted = 0;
    static constexpr quint8 NoOutcome = 0xFF;
    std::vector<quint8> m_firstOutcome;
};

} // namespace

namespace CsvImport {

QStringList Kinds() {
    return {u"empresas"_s, u"saldos"_s, u"lancamentos"_s};
}

qint64 StoredCents(const QString &stored) {
    const bool negative = stored.startsWith(u'-');
    const QString digits = negative ? stored.mid(1) : stored;
    const qsizetype point = digits.indexOf(u'.');
    const QString fraction = point < 0 ? QString() : digits.mid(point + 1);
    qint64 cents = digits.left(point).toLongLong() * 100 +
                   fraction.left(2).leftJustified(2, u'0').toLongLong();
    if (fraction.size() > 2 && fraction.at(2) >= u'5')
        ++cents;
    return negative ? -cents : cents;
}

QString CentsText(qint64 cents, QChar mark) {
    const qint64 magnitude = cents < 0 ? -cents : cents;
    return u"%1%2%3%4"_s.arg(cents < 0 ? u"-"_s : QString())
        .arg(magnitude / 100)
        .arg(mark)
        .arg(magnitude % 100, 2, 10, QChar(u'0'));
}

QString Outcome::Summary() const {
    const QLocale br(QLocale::Portuguese, QLocale::Brazil);
    const QChar g = Feminine ? u'a' : u'o';
    QString text = u"%1 %2: %3 nov%6s, %4 alterad%6s, %5 iguais"_s.arg(
        br.toString(Rows), Noun, br.toString(Inserted), br.toString(Updated),
        br.toString(Unchanged), g);
    if (Removed > 0)
        text += u", %1 removid%2s"_s.arg(br.toString(Removed), g);
    return text;
}

Outcome Run(Database &database, const QString &kind, const QString &path, const Progress &progress,
            bool dryRun) {
    Outcome out;
    const KindDef *def = Find(kind);
    out.Noun = def->Noun;
    out.Feminine = def->Feminine;
    CsvReader reader;
    QString error;
    if (!reader.Open(path, &error)) {
        Importer::addError(out, error);
        return out;
    }
    Importer importer(*def, reader);
    RowBuffer buffer;
    if (!buffer.Open(&error)) {
        Importer::addError(out, error);
        return out;
    }
    try {
        // First pass: every row checked and made ready to bind, nothing written, so a bad file
        // is told whole and the writing pass holds the write lock no longer than it must.
        qint64 rows = 0;
        database.Transaction(Database::Access::Read, [&](QSqlDatabase &db) {
            db.setNumericalPrecisionPolicy(QSql::HighPrecision);
            if (!importer.ReadHeader(out))
                return;
            importer.LoadCompanies(db);
            importer.LoadClosed(db);
            rows = importer.CheckAll(db, buffer, progress, out);
        });
        if (out.ErrorCount > 0)
            return out;
        if (dryRun) {
            database.Transaction(Database::Access::Read, [&](QSqlDatabase &db) {
                db.setNumericalPrecisionPolicy(QSql::HighPrecision);
                out.Inserted = out.Updated = out.Unchanged = out.Removed = out.Rows = 0;
                importer.LoadClosed(db);
                importer.Classify(db, buffer, progress, rows, out);
            });
            out.Ok = true;
            return out;
        }
        // Second pass, in one transaction: the rows as checked, and checked again only for
        // what the database may have changed meanwhile, the first failure rolling back all.
        QElapsedTimer held;
        database.Transaction(Database::Access::Write, [&](QSqlDatabase &db) {
            held.start();
            db.setNumericalPrecisionPolicy(QSql::HighPrecision);
            out.Inserted = out.Updated = out.Unchanged = out.Removed = out.Rows = 0;
            // COPY cannot ask about a row while it streams: a closed company's rows go one by one.
            importer.LoadClosed(db);
            if (PGconn *pg = importer.HasClosed() ? nullptr : importer.CopyHandle(db)) {
                if (importer.TableEmpty(db) &&
                    importer.Copy(db, pg, buffer, true, progress, rows, out))
                    return;
                if (importer.Copy(db, pg, buffer, false, progress, rows, out))
                    return;
                out.Inserted = out.Updated = out.Unchanged = out.Rows = 0;
            }
            importer.WriteAll(db, buffer, progress, rows, out);
        });
        out.WriteMs = held.elapsed();
    } catch (const CallFailure &failure) {
        out.Inserted = out.Updated = out.Unchanged = out.Removed = 0;
        Importer::addError(out, failure.Message);
        return out;
    }
    out.Ok = true;
    return out;
}

} // namespace CsvImport
