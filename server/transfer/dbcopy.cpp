#include "dbcopy.h"

#include "database.h"
#include "migrations.h"
#include "paramrecord.h"
#include "serverlog.h"
#include "serveroptions.h"
#include "storedcheck.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLocale>
#include <QSqlDriver>
#include <QSqlRecord>
#include <QtEndian>

#include <libpq-fe.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <functional>
#include <optional>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

constexpr int ExitFailure = 1;
constexpr int ExitUsage = 2;

// Timestamps are kept on SQLite as text in the form the server writes each column: the period
// closings as local clock time, the history as UTC with its "Z". The copy writes them the same
// way, so the server's own text comparisons on SQLite keep working on a copied file.
enum class Type { Text, Integer, Date, Amount, LocalTime, UtcTime };

struct Column {
    QString Name;
    Type ColumnType = Type::Text;
};

struct Table {
    QString Name;
    QVector<Column> Columns;
    // The schema itself gives the table its row (the history chain's head): the source's
    // replaces it.
    bool MadeBySchema = false;
};

// Parents first: every key to EMPRESA holds at each insert.
QVector<Table> Tables() {
    QVector<Column> record;
    for (const ParamRecord::Column &c : ParamRecord::StoredColumns())
        record.append({QString::fromLatin1(c.Name),
                       c.ColumnKind == ParamRecord::Kind::Date ? Type::Date : Type::Text});
    return {
        {u"EMPRESA"_s, {{u"CDEMPRESA"_s}, {u"NMEMPRESA"_s}}},
        {u"PARAMGERAL"_s, {{u"IDPARAMGERAL"_s, Type::Integer}, {u"IDCONTAJUDTCOMP"_s}}},
        {u"CONTOPECTBL"_s, record},
        {u"SALDEMPR"_s,
         {{u"CDEMPRESA"_s},
          {u"DTSALDEMPR"_s, Type::Date},
          {u"CDCONTA"_s},
          {u"VRSALDODEB"_s, Type::Amount},
          {u"VRSALDOCRED"_s, Type::Amount}}},
        {u"LANCCONT"_s,
         {{u"NRLANC"_s, Type::Integer},
          {u"CDEMPRESA"_s},
          {u"DTLANC"_s, Type::Date},
          {u"CDCONTA"_s},
          {u"VRLANC"_s, Type::Amount},
          {u"IDEVOLUIDO"_s},
          {u"IDRECALCFISC"_s}}},
        {u"FECHAPERIODO"_s,
         {{u"CDEMPRESA"_s}, {u"DSDATA"_s}, {u"NMOPERADOR"_s}, {u"DTREGISTRO"_s, Type::LocalTime}}},
        {u"ENCERRAMENTO"_s,
         {{u"CDEMPRESA"_s},
          {u"DTENCERRAMENTO"_s, Type::Date},
          {u"DSMOTIVO"_s},
          {u"NMOPERADOR"_s},
          {u"DTREGISTRO"_s, Type::UtcTime}}},
        {u"EXCECAO"_s,
         {{u"NREXCECAO"_s, Type::Integer},
          {u"CDEMPRESA"_s},
          {u"CDMODULO"_s},
          {u"DTINICIO"_s, Type::Date},
          {u"DTFIM"_s, Type::Date},
          {u"DTEXPIRA"_s},
          {u"DSMOTIVO"_s},
          {u"NMCLIENTE"_s},
          {u"NMOPERADOR"_s},
          {u"DTREGISTRO"_s},
          {u"DTREVOGACAO"_s},
          {u"NMREVOGADOR"_s},
          {u"DSMOTIVOREVOGACAO"_s}}},
        {u"HISTALTERACAO"_s,
         {{u"IDALTERACAO"_s},
          {u"NRSEQ"_s, Type::Integer},
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
          {u"NRCADEIA"_s, Type::Integer},
          {u"CDHASH"_s}}},
        {u"HISTCADEIA"_s,
         {{u"IDCADEIA"_s, Type::Integer},
          {u"NRULTIMO"_s, Type::Integer},
          {u"CDULTIMO"_s},
          {u"NRANCORA"_s, Type::Integer},
          {u"CDANCORA"_s}},
         true},
    };
}

