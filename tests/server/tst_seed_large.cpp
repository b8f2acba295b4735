// The large seed takes down the keys and indexes of the entry and balance tables to load its
// millions of rows, then rebuilds them. One that comes back missing, different or invalid would
// not fail any call: it would only turn per-company seeks into scans of millions of rows. So the
// schema of a seeded database must equal that of one that was only migrated, and the rows must be
// the ones the seed's documentation promises.

#include "backend.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include <functional>

using namespace Qt::StringLiterals;

namespace {

// large:3 holds three companies' worth: the seed scales with the number of companies.
constexpr qint64 Entries = 3 * 5'000;
constexpr qint64 Balances = 3 * 500;
const QStringList BulkTables = {u"LANCCONT"_s, u"SALDEMPR"_s};

// Opens `url` ("sqlite:PATH" or "postgresql://user@host:port/db") as the named connection.
QSqlDatabase direct(const QString &url, const QString &name) {
    QSqlDatabase db;
    if (url.startsWith(u"sqlite:"_s)) {
        db = QSqlDatabase::addDatabase(u"QSQLITE"_s, name);
        db.setDatabaseName(url.mid(7));
    } else {
        const QUrl parsed(url);
        db = QSqlDatabase::addDatabase(u"QPSQL"_s, name);
        db.setHostName(parsed.host());
        db.setPort(parsed.port(5432));
        db.setUserName(parsed.userName());
        db.setPassword(parsed.password());
        db.setDatabaseName(parsed.path().mid(1));
    }
    db.open();
    return db;
}

void drop(const QString &name) {
    if (!QSqlDatabase::contains(name))
        return;
    QSqlDatabase::database(name, false).close();
    QSqlDatabase::removeDatabase(name);
}

// Every row of `sql`, its columns joined with " | ".
QStringList rows(QSqlDatabase &db, const QString &sql, const QVariantList &binds = {}) {
    QSqlQuery q(db);
    q.prepare(sql);
    for (const QVariant &value : binds)
        q.addBindValue(value);
    QStringList out;
    if (!q.exec()) {
        out << u"query failed: "_s + q.lastError().text();
        return out;
    }
    while (q.next()) {
        QStringList columns;
        for (int i = 0; i < q.record().count(); ++i)
            columns << q.value(i).toString();
        out << columns.join(u" | "_s);
    }
    return out;
}

// What decides whether a per-company question seeks: every index with its columns in order,
// uniqueness and origin; the primary and foreign keys; and the stored definitions themselves.
QStringList sqliteSchema(QSqlDatabase &db) {
    QStringList out;
    for (const QString &table : BulkTables) {
        out += rows(db,
                    u"SELECT type, name, sql FROM sqlite_master WHERE tbl_name = ? "
                    "ORDER BY type, name"_s,
                    {table});
        for (const QString &index :
             rows(db, u"SELECT name FROM pragma_index_list(?) ORDER BY name"_s, {table})) {
            out += rows(db,
                        u"SELECT name, \"unique\", origin, partial FROM pragma_index_list(?) "
                        "WHERE name = ?"_s,
                        {table, index});
            out << index + u" columns: "_s +
                       rows(db, u"SELECT name FROM pragma_index_info(?) ORDER BY seqno"_s, {index})
                           .join(u", "_s);
        }
        out << table + u" primary key: "_s +
                   rows(db, u"SELECT name FROM pragma_table_info(?) WHERE pk > 0 ORDER BY pk"_s,
                        {table})
                       .join(u", "_s);
        out += rows(db,
                    u"SELECT 'foreign key', \"table\", \"from\", \"to\", on_update, "
                    "on_delete FROM pragma_foreign_key_list(?) ORDER BY id, seq"_s,
                    {table});
    }
    return out;
}

// Unquoted names fold to lower case on PostgreSQL. An index left invalid or a key left NOT VALID
// by a rebuild would still be listed, so validity is part of the description.
QStringList postgresSchema(QSqlDatabase &db) {
    QStringList out;
    for (const QString &table : BulkTables) {
        const QString name = table.toLower();
        out += rows(db,
                    u"SELECT x.indexname, x.indexdef, i.indisvalid, i.indisready, "
                    "i.indisunique, i.indisprimary FROM pg_indexes x "
                    "JOIN pg_class c ON c.relname = x.indexname "
                    "JOIN pg_namespace n ON n.oid = c.relnamespace AND n.nspname = x.schemaname "
                    "JOIN pg_index i ON i.indexrelid = c.oid "
                    "WHERE x.schemaname = 'public' AND x.tablename = ? ORDER BY x.indexname"_s,
                    {name});
        out += rows(db,
                    u"SELECT tc.constraint_type, tc.constraint_name, "
                    "string_agg(k.column_name, ', ' ORDER BY k.ordinal_position) "
                    "FROM information_schema.table_constraints tc "
                    "JOIN information_schema.key_column_usage k "
                    "ON k.constraint_schema = tc.constraint_schema "
                    "AND k.constraint_name = tc.constraint_name "
                    "WHERE tc.table_schema = 'public' AND tc.table_name = ? "
                    "GROUP BY tc.constraint_type, tc.constraint_name "
                    "ORDER BY tc.constraint_type, tc.constraint_name"_s,
                    {name});
        out += rows(db,
                    u"SELECT conname, contype, convalidated, pg_get_constraintdef(oid) "
                    "FROM pg_constraint WHERE conrelid = ?::regclass ORDER BY conname"_s,
                    {name});
    }
    return out;
}

// What the seed's documentation promises about the entries of `large:3`: companies 01, 02, 03;
// December 2026 is not yet carried into the balances anywhere; every tenth company from the first
// (here only 01) has entries waiting for the fiscal recalculation. Whether some of those are in
// December is left open, so that combination only has to be absent elsewhere.
struct FlagCase {
    const char *Evolved;
    const char *Recalc;
    QStringList Present; // companies that must have such entries
    QStringList Absent;  // companies that must have none
};

const QVector<FlagCase> &flagCases() {
    static const QVector<FlagCase> cases = {
        {"S", "N", {u"01"_s, u"02"_s, u"03"_s}, {}},
        {"N", "N", {u"01"_s, u"02"_s, u"03"_s}, {}},
        {"S", "S", {u"01"_s}, {u"02"_s, u"03"_s}},
        {"N", "S", {}, {u"02"_s, u"03"_s}},
    };
    return cases;
}

} // namespace

