#include "migrations.h"

#include "database.h"
#include "historychain.h"
#include "serverlog.h"

#include <QDateTime>
#include <QScopeGuard>
#include <QSqlError>
#include <QStringList>

using namespace Qt::StringLiterals;

namespace {

// Dates are DATE columns: SQLite keeps them as ISO text, which sorts and compares like a date;
// PostgreSQL returns them as dates. Amounts are NUMERIC(15,2). Flags are 1-character text.
QString flag(const char *name) {
    return u"%1 VARCHAR(1) CHECK (%1 IN ('S', 'N'))"_s.arg(QLatin1StringView(name));
}

QStringList schemaV1() {
    QStringList record;
    record << u"CDEMPRESA VARCHAR(2) NOT NULL PRIMARY KEY REFERENCES EMPRESA (CDEMPRESA)"_s
           << flag("IDCONTAJUDTCOMP") << u"DTINICLANC DATE"_s << u"DTFINALANC DATE"_s
           << u"DTINICCONT DATE"_s << u"DTFINACONT DATE"_s << u"DTINICRELA DATE"_s
           << u"DTFINARELA DATE"_s << u"IDSALDEMPR VARCHAR(1)"_s << flag("IDCONTGERE")
           << flag("IDCONTCOME") << u"DTINICCTBL DATE"_s << u"DTFINACCTBL DATE"_s
           << flag("IDUTCUSTESTCONT") << u"DTFININTCONTDFS DATE"_s << u"DTINIINTCONTDFS DATE"_s
           << u"DTINIINTCONTDFE DATE"_s << u"DTFININTCONTDFE DATE"_s << u"DTINIINTCONTGPA DATE"_s
           << u"DTFININTCONTGPA DATE"_s << flag("IDACUMVRCONT") << flag("IDSUGRAT")
           << flag("IDUTSALDOSOC") << flag("IDMSMCONTADBCR") << flag("IDRETESTSETOR")
           << flag("IDCONSVNDDFS") << flag("IDDESPTRIBDIFAL") << u"DTINIINTCONTFIS DATE"_s
           << flag("IDCONSDTMOVIRETEST") << u"DTFININTCONTFIS DATE"_s << flag("IDCTBSINTETICO")
           << flag("IDGERESTLANCONT") << u"DTINIINTCONTVEXT DATE"_s << u"DTFININTCONTVEXT DATE"_s
           << flag("IDCONTVREXCICMSEP") << flag("IDCONSRATPROD") << flag("IDCONGERGGF");
    return {
        u"CREATE TABLE EMPRESA (CDEMPRESA VARCHAR(2) NOT NULL PRIMARY KEY, "
        "NMEMPRESA VARCHAR(40) NOT NULL)"_s,
        u"CREATE TABLE CONTOPECTBL (%1)"_s.arg(record.join(u", "_s)),
        u"CREATE TABLE PARAMGERAL (IDPARAMGERAL INTEGER NOT NULL PRIMARY KEY "
        "CHECK (IDPARAMGERAL = 1), %1)"_s.arg(flag("IDCONTAJUDTCOMP")),
        u"CREATE TABLE SALDEMPR (CDEMPRESA VARCHAR(2) NOT NULL REFERENCES EMPRESA (CDEMPRESA), "
        "DTSALDEMPR DATE NOT NULL, CDCONTA VARCHAR(20) NOT NULL, "
        "VRSALDODEB NUMERIC(15,2) NOT NULL DEFAULT 0, VRSALDOCRED NUMERIC(15,2) NOT NULL "
        "DEFAULT 0, PRIMARY KEY (CDEMPRESA, DTSALDEMPR, CDCONTA))"_s,
        // IDEVOLUIDO: carried into the monthly balances; IDRECALCFISC: waiting for the fiscal
        // recalculation.
        u"CREATE TABLE LANCCONT (NRLANC INTEGER NOT NULL PRIMARY KEY, "
        "CDEMPRESA VARCHAR(2) NOT NULL REFERENCES EMPRESA (CDEMPRESA), DTLANC DATE NOT NULL, "
        "CDCONTA VARCHAR(20) NOT NULL, VRLANC NUMERIC(15,2) NOT NULL, "
        "IDEVOLUIDO VARCHAR(1) NOT NULL CHECK (IDEVOLUIDO IN ('S', 'N')), "
        "IDRECALCFISC VARCHAR(1) NOT NULL CHECK (IDRECALCFISC IN ('S', 'N')))"_s,
        u"CREATE TABLE FECHAPERIODO (CDEMPRESA VARCHAR(2) NOT NULL REFERENCES EMPRESA "
        "(CDEMPRESA), DSDATA VARCHAR(10) NOT NULL, NMOPERADOR VARCHAR(60) NOT NULL, "
        "DTREGISTRO TIMESTAMP NOT NULL)"_s,
    };
}

QStringList indexesV2() {
    return {
        u"CREATE INDEX LANCCONT_EVOLUCAO ON LANCCONT (CDEMPRESA, IDEVOLUIDO, DTLANC)"_s,
        u"CREATE INDEX LANCCONT_RECALC ON LANCCONT (CDEMPRESA, IDRECALCFISC, DTLANC)"_s,
        u"CREATE INDEX FECHAPERIODO_EMPRESA ON FECHAPERIODO (CDEMPRESA, DTREGISTRO)"_s,
    };
}

// Who changed what and when: one row per changed field, grouped by the call (IDALTERACAO);
// IDOPERACAO I(nclusão), A(lteração), E(xclusão). No key to EMPRESA: a company's history
// outlives its record and the company itself.
QStringList historyV3() {
    return {
        u"CREATE TABLE HISTALTERACAO (IDALTERACAO VARCHAR(36) NOT NULL, NRSEQ INTEGER NOT NULL, "
        "DTALTERACAO TIMESTAMP NOT NULL, NMOPERADOR VARCHAR(60) NOT NULL, "
        "IDVERIFICADO VARCHAR(1) NOT NULL CHECK (IDVERIFICADO IN ('S', 'N')), "
        "NMMETODO VARCHAR(30) NOT NULL, "
        "IDOPERACAO VARCHAR(1) NOT NULL CHECK (IDOPERACAO IN ('I', 'A', 'E')), "
        "CDEMPRESA VARCHAR(2), NMCAMPO VARCHAR(30) NOT NULL, TPCAMPO VARCHAR(10) NOT NULL, "
        "VLANTERIOR VARCHAR(60), VLNOVO VARCHAR(60), PRIMARY KEY (IDALTERACAO, NRSEQ))"_s,
        u"CREATE INDEX HISTALTERACAO_EMPRESA ON HISTALTERACAO (CDEMPRESA, DTALTERACAO)"_s,
        u"CREATE INDEX HISTALTERACAO_DATA ON HISTALTERACAO (DTALTERACAO)"_s,
    };
}

// A server keeps the companies' periods in memory on PostgreSQL: every statement that changes
// them, from whatever program, tells the servers listening. SQLite has no such channel, and its
// servers read the periods afresh each time.
QStringList noticesV4(Database::Dialect dialect) {
    if (dialect != Database::Dialect::Postgres)
        return {};
    QStringList out{u"CREATE FUNCTION GER_AVISA_PERIODOS() RETURNS TRIGGER LANGUAGE plpgsql AS "
                    "$$ BEGIN PERFORM pg_notify('ger_periodos', ''); RETURN NULL; END $$"_s};
    for (const char *table : {"EMPRESA", "CONTOPECTBL"})
        out << u"CREATE TRIGGER %1_AVISA AFTER INSERT OR UPDATE OR DELETE OR TRUNCATE ON %1 "
               "FOR EACH STATEMENT EXECUTE FUNCTION GER_AVISA_PERIODOS()"_s.arg(
                   QLatin1StringView(table));
    return out;
}

// The history as a hash chain (see historychain.h): each row's number in it and its hash, and the
// chain's head and anchor. The rows already stored are chained once, after these statements.
QStringList chainV5() {
    return {
        u"ALTER TABLE HISTALTERACAO ADD COLUMN NRCADEIA BIGINT"_s,
        u"ALTER TABLE HISTALTERACAO ADD COLUMN CDHASH VARCHAR(64)"_s,
        u"CREATE UNIQUE INDEX HISTALTERACAO_CADEIA ON HISTALTERACAO (NRCADEIA)"_s,
        u"CREATE TABLE HISTCADEIA (IDCADEIA INTEGER NOT NULL PRIMARY KEY CHECK (IDCADEIA = 1), "
        "NRULTIMO BIGINT NOT NULL, CDULTIMO VARCHAR(64) NOT NULL, NRANCORA BIGINT NOT NULL, "
        "CDANCORA VARCHAR(64) NOT NULL)"_s,
        u"INSERT INTO HISTCADEIA (IDCADEIA, NRULTIMO, CDULTIMO, NRANCORA, CDANCORA) VALUES "
        "(1, 0, '%1', 0, '%1')"_s.arg(QLatin1StringView(HistoryChain::Start)),
    };
}
constexpr int ChainVersion = 5;

// The definitive close, one row per company that has one, and the exceptions to the gate, one
// row per company an exception names (CDMODULO and NMCLIENTE null: every module, any client;
// its moments UTC text, 2026-12-10T18:00:00Z, which compares alike on both engines).
// The gate keeps both with the periods, so their changes are announced as theirs are.
QStringList closeV6(Database::Dialect dialect) {
    QStringList out{
        u"CREATE TABLE ENCERRAMENTO (CDEMPRESA VARCHAR(2) NOT NULL PRIMARY KEY REFERENCES "
        "EMPRESA (CDEMPRESA), DTENCERRAMENTO DATE NOT NULL, DSMOTIVO VARCHAR(200) NOT NULL, "
        "NMOPERADOR VARCHAR(60) NOT NULL, DTREGISTRO TIMESTAMP NOT NULL)"_s,
        u"CREATE TABLE EXCECAO (NREXCECAO INTEGER NOT NULL, CDEMPRESA VARCHAR(2) NOT NULL "
        "REFERENCES EMPRESA (CDEMPRESA), CDMODULO VARCHAR(8), DTINICIO DATE NOT NULL, "
        "DTFIM DATE NOT NULL, DTEXPIRA VARCHAR(20) NOT NULL, DSMOTIVO VARCHAR(200) NOT NULL, "
        "NMCLIENTE VARCHAR(60), NMOPERADOR VARCHAR(60) NOT NULL, DTREGISTRO VARCHAR(20) NOT NULL, "
        "DTREVOGACAO VARCHAR(20), NMREVOGADOR VARCHAR(60), DSMOTIVOREVOGACAO VARCHAR(200), "
        "PRIMARY KEY (NREXCECAO, CDEMPRESA))"_s,
        u"CREATE INDEX EXCECAO_EMPRESA ON EXCECAO (CDEMPRESA, NREXCECAO)"_s};
    if (dialect == Database::Dialect::Postgres)
        for (const char *table : {"ENCERRAMENTO", "EXCECAO"})
            out << u"CREATE TRIGGER %1_AVISA AFTER INSERT OR UPDATE OR DELETE OR TRUNCATE ON %1 "
                   "FOR EACH STATEMENT EXECUTE FUNCTION GER_AVISA_PERIODOS()"_s.arg(
                       QLatin1StringView(table));
    return out;
}

QVector<QStringList> all(Database::Dialect dialect) {
    return {schemaV1(), indexesV2(), historyV3(), noticesV4(dialect), chainV5(), closeV6(dialect)};
}

int currentVersion(QSqlDatabase &db) {
    QSqlQuery q = Database::Prepare(db, u"SELECT MAX(VERSION) FROM SCHEMA_VERSION"_s);
    Database::Exec(q);
    return Database::Next(q) && !q.value(0).isNull() ? q.value(0).toInt() : 0;
}

// The version as it stands, read without taking the write lock: 0 for a database without the
// version table.
int storedVersion(Database &database) {
    int found = 0;
    database.Transaction(Database::Access::Read, [&](QSqlDatabase &db) {
        if (db.tables().contains(u"SCHEMA_VERSION"_s, Qt::CaseInsensitive))
            found = currentVersion(db);
    });
    return found;
}

// A migration waits for another program's write (an import) this long: a start that must
// upgrade has nothing better to do, and says that it waits.
constexpr int MigrationWaitMs = 10 * 60 * 1000;

} // namespace

