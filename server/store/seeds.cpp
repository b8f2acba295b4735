#include "seeds.h"

#include "seedname.h"

#include "database.h"
#include "paramrecord.h"
#include "serverlog.h"

#include <QDate>
#include <QSqlError>

#include <optional>

using namespace Qt::StringLiterals;

namespace {

// Per company, so a smaller group is a smaller database and 1,000 companies give 5 million
// entries and 500 thousand balances.
constexpr qint64 EntriesPerCompany = 5'000;
constexpr qint64 BalancesPerCompany = 500;
// The entries go in this many slices of companies, so a long seed shows it is moving.
constexpr int EntrySlices = 10;
const QString CodeDigits = u"0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ"_s;

struct Period {
    QDate First;
    QDate Last;
};

// A parameter record with the accounting year 2026 and December as the posting month.
QHash<QString, QVariant> standardRecord(bool withTax, bool withLateSales) {
    QHash<QString, QVariant> record;
    for (const ParamRecord::Column &c : ParamRecord::StoredColumns()) {
        const QString name = QString::fromLatin1(c.Name);
        if (c.ColumnKind != ParamRecord::Kind::Date && name != u"CDEMPRESA"_s)
            record.insert(name, ParamRecord::StartingValue(name));
    }
    const auto set = [&](const char *first, const char *last, Period p) {
        record.insert(QString::fromLatin1(first), p.First.toString(Qt::ISODate));
        record.insert(QString::fromLatin1(last), p.Last.toString(Qt::ISODate));
    };
    const Period year{QDate(2026, 1, 1), QDate(2026, 12, 31)};
    const Period month{QDate(2026, 12, 1), QDate(2026, 12, 31)};
    set("DTINICCONT", "DTFINACONT", year);
    set("DTINICRELA", "DTFINARELA", year);
    set("DTINICLANC", "DTFINALANC", month);
    set("DTINIINTCONTDFE", "DTFININTCONTDFE", month);
    set("DTINIINTCONTDFS", "DTFININTCONTDFS", month);
    set("DTINICCTBL", "DTFINACCTBL", {QDate(2026, 11, 1), QDate(2026, 12, 31)});
    set("DTINIINTCONTGPA", "DTFININTCONTGPA", month);
    if (withTax)
        set("DTINIINTCONTFIS", "DTFININTCONTFIS", month);
    if (withLateSales)
        set("DTINIINTCONTVEXT", "DTFININTCONTVEXT", {QDate(2026, 10, 1), QDate(2026, 12, 31)});
    return record;
}

QSqlQuery prepareRecordInsert(QSqlDatabase &db, QStringList &columns) {
    columns.clear();
    for (const ParamRecord::Column &c : ParamRecord::StoredColumns())
        columns.append(QString::fromLatin1(c.Name));
    QStringList marks(columns.size(), u"?"_s);
    return Database::Prepare(db, u"INSERT INTO CONTOPECTBL (%1) VALUES (%2)"_s.arg(
                                     columns.join(u", "_s), marks.join(u", "_s)));
}

void insertRecord(QSqlQuery &insert, const QStringList &columns, const QString &code,
                  QHash<QString, QVariant> record) {
    record.insert(u"CDEMPRESA"_s, code);
    for (int i = 0; i < columns.size(); ++i)
        insert.bindValue(i, record.value(columns.at(i)));
    Database::Exec(insert);
}

void insertCompany(QSqlQuery &insert, const QString &code, const QString &name) {
    insert.bindValue(0, code);
    insert.bindValue(1, name);
    Database::Exec(insert);
}

bool hasCompanies(QSqlDatabase &db) {
    QSqlQuery q = Database::Prepare(db, u"SELECT 1 FROM EMPRESA LIMIT 1"_s);
    Database::Exec(q);
    return Database::Next(q);
}

bool hasCompanies(Database &database) {
    bool any = false;
    database.Transaction(Database::Access::Read, [&](QSqlDatabase &db) { any = hasCompanies(db); });
    return any;
}

// --- demo -----------------------------------------------------------------------------------

struct DemoCompany {
    const char *Code;
    QString Name;
    bool HasRecord;
};

// A database may already hold its general parameter without any company (an operator set it
// up first): the seed keeps that row.
void seedParamGeral(QSqlDatabase &db) {
    Database::ExecDirect(db, u"INSERT INTO PARAMGERAL (IDPARAMGERAL, IDCONTAJUDTCOMP) "
                             "SELECT 1, 'N' WHERE NOT EXISTS (SELECT 1 FROM PARAMGERAL)"_s);
}

void seedDemo(QSqlDatabase &db) {
    const QVector<DemoCompany> companies = {
        {"01", u"Comércio de Alimentos São João Ltda"_s, true}, // entries: delete refused
        {"02", u"Indústria Têxtil Paraná S.A."_s, true},        // entries not in balances
        {"03", u"Distribuidora Ribeirão Preto Ltda"_s, true},   // fiscal recalculation due
        {"04", u"Construtora Araújo & Filhos Ltda"_s, true},    // balance after period end
        {"05", u"Padaria Pão Nosso de Cada Dia Ltda"_s, true},  // no entries: deletable
        {"06", u"Transportes Guarulhos Ltda"_s, true},
        {"07", u"Farmácia Popular do Ceará Ltda"_s, true},
        {"08", u"Agropecuária Cerrado Goiano S.A."_s, true},
        {"09", u"Metalúrgica São Bernardo Ltda"_s, true},
        {"10", u"Cooperativa Vinícola Gaúcha"_s, false},
        {"11", u"Editora Paulistânia Ltda"_s, false},
        {"12", u"Torrefação Serra da Mantiqueira Ltda"_s, false},
    };
    QSqlQuery company =
        Database::Prepare(db, u"INSERT INTO EMPRESA (CDEMPRESA, NMEMPRESA) VALUES (?, ?)"_s);
    QStringList columns;
    QSqlQuery record = prepareRecordInsert(db, columns);
    for (const DemoCompany &c : companies) {
        const QString code = QString::fromLatin1(c.Code);
        insertCompany(company, code, c.Name);
        if (c.HasRecord) {
            const int n = code.toInt();
            insertRecord(record, columns, code, standardRecord(n % 2 == 1, n % 3 == 0));
        }
    }
    seedParamGeral(db);

    // Monthly balances of three accounts, January to November 2026.
    QSqlQuery balance = Database::Prepare(
        db, u"INSERT INTO SALDEMPR (CDEMPRESA, DTSALDEMPR, CDCONTA, VRSALDODEB, VRSALDOCRED) "
            "VALUES (?, ?, ?, ?, ?)"_s);
    const QStringList accounts = {u"1.1.01.001"_s, u"2.1.01.001"_s, u"3.1.01.001"_s};
    // Amounts in cents, bound as the decimal text the column holds: half of an odd number of
    // cents would take a third decimal NUMERIC(15,2) has no room for.
    const auto decimal = [](qint64 cents) {
        return u"%1.%2"_s.arg(cents / 100).arg(cents % 100, 2, 10, QChar(u'0'));
    };
    const auto addBalance = [&](const QString &code, QDate date, const QString &account,
                                qint64 cents) {
        balance.bindValue(0, code);
        balance.bindValue(1, date.toString(Qt::ISODate));
        balance.bindValue(2, account);
        balance.bindValue(3, decimal(cents));
        balance.bindValue(4, decimal(cents / 2));
        Database::Exec(balance);
    };
    for (const char *c : {"01", "02", "03", "04", "06", "07", "08", "09"}) {
        const QString code = QString::fromLatin1(c);
        for (int month = 1; month <= 11; ++month) {
            const QDate end = QDate(2026, month, 1).addMonths(1).addDays(-1);
            for (int a = 0; a < accounts.size(); ++a)
                addBalance(code, end, accounts.at(a), 100 * (1000 * month + 10 * a + code.toInt()));
        }
    }
    // Already closed into next year: later than the end of its 2026 accounting period.
    addBalance(u"04"_s, QDate(2027, 1, 31), accounts.at(0), 432109);

    QSqlQuery entry = Database::Prepare(
        db, u"INSERT INTO LANCCONT (NRLANC, CDEMPRESA, DTLANC, CDCONTA, VRLANC, IDEVOLUIDO, "
            "IDRECALCFISC) VALUES (?, ?, ?, ?, ?, ?, ?)"_s);
    int number = 0;
    const auto addEntry = [&](const QString &code, QDate date, bool evolved, bool recalc) {
        entry.bindValue(0, ++number);
        entry.bindValue(1, code);
        entry.bindValue(2, date.toString(Qt::ISODate));
        entry.bindValue(3, accounts.at(number % accounts.size()));
        entry.bindValue(4, decimal(10000 + number * 325));
        entry.bindValue(5, evolved ? u"S"_s : u"N"_s);
        entry.bindValue(6, recalc ? u"S"_s : u"N"_s);
        Database::Exec(entry);
    };
    for (const char *c : {"01", "02", "03", "04", "06", "07", "08", "09"}) {
        const QString code = QString::fromLatin1(c);
        for (int month = 1; month <= 12; ++month) {
            // December is still open: not yet carried into the balances anywhere.
            addEntry(code, QDate(2026, month, 5), month < 12, false);
            addEntry(code, QDate(2026, month, 20), month < 12, false);
        }
    }
    // Left out of the balances before the 2026 period opened.
    addEntry(u"02"_s, QDate(2025, 11, 17), false, false);
    addEntry(u"02"_s, QDate(2025, 12, 3), false, false);
    // Waiting for the fiscal recalculation since October.
    addEntry(u"03"_s, QDate(2026, 10, 5), true, true);
    addEntry(u"03"_s, QDate(2026, 11, 12), true, true);
}

// --- large ----------------------------------------------------------------------------------

QString largeCode(int index) {
    const int n = index + 1; // "00" is never a code
    return QString(CodeDigits.at(n / CodeDigits.size())) + CodeDigits.at(n % CodeDigits.size());
}

// Rows sent in groups, one statement per group: on PostgreSQL every statement is a round trip,
// and a thousand companies with their records would otherwise be thousands of them. Groups stay
// well under the bound-parameter limits of both databases. Flush() sends the last group; rows
// still pending when the object goes are dropped (that only happens when a failure unwinds).
class BatchInsert final {
public:
    BatchInsert(QSqlDatabase &db, const QString &table, const QStringList &columns)
        : m_db(db)
        , m_width(int(columns.size()))
        , m_head(u"INSERT INTO %1 (%2) VALUES "_s.arg(table, columns.join(u", "_s)))
        , m_rowsPerStatement(qMax(1, MaxParameters / m_width)) {}
    BatchInsert(const BatchInsert &) = delete;
    BatchInsert &operator=(const BatchInsert &) = delete;

