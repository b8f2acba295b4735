#include "csvexport.h"

#include "csvimport.h"
#include "database.h"
#include "historychain.h"
#include "paramrecord.h"

#include <QDateTime>
#include <QFile>
#include <QHash>
#include <QTemporaryFile>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

// UtcTime: the history's moment exactly as its chain hashes it (UTC, milliseconds).
enum class Type { Text, Date, Timestamp, Amount, UtcTime };

struct Column {
    Column(QString name, Type type = Type::Text, QString expr = {})
        : Name(std::move(name))
        , ColumnType(type)
        , Expr(std::move(expr)) {}
    QString Name;
    Type ColumnType = Type::Text;
    QString Expr; // what is selected, when it is not the column itself
};

struct KindDef {
    QString Table;
    QString Order;
    QVector<Column> Columns;
};

KindDef Find(const QString &kind) {
    if (kind == u"empresas"_s)
        return {u"EMPRESA"_s, u"CDEMPRESA"_s, {{u"CDEMPRESA"_s}, {u"NMEMPRESA"_s}}};
    if (kind == u"saldos"_s)
        return {u"SALDEMPR"_s,
                u"CDEMPRESA, DTSALDEMPR, CDCONTA"_s,
                {{u"CDEMPRESA"_s},
                 {u"DTSALDEMPR"_s, Type::Date},
                 {u"CDCONTA"_s},
                 {u"VRSALDODEB"_s, Type::Amount},
                 {u"VRSALDOCRED"_s, Type::Amount}}};
    if (kind == u"lancamentos"_s)
        return {u"LANCCONT"_s,
                u"NRLANC"_s,
                {{u"NRLANC"_s},
                 {u"CDEMPRESA"_s},
                 {u"DTLANC"_s, Type::Date},
                 {u"CDCONTA"_s},
                 {u"VRLANC"_s, Type::Amount},
                 {u"IDEVOLUIDO"_s},
                 {u"IDRECALCFISC"_s}}};
    if (kind == u"parametros"_s) {
        KindDef def{u"CONTOPECTBL"_s, u"CDEMPRESA"_s, {}};
        for (const ParamRecord::Column &c : ParamRecord::StoredColumns())
            def.Columns.append({QString::fromLatin1(c.Name),
                                c.ColumnKind == ParamRecord::Kind::Date ? Type::Date : Type::Text});
        return def;
    }
    if (kind == u"paramgeral"_s)
        return {u"PARAMGERAL"_s, u"IDPARAMGERAL"_s, {{u"IDCONTAJUDTCOMP"_s}}};
    if (kind == u"fechamentos"_s)
        return {u"FECHAPERIODO"_s,
                u"DTREGISTRO, CDEMPRESA"_s,
                {{u"CDEMPRESA"_s},
                 {u"DSDATA"_s},
                 {u"NMOPERADOR"_s},
                 {u"DTREGISTRO"_s, Type::Timestamp}}};
    // In the chain's order, each row with the hash it follows, so the file verifies on its own
    // (the first row follows the chain's anchor); rows outside the chain last.
    if (kind == u"historico"_s)
        return {u"HISTALTERACAO"_s,
                u"NRCADEIA IS NULL, NRCADEIA, DTALTERACAO, IDALTERACAO, NRSEQ"_s,
                {{u"NRCADEIA"_s},
                 {u"IDALTERACAO"_s},
                 {u"NRSEQ"_s},
                 {u"DTALTERACAO"_s, Type::UtcTime},
                 {u"NMOPERADOR"_s},
                 {u"IDVERIFICADO"_s},
                 {u"NMMETODO"_s},
                 {u"IDOPERACAO"_s},
                 {u"CDEMPRESA"_s},
                 {u"NMCAMPO"_s},
                 {u"TPCAMPO"_s},
                 {u"VLANTERIOR"_s},
                 {u"VLNOVO"_s},
                 {u"CDHASHANTERIOR"_s, Type::Text,
                  u"CASE WHEN NRCADEIA IS NULL THEN NULL ELSE COALESCE(LAG(CDHASH) OVER (ORDER "
                  "BY NRCADEIA IS NULL, NRCADEIA), (SELECT CDANCORA FROM HISTCADEIA)) END"_s},
                 {u"CDHASH"_s}}};
    return {};
}