QString ColumnList(const Table &table) {
    QStringList names;
    for (const Column &c : table.Columns)
        names << c.Name;
    return names.join(u", "_s);
}

void Print(FILE *to, const QString &text) {
    std::fprintf(to, "%s\n", text.toUtf8().constData());
}

QString Count(qint64 n) {
    return QLocale(QLocale::Portuguese, QLocale::Brazil).toString(n);
}

QString Rows(qint64 n) {
    return Count(n) + (n == 1 ? u" linha"_s : u" linhas"_s);
}

// A decimal number in one form whatever engine hands it out: "1234.50", "1234.5" and
// SQLite's "1234.5" of a REAL all "1234.5"; "100.00" and "100" both "100". Nothing rounded.
std::optional<QString> ExactDecimal(QString text) {
    text = text.trimmed();
    if (text.contains(u'e') || text.contains(u'E')) {
        // SQLite writes a REAL far from 1 with an exponent; fifteen digits are all it holds.
        bool ok = false;
        const double value = text.toDouble(&ok);
        if (!ok)
            return std::nullopt;
        text = QString::number(value, 'f', 15);
    }
    const bool negative = text.startsWith(u'-');
    if (negative || text.startsWith(u'+'))
        text.remove(0, 1);
    const qsizetype point = text.indexOf(u'.');
    QString whole = point < 0 ? text : text.left(point);
    QString fraction = point < 0 ? QString() : text.mid(point + 1);
    const auto digits = [](const QString &s) {
        return std::all_of(s.begin(), s.end(), [](QChar c) { return c >= u'0' && c <= u'9'; });
    };
    if ((whole.isEmpty() && fraction.isEmpty()) || !digits(whole) || !digits(fraction))
        return std::nullopt;
    while (whole.size() > 1 && whole.startsWith(u'0'))
        whole.remove(0, 1);
    if (whole.isEmpty())
        whole = u"0"_s;
    while (fraction.endsWith(u'0'))
        fraction.chop(1);
    const bool zero = whole == u"0"_s && fraction.isEmpty();
    return (negative && !zero ? u"-"_s : QString()) + whole +
           (fraction.isEmpty() ? QString() : u"."_s + fraction);
}

// A value as the server reads it, in the form both engines take alike: text, a whole number,
// an ISO date, an amount exactly as stored, a point in time.
QVariant Normalised(const Table &table, const Column &column, const QVariant &stored) {
    if (stored.isNull())
        return {};
    const auto unreadable = [&] {
        return CallFailure{u"inconsistency"_s,
                           u"%1.%2: valor ilegível '%3'"_s.arg(table.Name, column.Name,
                                                               stored.toString().left(40))};
    };
    switch (column.ColumnType) {
    case Type::Text:
        return stored.toString();
    case Type::Integer: {
        bool ok = false;
        const qlonglong n = stored.toString().toLongLong(&ok);
        if (!ok)
            throw unreadable();
        return n;
    }
    case Type::Date: {
        const QDate date = ParamRecord::StoredDate(stored);
        if (!date.isValid())
            throw unreadable();
        return date.toString(Qt::ISODate);
    }
    case Type::Amount: {
        // Exactly as stored: a value the target rounds (a SQLite file may hold more decimals
        // than NUMERIC(15,2)) then differs, and the copy is not taken for good.
        const std::optional<QString> exact = ExactDecimal(stored.toString());
        if (!exact)
            throw unreadable();
        return *exact;
    }
    case Type::LocalTime:
    case Type::UtcTime: {
        const QDateTime time =
            stored.metaType().id() == QMetaType::QDateTime
                ? stored.toDateTime()
                : QDateTime::fromString(stored.toString().replace(u' ', u'T'), Qt::ISODateWithMs);
        if (!time.isValid())
            throw unreadable();
        return time;
    }
    }
    return stored;
}