class TstSeedLarge final : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QStringList m_pgDatabases;

    // A new, empty database for `kind`; its URL, or empty with a failure recorded.
    QString freshDatabase(const QString &kind, const QString &label) {
        if (kind == u"sqlite"_s)
            return u"sqlite:"_s + m_dir.filePath(label + u".db"_s);
        const QString admin = qEnvironmentVariable("GER_TEST_PG_URL");
        const QString name = u"ger_seed_%1_%2"_s.arg(QCoreApplication::applicationPid()).arg(label);
        {
            QSqlDatabase db = direct(admin, u"admin"_s);
            QSqlQuery q(db);
            if (!db.isOpen() || !q.exec(u"CREATE DATABASE %1"_s.arg(name))) {
                qWarning("%s", qPrintable(db.lastError().text() + q.lastError().text()));
                return {};
            }
        }
        drop(u"admin"_s);
        m_pgDatabases << name;
        QUrl url(admin);
        url.setPath(u"/"_s + name);
        return url.toString();
    }

    QStringList schemaOf(const QString &url) {
        QStringList schema;
        {
            QSqlDatabase db = direct(url, u"inspect"_s);
            if (!db.isOpen())
                return {u"cannot open: "_s + db.lastError().text()};
            schema = url.startsWith(u"sqlite:"_s) ? sqliteSchema(db) : postgresSchema(db);
        }
        drop(u"inspect"_s);
        return schema;
    }

    // Runs `check` on a direct connection to `url`.
    void inspect(const QString &url, const std::function<void(QSqlDatabase &)> &check) {
        {
            QSqlDatabase db = direct(url, u"inspect"_s);
            QVERIFY2(db.isOpen(), qPrintable(db.lastError().text()));
            check(db);
        }
        drop(u"inspect"_s);
    }

    // Companies, records, and entries and balances all belonging to the three companies. Counted
    // per company, which walks the per-company indexes rather than sorting the table.
    static void checkCounts(QSqlDatabase &db) {
        const QStringList companies = {u"01"_s, u"02"_s, u"03"_s};
        QCOMPARE(rows(db, u"SELECT CDEMPRESA FROM EMPRESA ORDER BY CDEMPRESA"_s), companies);
        QCOMPARE(rows(db, u"SELECT CDEMPRESA FROM CONTOPECTBL ORDER BY CDEMPRESA"_s), companies);
        const struct {
            QString Table;
            qint64 Expected;
        } tables[] = {{u"LANCCONT"_s, Entries}, {u"SALDEMPR"_s, Balances}};
        for (const auto &t : tables) {
            QSqlQuery q(db);
            QVERIFY2(q.exec(u"SELECT CDEMPRESA, COUNT(*) FROM %1 GROUP BY CDEMPRESA "
                            "ORDER BY CDEMPRESA"_s.arg(t.Table)),
                     qPrintable(q.lastError().text()));
            QStringList seen;
            qint64 total = 0;
            while (q.next()) {
                seen << q.value(0).toString();
                QVERIFY2(q.value(1).toLongLong() > 0, qPrintable(t.Table + seen.last()));
                total += q.value(1).toLongLong();
            }
            QVERIFY2(seen == companies, qPrintable(t.Table + u": "_s + seen.join(u", "_s)));
            QVERIFY2(total == t.Expected, qPrintable(t.Table + u": "_s + QString::number(total)));
        }
    }

    // Existence per company and flag combination: each question is a seek on one of the flag
    // indexes, where counting the combinations would read every entry.
    static void checkFlags(QSqlDatabase &db) {
        QSqlQuery q(db);
        QVERIFY(q.prepare(u"SELECT 1 FROM LANCCONT WHERE CDEMPRESA = ? AND IDEVOLUIDO = ? "
                          "AND IDRECALCFISC = ? LIMIT 1"_s));
        for (const FlagCase &c : flagCases()) {
            for (const QString &company : {u"01"_s, u"02"_s, u"03"_s}) {
                q.addBindValue(company);
                q.addBindValue(QString::fromLatin1(c.Evolved));
                q.addBindValue(QString::fromLatin1(c.Recalc));
                QVERIFY2(q.exec(), qPrintable(q.lastError().text()));
                const bool any = q.next();
                q.finish();
                const QByteArray what =
                    u"company %1, carried %2, recalculation %3: %4"_s
                        .arg(company, QLatin1StringView(c.Evolved), QLatin1StringView(c.Recalc),
                             any ? u"present"_s : u"absent"_s)
                        .toUtf8();
                if (c.Present.contains(company))
                    QVERIFY2(any, what.constData());
                if (c.Absent.contains(company))
                    QVERIFY2(!any, what.constData());
            }
        }
    }