    void Add(const QVariantList &row) {
        Q_ASSERT(row.size() == m_width);
        m_pending.append(row);
        if (m_pending.size() == qsizetype(m_rowsPerStatement) * m_width)
            Flush();
    }

    void Flush() {
        const int rows = int(m_pending.size() / m_width);
        if (rows == 0)
            return;
        if (rows == m_rowsPerStatement) {
            if (!m_full)
                m_full = Database::Prepare(m_db, statement(rows));
            send(*m_full);
        } else {
            QSqlQuery last = Database::Prepare(m_db, statement(rows));
            send(last);
        }
    }

private:
    static constexpr int MaxParameters = 4000;

    QString statement(int rows) const {
        const QString one = u"("_s + QStringList(m_width, u"?"_s).join(u", "_s) + u")"_s;
        return m_head + QStringList(rows, one).join(u", "_s);
    }

    void send(QSqlQuery &insert) {
        for (int i = 0; i < m_pending.size(); ++i)
            insert.bindValue(i, m_pending.at(i));
        Database::Exec(insert);
        m_pending.clear();
    }

    QSqlDatabase &m_db;
    const int m_width;
    const QString m_head;
    const int m_rowsPerStatement;
    QVariantList m_pending;
    std::optional<QSqlQuery> m_full;
};

// SQLite sorts an index build on helper threads when the connection allows it; the setting goes
// back to what it was, since the connection then serves calls.
class SqliteSorterThreads final {
public:
    explicit SqliteSorterThreads(QSqlDatabase &db)
        : m_db(db) {
        QSqlQuery q(m_db);
        if (q.exec(u"PRAGMA threads"_s) && q.next())
            m_previous = q.value(0).toInt();
        q.finish();
        q.exec(u"PRAGMA threads = 2"_s);
    }
    ~SqliteSorterThreads() { QSqlQuery(m_db).exec(u"PRAGMA threads = %1"_s.arg(m_previous)); }
    SqliteSorterThreads(const SqliteSorterThreads &) = delete;
    SqliteSorterThreads &operator=(const SqliteSorterThreads &) = delete;

private:
    QSqlDatabase &m_db;
    int m_previous = 0;
};

// The tables that take the millions of rows.
const QStringList BulkTables = {u"LANCCONT"_s, u"SALDEMPR"_s};

// Maintaining indexes and checking foreign keys row by row costs several times what building
// them once over the loaded rows does (on PostgreSQL the key checks alone are most of the time).
// The statements come from the catalog, so whatever a later migration adds to these tables is
// taken down and rebuilt the same way, under the same names. All of it happens inside the seed's
// transaction: a failure leaves the schema as it was. Returns the statements that rebuild,
// in order.
QStringList takeDownForLoad(QSqlDatabase &db, Database::Dialect dialect) {
    QStringList drops, rebuilds;
    if (dialect == Database::Dialect::Sqlite) {
        // Keys declared in the table (automatic indexes, foreign keys) cannot be dropped here.
        QSqlQuery q = Database::Prepare(
            db, u"SELECT name, sql FROM sqlite_master WHERE type = 'index' AND sql IS NOT NULL "
                "AND tbl_name IN (?, ?) ORDER BY name"_s);
        q.addBindValue(BulkTables.at(0));
        q.addBindValue(BulkTables.at(1));
        Database::Exec(q);
        while (Database::Next(q)) {
            QString name = q.value(0).toString();
            drops << u"DROP INDEX \"%1\""_s.arg(name.replace(u'"', u"\"\""_s));
            rebuilds << q.value(1).toString();
        }
    } else {
        // Step 0 foreign keys, 1 plain indexes, 2 primary and unique keys: dropped in that order,
        // rebuilt in the reverse one. A key another table refers to has to stay.
        const QString tables = u"('LANCCONT'::regclass, 'SALDEMPR'::regclass)"_s;
        QSqlQuery q = Database::Prepare(
            db,
            u"SELECT CASE c.contype WHEN 'f' THEN 0 ELSE 2 END AS step, c.conname::text, "
            "format('ALTER TABLE %1$s DROP CONSTRAINT %2$I', c.conrelid::regclass, "
            "c.conname), "
            "format('ALTER TABLE %1$s ADD CONSTRAINT %2$I %3$s', c.conrelid::regclass, "
            "c.conname, pg_get_constraintdef(c.oid)) "
            "FROM pg_constraint c WHERE c.conrelid IN "_s +
                tables +
                u" AND c.contype IN ('f', 'p', 'u') AND (c.contype = 'f' OR NOT EXISTS "
                "(SELECT 1 FROM pg_constraint r WHERE r.contype = 'f' AND r.confrelid = "
                "c.conrelid AND r.conrelid <> c.conrelid)) "
                "UNION ALL "
                "SELECT 1, i.indexrelid::regclass::text, "
                "format('DROP INDEX %s', i.indexrelid::regclass), pg_get_indexdef(i.indexrelid) "
                "FROM pg_index i WHERE i.indrelid IN "_s +
                tables +
                u" AND NOT EXISTS (SELECT 1 FROM pg_constraint k WHERE k.conindid = "
                "i.indexrelid AND k.conrelid = i.indrelid) "
                "ORDER BY 1, 2"_s);
        Database::Exec(q);
        while (Database::Next(q)) {
            drops << q.value(2).toString();
            rebuilds.prepend(q.value(3).toString());
        }
    }
    for (const QString &sql : std::as_const(drops))
        Database::ExecDirect(db, sql);
    return rebuilds;
}

// A temporary table with one row per position X in 0..count-1 and the given columns computed
// from X, so the per-row work of the big inserts is a join, not date and text arithmetic
// repeated for every company.
void createPositions(QSqlDatabase &db, Database::Dialect dialect, const QString &name, qint64 count,
                     const QString &columns) {
    if (dialect == Database::Dialect::Sqlite) {
        Database::ExecDirect(db, u"CREATE TEMP TABLE %1 AS WITH RECURSIVE SEQ(X) AS (SELECT 0 "
                                 "UNION ALL SELECT X + 1 FROM SEQ WHERE X + 1 < %2) "
                                 "SELECT X, %3 FROM SEQ"_s.arg(name)
                                     .arg(count)
                                     .arg(columns));
    } else {
        Database::ExecDirect(db, u"CREATE TEMP TABLE %1 ON COMMIT DROP AS SELECT X, %3 "
                                 "FROM generate_series(0, %2) AS SEQ(X)"_s.arg(name)
                                     .arg(count - 1)
                                     .arg(columns));
    }
}

void seedLarge(QSqlDatabase &db, Database::Dialect dialect, int count) {
    const bool sqlite = dialect == Database::Dialect::Sqlite;
    if (!sqlite) {
        // Nothing to wait for at commit: a seed that is lost can be run again. The index builds
        // sort millions of keys.
        Database::ExecDirect(db, u"SET LOCAL synchronous_commit = off"_s);
        Database::ExecDirect(db, u"SET LOCAL maintenance_work_mem = '256MB'"_s);
    }
    Database::ExecDirect(db, sqlite ? u"CREATE TEMP TABLE SEEDEMP (IDX INTEGER, CD VARCHAR(2))"_s
                                    : u"CREATE TEMP TABLE SEEDEMP (IDX INTEGER, CD VARCHAR(2)) "
                                      "ON COMMIT DROP"_s);
    QStringList recordColumns;
    for (const ParamRecord::Column &c : ParamRecord::StoredColumns())
        recordColumns.append(QString::fromLatin1(c.Name));
    {
        BatchInsert companies(db, u"EMPRESA"_s, {u"CDEMPRESA"_s, u"NMEMPRESA"_s});
        BatchInsert positions(db, u"SEEDEMP"_s, {u"IDX"_s, u"CD"_s});
        for (int i = 0; i < count; ++i) {
            const QString code = largeCode(i);
            companies.Add({code, u"Empresa Modelo %1 Ltda"_s.arg(i + 1, 4, 10, QChar(u'0'))});
            positions.Add({i, code});
        }
        companies.Flush();
        positions.Flush();
    }
    {
        // After all the companies: a group of records may run ahead of a group of companies.
        BatchInsert records(db, u"CONTOPECTBL"_s, recordColumns);
        for (int i = 0; i < count; ++i) {
            QHash<QString, QVariant> record = standardRecord(i % 2 == 0, i % 3 == 0);
            record.insert(u"CDEMPRESA"_s, largeCode(i));
            QVariantList values;
            for (const QString &column : std::as_const(recordColumns))
                values.append(record.value(column));
            records.Add(values);
        }
        records.Flush();
    }
    seedParamGeral(db);

    // Generated inside the database: no row crosses the driver. Entries run over 2025 and 2026
    // (730 days); December 2026 is not yet in the balances; every tenth company has a few
    // entries waiting for the fiscal recalculation, and the company after each of those left the
    // last days of October 2025 out of the balances.
    createPositions(db, dialect, u"SEEDLANC"_s, EntriesPerCompany,
                    (sqlite ? u"date('2025-01-01', '+' || (X % 730) || ' days')"_s
                            : u"DATE '2025-01-01' + (X % 730)::int"_s) +
                        u" AS DT, '1.1.01.' || (X % 50) AS CONTA, (X % 1000) + 0.5 AS VR, "
                        "X % 730 >= 699 AS ABERTO, X % 730 BETWEEN 300 AND 303 AS ESQUECIDO, "
                        "X % 997 = 0 AS RECALC"_s);
    // Month ends of 2026, twelve accounts' worth per company.
    createPositions(db, dialect, u"SEEDSALDO"_s, BalancesPerCompany,
                    (sqlite ? u"date('2026-01-01', '+' || (X % 12 + 1) || ' months', '-1 day')"_s
                            : u"(DATE '2026-01-01' + make_interval(months => (X % 12)::int + 1) "
                              "- INTERVAL '1 day')::date"_s) +
                        u" AS DT, '1.1.' || (X / 12) AS CONTA, (X % 1000) + 0.25 AS DEB, "
                        "(X % 700) + 0.75 AS CRED"_s);

    const QStringList rebuilds = takeDownForLoad(db, dialect);
    std::optional<SqliteSorterThreads> sorter;
    if (sqlite)
        sorter.emplace(db);
    // CROSS JOIN keeps the companies outside, so entry numbers arrive in ascending order.
    const int slice = (count + EntrySlices - 1) / EntrySlices;
    for (int first = 0; first < count; first += slice) {
        Database::ExecDirect(
            db, u"INSERT INTO LANCCONT (NRLANC, CDEMPRESA, DTLANC, CDCONTA, VRLANC, IDEVOLUIDO, "
                "IDRECALCFISC) SELECT e.IDX * %1 + s.X + 1, e.CD, s.DT, s.CONTA, s.VR, "
                "CASE WHEN s.ABERTO OR (e.IDX % 10 = 1 AND s.ESQUECIDO) THEN 'N' ELSE 'S' END, "
                "CASE WHEN e.IDX % 10 = 0 AND s.RECALC THEN 'S' ELSE 'N' END "
                "FROM SEEDEMP e CROSS JOIN SEEDLANC s WHERE e.IDX >= %2 AND e.IDX < %3"_s
                    .arg(EntriesPerCompany)
                    .arg(first)
                    .arg(first + slice));
        const int done = std::min(count, first + slice);
        ServerLog::Write(ServerLog::Level::Info,
                         u"semente: lançamentos de %1 de %2 empresas (%3 lançamentos)"_s.arg(done)
                             .arg(count)
                             .arg(qint64(done) * EntriesPerCompany));
    }
    Database::ExecDirect(
        db, u"INSERT INTO SALDEMPR (CDEMPRESA, DTSALDEMPR, CDCONTA, VRSALDODEB, VRSALDOCRED) "
            "SELECT e.CD, s.DT, s.CONTA, s.DEB, s.CRED FROM SEEDEMP e CROSS JOIN SEEDSALDO s"_s);
    ServerLog::Write(ServerLog::Level::Info,
                     u"semente: %1 saldos; reconstruindo chaves e índices"_s.arg(
                         qint64(count) * BalancesPerCompany));
    for (const QString &sql : rebuilds)
        Database::ExecDirect(db, sql);
    if (sqlite) {
        for (const char *table : {"SEEDEMP", "SEEDLANC", "SEEDSALDO"})
            Database::ExecDirect(db, u"DROP TABLE %1"_s.arg(QLatin1StringView(table)));
    }
}

} // namespace