// The value as the server itself would have written it on `dialect`.
QVariant Bound(Type type, const QVariant &value, Database::Dialect dialect) {
    if (value.isNull() || dialect == Database::Dialect::Postgres)
        return value.isNull() ? QVariant(QMetaType(QMetaType::QString)) : value;
    if (type == Type::LocalTime)
        return value.toDateTime().toLocalTime().toString(u"yyyy-MM-dd HH:mm:ss.zzz"_s);
    if (type == Type::UtcTime)
        return value.toDateTime().toUTC().toString(Qt::ISODateWithMs);
    return value;
}

// A sum of the rows' SHA-256 digests, lane by lane: it does not depend on the order the rows
// come in (the two engines sort text keys by different collations), and a row twice counts
// twice.
class RowSum final {
public:
    void Add(const QVector<QVariant> &row) {
        m_text.clear();
        for (const QVariant &v : row) {
            if (v.isNull()) {
                m_text += "-;";
                continue;
            }
            const QByteArray bytes =
                v.metaType().id() == QMetaType::QDateTime
                    ? v.toDateTime().toUTC().toString(u"yyyy-MM-ddTHH:mm:ss.zzzZ"_s).toUtf8()
                    : v.toString().toUtf8();
            m_text += QByteArray::number(bytes.size()) + ':' + bytes + ';';
        }
        const QByteArray digest = QCryptographicHash::hash(m_text, QCryptographicHash::Sha256);
        for (size_t i = 0; i < m_lanes.size(); ++i)
            m_lanes[i] += qFromBigEndian<quint64>(digest.constData() + 8 * i);
        ++m_rows;
    }
    qint64 Rows() const { return m_rows; }
    bool operator==(const RowSum &other) const {
        return m_rows == other.m_rows && m_lanes == other.m_lanes;
    }

private:
    std::array<quint64, 4> m_lanes{};
    qint64 m_rows = 0;
    QByteArray m_text;
};

// Every row of `table`, normalised, through `each`; the sum of them all.
RowSum Scan(QSqlDatabase &db, const Table &table,
            const std::function<void(const QVector<QVariant> &)> &each) {
    QSqlQuery q(db);
    q.setForwardOnly(true);
    q.setNumericalPrecisionPolicy(QSql::HighPrecision);
    if (!q.exec(u"SELECT %1 FROM %2"_s.arg(ColumnList(table), table.Name)))
        throw q.lastError();
    RowSum sum;
    QVector<QVariant> row(table.Columns.size());
    while (Database::Next(q)) {
        for (qsizetype i = 0; i < row.size(); ++i)
            row[i] = Normalised(table, table.Columns[i], q.value(int(i)));
        sum.Add(row);
        if (each)
            each(row);
    }
    return sum;
}

// On PostgreSQL, the connection's own libpq handle while its transaction is open; null elsewhere.
PGconn *CopyHandle(QSqlDatabase &db) {
    PGconn *pg = Database::PostgresHandle(db);
    return pg && PQtransactionStatus(pg) == PQTRANS_INTRANS && !PQisBusy(pg) ? pg : nullptr;
}