private Q_SLOTS:
    void cleanupTestCase() {
        if (m_pgDatabases.isEmpty())
            return;
        {
            QSqlDatabase db = direct(qEnvironmentVariable("GER_TEST_PG_URL"), u"admin"_s);
            QSqlQuery q(db);
            for (const QString &name : std::as_const(m_pgDatabases))
                q.exec(u"DROP DATABASE IF EXISTS %1"_s.arg(name));
        }
        drop(u"admin"_s);
    }

    void largeSeed_data() {
        QTest::addColumn<QString>("kind");
        QTest::newRow("sqlite") << u"sqlite"_s;
        QTest::newRow("postgresql") << u"postgresql"_s;
    }

    void largeSeed() {
        QFETCH(QString, kind);
        if (kind == u"postgresql"_s && qEnvironmentVariableIsEmpty("GER_TEST_PG_URL")) {
            // CTest always names the row it runs and sets the URL for it; only a bare run of
            // every row without a server gets here.
            const bool named = QCoreApplication::arguments().join(u' ').contains(u":postgresql"_s);
            if (named)
                QFAIL("GER_TEST_PG_URL is not set");
            QSKIP("GER_TEST_PG_URL is not set");
        }
        QVERIFY(m_dir.isValid());

        const QString plainUrl = freshDatabase(kind, u"plain"_s);
        const QString seededUrl = freshDatabase(kind, u"seeded"_s);
        QVERIFY(!plainUrl.isEmpty() && !seededUrl.isEmpty());
        QString error;
        {
            auto plain = Backend::Open(plainUrl, &error);
            QVERIFY2(plain, qPrintable(error));
        }
        const QStringList migrated = schemaOf(plainUrl);
        // The comparison means nothing if the description missed the objects it guards.
        const QString described = migrated.join(u'\n').toUpper();
        for (const QString &expected : {u"LANCCONT_EVOLUCAO"_s, u"LANCCONT_RECALC"_s,
                                        u"REFERENCES EMPRESA"_s, u"FOREIGN KEY"_s, u"PRIMARY"_s})
            QVERIFY2(described.contains(expected), qPrintable(expected + u"\n"_s + described));
        QVERIFY2(!described.contains(u"QUERY FAILED"_s), qPrintable(described));

        QElapsedTimer timer;
        timer.start();
        auto seeded = Backend::Open(seededUrl, &error);
        QVERIFY2(seeded, qPrintable(error));
        QVERIFY2(seeded->Seed(u"large:3"_s, &error), qPrintable(error));
        qInfo("large:3 seeded in %lld ms", timer.elapsed());
        QCOMPARE(schemaOf(seededUrl), migrated);
        inspect(seededUrl, checkCounts);
        inspect(seededUrl, checkFlags);
        if (QTest::currentTestFailed())
            return;

        // The database is no longer empty: a second seed, of either kind, must leave it as it is
        // (refusing is fine too), and above all not take the indexes down again.
        for (const QString &again : {u"large:3"_s, u"demo"_s}) {
            error.clear();
            bool done = true;
            QVERIFY2(seeded->Seed(again, &error, &done), qPrintable(error));
            QVERIFY(!done); // so the server can say it left the database alone
        }
        QCOMPARE(schemaOf(seededUrl), migrated);
        inspect(seededUrl, checkCounts);
    }
};

QTEST_GUILESS_MAIN(TstSeedLarge)
#include "tst_seed_large.moc"