namespace Migrations {

int LatestVersion() {
    return int(all(Database::Dialect::Sqlite).size());
}

// Servers starting together on one PostgreSQL database take turns: the lock is held by the
// session, outside any transaction, so each transaction below starts (and takes its snapshot)
// only once the lock is ours and sees what the server before us committed. A lock taken inside a
// serializable transaction would be too late: its snapshot dates from the lock's own statement.
class SessionLock final {
public:
    explicit SessionLock(Database &database)
        : m_db(database.Kind() == Database::Dialect::Postgres ? database.Connection()
                                                              : QSqlDatabase()) {
        if (m_db.isValid())
            Database::ExecDirect(m_db, u"SELECT pg_advisory_lock(9400)"_s);
    }
    ~SessionLock() {
        if (m_db.isValid())
            QSqlQuery(m_db).exec(u"SELECT pg_advisory_unlock(9400)"_s);
    }
    SessionLock(const SessionLock &) = delete;
    SessionLock &operator=(const SessionLock &) = delete;

private:
    QSqlDatabase m_db;
};

bool Run(Database &database, QString *error) {
    try {
        // A current schema is left alone without a write: a start, an export or a check beside a
        // long import neither waits for it nor fails.
        const int stored = storedVersion(database);
        if (stored == LatestVersion())
            return true;
        if (stored > LatestVersion()) {
            *error = u"o banco está na versão %1 do esquema e este servidor conhece até a %2; "
                     "use o servidor da versão que o atualizou"_s.arg(stored)
                         .arg(LatestVersion());
            return false;
        }
        const Database::LockWait before = database.CurrentLockWait();
        database.SetLockWait({MigrationWaitMs, [] {
                                  ServerLog::Write(ServerLog::Level::Warn,
                                                   u"o esquema do banco aguarda o fim da "
                                                   "gravação de outro programa para ser "
                                                   "atualizado"_s);
                              }});
        const auto restore = qScopeGuard([&] { database.SetLockWait(before); });
        const SessionLock turn(database);
        database.Transaction(Database::Access::Write, [&](QSqlDatabase &db) {
            Database::ExecDirect(db, u"CREATE TABLE IF NOT EXISTS SCHEMA_VERSION (VERSION "
                                     "INTEGER NOT NULL PRIMARY KEY, APPLIED TIMESTAMP NOT "
                                     "NULL)"_s);
        });
        // A newer server may have changed what the tables mean; serving them as we know them
        // could write what it cannot read.
        int found = 0;
        database.Transaction(Database::Access::SingleRead,
                             [&](QSqlDatabase &db) { found = currentVersion(db); });
        if (found > LatestVersion()) {
            *error = u"o banco está na versão %1 do esquema e este servidor conhece até a %2; "
                     "use o servidor da versão que o atualizou"_s.arg(found)
                         .arg(LatestVersion());
            return false;
        }
        for (int version = 1; version <= LatestVersion(); ++version) {
            database.Transaction(Database::Access::Write, [&](QSqlDatabase &db) {
                if (currentVersion(db) >= version)
                    return;
                const QStringList steps = all(database.Kind()).at(version - 1);
                for (const QString &sql : steps)
                    Database::ExecDirect(db, sql);
                if (version == ChainVersion)
                    HistoryChain::ChainUnchained(db);
                QSqlQuery mark = Database::Prepare(
                    db, u"INSERT INTO SCHEMA_VERSION (VERSION, APPLIED) VALUES (?, ?)"_s);
                mark.addBindValue(version);
                mark.addBindValue(QDateTime::currentDateTime().toString(Qt::ISODate));
                Database::Exec(mark);
            });
        }
    } catch (const CallFailure &failure) {
        *error = u"Falha ao atualizar o esquema do banco: %1"_s.arg(failure.Message);
        return false;
    } catch (const QSqlError &failure) {
        *error = u"Falha ao atualizar o esquema do banco: %1"_s.arg(failure.text());
        return false;
    }
    return true;
}

} // namespace Migrations