// A table without points in time goes into PostgreSQL by COPY, in its text form: the values are
// already the normalised texts both engines read alike. Points in time keep the INSERT path, so
// that PostgreSQL converts them exactly as it does the server's own writes.
class CopyIn final {
public:
    static bool Suits(const Table &table) {
        return std::none_of(table.Columns.begin(), table.Columns.end(), [](const Column &c) {
            return c.ColumnType == Type::LocalTime || c.ColumnType == Type::UtcTime;
        });
    }
    CopyIn(PGconn *pg, const Table &table)
        : m_pg(pg) {
        const QByteArray sql =
            u"COPY %1 (%2) FROM STDIN"_s.arg(table.Name, ColumnList(table)).toUtf8();
        PGresult *started = PQexec(m_pg, sql.constData());
        const bool ok = PQresultStatus(started) == PGRES_COPY_IN;
        PQclear(started);
        if (!ok)
            Fail();
        m_buffer.reserve(1 << 20);
    }
    void Add(const QVector<QVariant> &row) {
        for (qsizetype i = 0; i < row.size(); ++i) {
            if (i > 0)
                m_buffer += '\t';
            if (row[i].isNull()) {
                m_buffer += "\\N";
                continue;
            }
            for (const char c : row[i].toString().toUtf8()) {
                switch (c) {
                case '\\':
                    m_buffer += "\\\\";
                    break;
                case '\t':
                    m_buffer += "\\t";
                    break;
                case '\n':
                    m_buffer += "\\n";
                    break;
                case '\r':
                    m_buffer += "\\r";
                    break;
                default:
                    m_buffer += c;
                }
            }
        }
        m_buffer += '\n';
        if (m_buffer.size() >= (1 << 20))
            Send();
    }
    void Finish() {
        Send();
        if (PQputCopyEnd(m_pg, nullptr) != 1)
            Fail();
        bool ok = true;
        QString why;
        while (PGresult *result = PQgetResult(m_pg)) {
            if (PQresultStatus(result) != PGRES_COMMAND_OK) {
                ok = false;
                why = QString::fromUtf8(PQresultErrorMessage(result)).trimmed();
            }
            PQclear(result);
        }
        if (!ok)
            throw CallFailure{u"database"_s, why};
    }

private:
    void Send() {
        if (!m_buffer.isEmpty() &&
            PQputCopyData(m_pg, m_buffer.constData(), int(m_buffer.size())) != 1)
            Fail();
        m_buffer.clear();
    }
    [[noreturn]] void Fail() {
        throw CallFailure{u"database"_s, QString::fromUtf8(PQerrorMessage(m_pg)).trimmed()};
    }
    PGconn *m_pg;
    QByteArray m_buffer;
};

// Rows go in multi-row INSERTs: one round trip per batch on PostgreSQL. A batch stays under
// SQLite's oldest limit of 999 values per statement.
class Inserter final {
public:
    Inserter(QSqlDatabase &db, const Table &table, Database::Dialect dialect)
        : m_db(db)
        , m_table(table)
        , m_dialect(dialect)
        , m_perBatch(dialect == Database::Dialect::Postgres
                         ? int(qBound(qsizetype(1), 20000 / table.Columns.size(), qsizetype(500)))
                         : int(qMax(qsizetype(1), 999 / table.Columns.size()))) {
        m_pending.reserve(m_perBatch * table.Columns.size());
    }

    void Add(const QVector<QVariant> &row) {
        for (qsizetype i = 0; i < row.size(); ++i)
            m_pending.append(Bound(m_table.Columns[i].ColumnType, row[i], m_dialect));
        if (m_pending.size() == m_perBatch * m_table.Columns.size())
            Flush();
    }

    void Flush() {
        if (m_pending.isEmpty())
            return;
        const int rows = int(m_pending.size() / m_table.Columns.size());
        QSqlQuery &q = rows == m_perBatch ? m_full : m_last;
        if (rows != m_perBatch || !m_fullReady) {
            q = Statement(rows);
            m_fullReady = m_fullReady || rows == m_perBatch;
        }
        for (qsizetype i = 0; i < m_pending.size(); ++i)
            q.bindValue(int(i), m_pending[i]);
        Database::Exec(q);
        m_pending.clear();
    }

private:
    QSqlQuery Statement(int rows) const {
        const QString one =
            u"("_s + QStringList(m_table.Columns.size(), u"?"_s).join(u", "_s) + u")"_s;
        return Database::Prepare(
            m_db, u"INSERT INTO %1 (%2) VALUES %3"_s.arg(m_table.Name, ColumnList(m_table),
                                                         QStringList(rows, one).join(u", "_s)));
    }

    QSqlDatabase &m_db;
    const Table &m_table;
    Database::Dialect m_dialect;
    int m_perBatch;
    bool m_fullReady = false;
    QSqlQuery m_full, m_last;
    QVector<QVariant> m_pending;
};