QString Formatted(const Column &column, const QVariant &value) {
    if (value.isNull())
        return {};
    switch (column.ColumnType) {
    case Type::Date: {
        const QDate date = ParamRecord::StoredDate(value);
        return date.isValid() ? date.toString(u"dd/MM/yyyy"_s) : QString();
    }
    case Type::Timestamp: {
        QDateTime time = value.toDateTime();
        if (value.metaType().id() != QMetaType::QDateTime)
            time = QDateTime::fromString(value.toString().replace(u' ', u'T'), Qt::ISODate);
        return time.isValid() ? time.toString(u"dd/MM/yyyy HH:mm:ss"_s) : value.toString();
    }
    case Type::Amount:
        return CsvImport::CentsText(CsvImport::StoredCents(value.toString()), u',');
    case Type::UtcTime:
        return HistoryChain::TimeText(value);
    case Type::Text:
        break;
    }
    return value.toString();
}

// A character Windows-1252 holds, as its byte; 0 when it holds none. The C1 codes that
// Windows-1252 leaves unassigned are kept as those bytes, as the import reads them.
char Cp1252(char16_t c) {
    static const QHash<char16_t, char> high = [] {
        const char16_t table[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
        QHash<char16_t, char> map;
        for (int i = 0; i < 32; ++i)
            map.insert(table[i], char(0x80 + i));
        return map;
    }();
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF))
        return char(c);
    return high.value(c, '\0');
}

// The field's bytes in `encoding`; the first character Windows-1252 lacks, in *missing.
QByteArray Encoded(const QString &field, CsvExport::Encoding encoding, QString *missing) {
    if (encoding != CsvExport::Encoding::Windows1252)
        return field.toUtf8();
    QByteArray bytes;
    bytes.reserve(field.size());
    for (qsizetype i = 0; i < field.size(); ++i) {
        const char16_t c = field.at(i).unicode();
        const char b = c == 0 ? '\0' : Cp1252(c);
        if (b == '\0') {
            *missing = field.mid(i, QChar::isHighSurrogate(c) ? 2 : 1);
            return {};
        }
        bytes += b;
    }
    return bytes;
}

// Quotes only where the reader needs them, so a plain file stays plain.
void Append(QByteArray &out, const QByteArray &bytes) {
    const bool quote = bytes.contains(';') || bytes.contains('"') || bytes.contains('\n') ||
                       bytes.contains('\r') || bytes.startsWith(' ') || bytes.endsWith(' ');
    if (!quote) {
        out += bytes;
        return;
    }
    out += '"';
    for (const char c : bytes) {
        if (c == '"')
            out += '"';
        out += c;
    }
    out += '"';
}

} // namespace