namespace Seeds {

bool Valid(const QString &seed, QString *error, int *companies) {
    return SeedName::Valid(seed, error, companies);
}

bool Run(Database &database, const QString &seed, QString *error, bool *seeded) {
    int large = 0;
    if (!Valid(seed, error, &large))
        return false;
    bool done = false;
    try {
        if (!hasCompanies(database)) {
            database.Transaction(Database::Access::Write, [&](QSqlDatabase &db) {
                // Another server may be seeding the same empty database. The lock comes before
                // the first query, so this transaction's snapshot already holds what that one
                // committed.
                if (database.Kind() == Database::Dialect::Postgres)
                    Database::ExecDirect(db, u"LOCK TABLE EMPRESA IN SHARE ROW EXCLUSIVE MODE"_s);
                done = !hasCompanies(db);
                if (!done)
                    return;
                if (large > 0)
                    seedLarge(db, database.Kind(), large);
                else
                    seedDemo(db);
            });
        }
        if (done) {
            // On PostgreSQL a VACUUM also marks the fresh pages all-visible, so index-only scans
            // need not visit the tables until autovacuum would have come by. It cannot run in a
            // transaction; should it fail, the statistics still come from ANALYZE.
            bool vacuumed = false;
            if (database.Kind() == Database::Dialect::Postgres) {
                QSqlDatabase db = database.Connection();
                vacuumed = QSqlQuery(db).exec(u"VACUUM ANALYZE"_s);
            }
            if (!vacuumed)
                database.Transaction(Database::Access::Write, [&](QSqlDatabase &db) {
                    Database::ExecDirect(db, u"ANALYZE"_s);
                });
        }
    } catch (const CallFailure &failure) {
        *error = u"Falha ao popular o banco: %1"_s.arg(failure.Message);
        return false;
    }
    if (seeded)
        *seeded = done;
    return true;
}

} // namespace Seeds