// Rows copied and the rate on one line redrawn in place, a few times a second.
class Meter final {
public:
    explicit Meter(qint64 total)
        : m_total(total) {
        m_timer.start();
        m_last.start(); // the first rate only once there is one
    }
    ~Meter() {
        if (m_shown)
            std::fputs("\n", stderr);
    }
    void Step(const QString &table) {
        ++m_done;
        if (m_last.isValid() && m_last.elapsed() < 200)
            return;
        m_last.start();
        const double seconds = qMax<double>(m_timer.elapsed() / 1000.0, 0.001);
        const QString line = u"\r%1/%2 linhas  %3 linhas/s  %4          "_s.arg(
            Count(m_done), Count(m_total), Count(qint64(m_done / seconds)), table);
        std::fputs(line.toUtf8().constData(), stderr);
        std::fflush(stderr);
        m_shown = true;
    }

private:
    qint64 m_total, m_done = 0;
    QElapsedTimer m_timer, m_last;
    bool m_shown = false;
};

bool HasTable(QSqlDatabase &db, const QString &name) {
    const QStringList tables = db.tables();
    return std::any_of(tables.begin(), tables.end(),
                       [&](const QString &t) { return t.compare(name, Qt::CaseInsensitive) == 0; });
}

// 0 when the database has no schema of ours at all.
int SchemaVersion(QSqlDatabase &db) {
    if (!HasTable(db, u"SCHEMA_VERSION"_s))
        return 0;
    QSqlQuery q(db);
    if (!q.exec(u"SELECT MAX(VERSION) FROM SCHEMA_VERSION"_s))
        throw q.lastError();
    return Database::Next(q) ? q.value(0).toInt() : 0;
}

// A column the copy does not know would be left behind without a word.
void CheckColumns(QSqlDatabase &db, const Table &table) {
    QSqlQuery q(db);
    if (!HasTable(db, table.Name) || !q.exec(u"SELECT * FROM %1 WHERE 1 = 0"_s.arg(table.Name)))
        throw CallFailure{u"refused"_s, u"a origem não tem a tabela %1"_s.arg(table.Name)};
    const QSqlRecord record = q.record();
    QStringList found, known;
    for (int i = 0; i < record.count(); ++i)
        found << record.fieldName(i).toUpper();
    for (const Column &c : table.Columns)
        known << c.Name;
    found.sort();
    known.sort();
    if (found != known)
        throw CallFailure{u"refused"_s,
                          u"a tabela %1 da origem tem as colunas %2; esta versão "
                          "copia %3"_s.arg(table.Name, found.join(u", "_s), known.join(u", "_s))};
}

void CheckSource(QSqlDatabase &db) {
    const int version = SchemaVersion(db);
    if (version == 0)
        throw CallFailure{u"refused"_s, u"a origem não tem as tabelas do ger-server"_s};
    if (version > Migrations::LatestVersion())
        throw CallFailure{u"refused"_s,
                          u"a origem está na versão %1 do esquema, mais nova que a %2 desta "
                          "versão do ger-server: copie com a versão que a criou"_s.arg(version)
                              .arg(Migrations::LatestVersion())};
    if (version < Migrations::LatestVersion())
        throw CallFailure{u"refused"_s,
                          u"a origem está na versão %1 do esquema, mais antiga que a %2 desta "
                          "versão do ger-server: inicie o ger-server nela uma vez para "
                          "atualizá-la, e copie depois"_s.arg(version)
                              .arg(Migrations::LatestVersion())};
    for (const Table &table : Tables())
        CheckColumns(db, table);
    // PostgreSQL's keys to EMPRESA would stop the copy at the first such row, in its own words.
    const QList<StoredCheck::Finding> orphans = StoredCheck::Orphans(db, 5);
    if (!orphans.isEmpty()) {
        QStringList named;
        for (const StoredCheck::Finding &f : orphans)
            named << u"%1 da empresa %2"_s.arg(f.Table, f.Company);
        throw CallFailure{u"refused"_s,
                          u"a origem tem registros de empresas que EMPRESA não tem (%1), que "
                          "o banco de destino recusaria; veja-os com ger-server check na "
                          "origem, cadastre as empresas ou apague os registros, e copie "
                          "depois"_s.arg(named.join(u", "_s))};
    }
}