namespace CsvExport {

QStringList Kinds() {
    return {u"empresas"_s,   u"saldos"_s,      u"lancamentos"_s, u"parametros"_s,
            u"paramgeral"_s, u"fechamentos"_s, u"historico"_s};
}

bool ParseEncoding(const QString &name, Encoding &encoding) {
    if (name == u"utf8"_s)
        encoding = Encoding::Utf8;
    else if (name == u"utf8-bom"_s)
        encoding = Encoding::Utf8Bom;
    else if (name == u"cp1252"_s)
        encoding = Encoding::Windows1252;
    else
        return false;
    return true;
}

bool Run(Database &database, const QString &kind, const QString &path, Encoding encoding,
         qint64 *rows, QString *error, const QString &condition, ChainEnds *ends) {
    const KindDef def = Find(kind);
    const bool toStdout = path == u"-"_s;
    // Written beside the file and put in its place only when whole: an export that fails leaves
    // last month's file as it was. The group's books, like its backups: its owner's alone (a
    // temporary file is made so).
    QFile out;
    QTemporaryFile beside(path + u".XXXXXX"_s);
    QFileDevice &file = toStdout ? static_cast<QFileDevice &>(out) : beside;
    const bool opened = toStdout ? out.open(stdout, QIODevice::WriteOnly) : beside.open();
    if (!opened) {
        *error = u"não foi possível escrever em %1: %2"_s.arg(path, file.errorString());
        return false;
    }
    *rows = 0;
    QStringList names, selected;
    for (const Column &c : def.Columns) {
        names << c.Name;
        selected << (c.Expr.isEmpty() ? c.Name : c.Expr);
    }
    QByteArray buffer;
    qint64 flushed = 0;
    const auto flush = [&] {
        flushed += buffer.size();
        if (file.write(buffer) != buffer.size())
            throw CallFailure{u"io"_s,
                              u"falha ao escrever em %1: %2"_s.arg(path, file.errorString())};
        buffer.clear();
    };
    const auto fail = [&](const QString &why) {
        *error = why;
        return false; // the file beside goes with `beside`
    };
    try {
        // One read transaction: the file is one moment of the database.
        database.Transaction(Database::Access::Read, [&](QSqlDatabase &db) {
            // A read started over (its connection lost before it began) writes the file anew;
            // what already went to standard output cannot be taken back.
            if (flushed > 0) {
                if (toStdout)
                    throw CallFailure{u"database"_s, Database::Unreachable()};
                if (!file.seek(0) || !file.resize(0))
                    throw CallFailure{
                        u"io"_s, u"falha ao escrever em %1: %2"_s.arg(path, file.errorString())};
                flushed = 0;
            }
            *rows = 0;
            if (ends)
                *ends = {};
            buffer = encoding == Encoding::Utf8Bom ? QByteArray("\xEF\xBB\xBF") : QByteArray();
            buffer += names.join(u';').toUtf8() + "\r\n";
            QSqlQuery q(db);
            q.setForwardOnly(true);
            q.setNumericalPrecisionPolicy(QSql::HighPrecision);
            if (!q.exec(u"SELECT %1 FROM %2%3 ORDER BY %4"_s.arg(
                    selected.join(u", "_s), def.Table,
                    condition.isEmpty() ? QString() : u" WHERE "_s + condition, def.Order)))
                throw q.lastError();
            QString missing;
            while (Database::Next(q)) {
                for (qsizetype i = 0; i < def.Columns.size(); ++i) {
                    if (i > 0)
                        buffer += ';';
                    const QString field = Formatted(def.Columns[i], q.value(int(i)));
                    const QByteArray bytes = Encoded(field, encoding, &missing);
                    if (!missing.isEmpty())
                        throw CallFailure{
                            u"refused"_s,
                            u"linha %1, coluna %2: o caractere %3 (U+%4) não existe em "
                            "Windows-1252; exporte com --encoding utf8-bom"_s.arg(*rows + 2)
                                .arg(def.Columns[i].Name, missing)
                                .arg(
                                    u"%1"_s.arg(uint(missing.toUcs4().value(0)), 4, 16, QChar(u'0'))
                                        .toUpper())};
                    Append(buffer, bytes);
                }
                buffer += "\r\n";
                ++*rows;
                // The history's columns: NRCADEIA first, CDHASHANTERIOR and CDHASH last.
                if (ends && kind == u"historico"_s && !q.value(0).isNull()) {
                    const qsizetype n = def.Columns.size();
                    if (ends->FirstChain.isEmpty()) {
                        ends->FirstChain = q.value(0).toString();
                        ends->FirstPrevious = q.value(int(n - 2)).toString();
                    }
                    ends->LastChain = q.value(0).toString();
                    ends->LastHash = q.value(int(n - 1)).toString();
                }
                if (buffer.size() > 64 * 1024)
                    flush();
            }
            flush();
        });
    } catch (const CallFailure &failure) {
        return fail(failure.Message);
    }
    if (!file.flush())
        return fail(u"falha ao escrever em %1: %2"_s.arg(path, file.errorString()));
    if (toStdout)
        return true;
    if (::fsync(beside.handle()) != 0 ||
        std::rename(QFile::encodeName(beside.fileName()).constData(),
                    QFile::encodeName(path).constData()) != 0)
        return fail(u"falha ao gravar %1: %2"_s.arg(path, QString::fromLocal8Bit(
                                                             std::strerror(errno))));
    beside.setAutoRemove(false);
    return true;
}

} // namespace CsvExport