// Before the schema is made on the target: a refused target is left as it was.
void CheckTarget(QSqlDatabase &db) {
    const int version = SchemaVersion(db);
    if (version > Migrations::LatestVersion())
        throw CallFailure{u"refused"_s,
                          u"o destino está na versão %1 do esquema, mais nova que a %2 desta "
                          "versão do ger-server"_s.arg(version)
                              .arg(Migrations::LatestVersion())};
    for (const Table &table : Tables()) {
        if (table.MadeBySchema || !HasTable(db, table.Name))
            continue;
        QSqlQuery q(db);
        if (!q.exec(u"SELECT 1 FROM %1 LIMIT 1"_s.arg(table.Name)))
            throw q.lastError();
        if (Database::Next(q))
            throw CallFailure{u"refused"_s,
                              u"o destino não está vazio: a tabela %1 tem linhas; a cópia só "
                              "grava num banco sem dados"_s.arg(table.Name)};
    }
}

struct TableResult {
    QString Name;
    RowSum Source, Target;
};

// Everything on the target in one transaction, checked against the source before it commits:
// a copy that fails or does not match leaves the target as it was (with the empty schema, which
// a new copy accepts). The source is read in one snapshot.
bool Copy(Database &from, Database &to, QList<TableResult> &results) {
    QSqlDatabase source = from.Connection();
    QSqlDatabase target = to.Connection();
    const bool postgresSource = from.Kind() == Database::Dialect::Postgres;
    Database::ExecDirect(
        source, postgresSource ? u"BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY"_s : u"BEGIN"_s);
    Database::ExecDirect(target, to.Kind() == Database::Dialect::Postgres ? u"BEGIN"_s
                                                                          : u"BEGIN IMMEDIATE"_s);
    bool same = true;
    try {
        std::unique_ptr<Meter> meter;
        if (::isatty(STDERR_FILENO)) {
            qint64 total = 0;
            for (const Table &table : Tables()) {
                QSqlQuery q(source);
                if (!q.exec(u"SELECT COUNT(*) FROM %1"_s.arg(table.Name)) || !Database::Next(q))
                    throw q.lastError();
                total += q.value(0).toLongLong();
            }
            meter = std::make_unique<Meter>(total);
        }
        const QVector<Table> tables = Tables();
        for (const Table &table : tables) {
            if (table.MadeBySchema)
                Database::ExecDirect(target, u"DELETE FROM %1"_s.arg(table.Name));
            std::optional<CopyIn> copy;
            if (PGconn *pg = CopyIn::Suits(table) ? CopyHandle(target) : nullptr)
                copy.emplace(pg, table);
            Inserter insert(target, table, to.Kind());
            TableResult result{table.Name, {}, {}};
            result.Source = Scan(source, table, [&](const QVector<QVariant> &row) {
                if (copy)
                    copy->Add(row);
                else
                    insert.Add(row);
                if (meter)
                    meter->Step(table.Name);
            });
            if (copy)
                copy->Finish();
            insert.Flush();
            results.append(result);
        }
        meter.reset();
        // Read back as the server will read it.
        for (qsizetype i = 0; i < tables.size(); ++i) {
            results[i].Target = Scan(target, tables[i], {});
            same = same && results[i].Target == results[i].Source;
        }
    } catch (...) {
        QSqlQuery(target).exec(u"ROLLBACK"_s);
        QSqlQuery(source).exec(u"ROLLBACK"_s);
        throw;
    }
    QSqlQuery(source).exec(u"ROLLBACK"_s);
    QSqlQuery control(target);
    if (!same) {
        control.exec(u"ROLLBACK"_s);
        return false;
    }
    if (!control.exec(u"COMMIT"_s))
        throw control.lastError();
    return true;
}

QString Usage() {
    return u"uso: ger-server copy --db ORIGEM --to DESTINO (sqlite:CAMINHO ou "
           "postgresql://usuario@host:porta/banco)"_s;
}

int Move(const QString &fromUrl, const QString &toUrl) {
    if (fromUrl.startsWith(u"sqlite:"_s)) {
        if (const QString fault = ServerOptions::UnreadableFile(fromUrl.mid(7)); !fault.isEmpty()) {
            Print(stderr, u"ger-server: "_s + fault);
            return ExitFailure;
        }
    }
    QString error;
    std::unique_ptr<Database> from = Database::Open(fromUrl, &error, u"ger-server copy"_s);
    if (!from) {
        Print(stderr, u"ger-server: não foi possível abrir a origem %1: %2"_s.arg(
                          Database::Redacted(fromUrl), error));
        return ExitFailure;
    }
    // The source first: a refused source leaves no new SQLite file behind.
    try {
        QSqlDatabase source = from->Connection();
        CheckSource(source);
    } catch (const CallFailure &failure) {
        Print(stderr, u"ger-server: cópia recusada: %1"_s.arg(failure.Message));
        return ExitFailure;
    } catch (const QSqlError &failure) {
        Print(stderr, u"ger-server: não foi possível ler a origem: %1"_s.arg(failure.text()));
        return ExitFailure;
    }
    std::unique_ptr<Database> to = Database::Open(toUrl, &error, u"ger-server copy"_s);
    if (!to) {
        Print(stderr, u"ger-server: não foi possível abrir o destino %1: %2"_s.arg(
                          Database::Redacted(toUrl), error));
        return ExitFailure;
    }
    QElapsedTimer timer;
    timer.start();
    QList<TableResult> results;
    bool same = false;
    try {
        QSqlDatabase target = to->Connection();
        CheckTarget(target);
        if (!Migrations::Run(*to, &error))
            throw CallFailure{u"database"_s, error};
        same = Copy(*from, *to, results);
    } catch (const CallFailure &failure) {
        Print(stderr, u"ger-server: cópia recusada: %1"_s.arg(failure.Message));
        return ExitFailure;
    } catch (const QSqlError &failure) {
        Print(stderr,
              u"ger-server: a cópia falhou, nada foi gravado no destino: %1"_s.arg(failure.text()));
        return ExitFailure;
    }
    qint64 rows = 0;
    for (const TableResult &r : std::as_const(results)) {
        rows += r.Source.Rows();
        if (r.Source == r.Target)
            Print(stdout, u"%1: %2, soma ok"_s.arg(r.Name, Rows(r.Source.Rows())));
        else
            Print(stdout, u"%1: %2 na origem, %3 no destino, soma difere"_s.arg(
                              r.Name, Rows(r.Source.Rows()), Rows(r.Target.Rows())));
    }
    if (!same) {
        Print(stderr, u"ger-server: o destino não confere com a origem: a cópia foi desfeita, "
                      "nada foi gravado"_s);
        return ExitFailure;
    }
    Print(stdout, u"cópia conferida: %1 tabelas, %2 de %3 para %4, esquema na versão %5 (%6 s)"_s
                      .arg(results.size())
                      .arg(Rows(rows), Database::Redacted(fromUrl), Database::Redacted(toUrl))
                      .arg(Migrations::LatestVersion())
                      .arg(QLocale(QLocale::Portuguese, QLocale::Brazil)
                               .toString(timer.elapsed() / 1000.0, 'f', 1)));
    return 0;
}

} // namespace

namespace DbCopy {

bool Handles(const QStringList &arguments) {
    return arguments.size() > 1 && arguments.at(1) == u"copy"_s;
}

int Run(const QStringList &arguments) {
    QString toUrl;
    QStringList rest{arguments.at(0)};
    for (qsizetype i = 2; i < arguments.size(); ++i) {
        const QString &a = arguments.at(i);
        if (a == u"--to"_s && i + 1 < arguments.size())
            toUrl = arguments.at(++i);
        else if (a.startsWith(u"--to="_s))
            toUrl = a.mid(5);
        else
            rest << a;
    }
    ServerOptions options;
    QString error, text;
    const auto usageError = [](const QString &why) {
        Print(stderr, u"ger-server: "_s + why);
        Print(stderr, Usage());
        return ExitUsage;
    };
    if (!ServerOptions::Parse(rest, options, &error, &text))
        return usageError(error);
    if (!text.isEmpty()) {
        Print(stdout, Usage() + u"\n\n"_s + text.trimmed());
        return 0;
    }
    if (toUrl.isEmpty())
        return usageError(u"falta o destino (--to)"_s);
    ServerLog::SetLevel(options.Level);
    const int rc = Move(options.Db, toUrl);
    Database::CloseThreadConnections();
    return rc;
}

} // namespace DbCopy
