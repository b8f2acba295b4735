#include "backend.h"

#include "auditobject.h"

#include "cacheobject.h"
#include "database.h"
#include "gateobject.h"
#include "historychain.h"
#include "migrations.h"
#include "paramctblobject.h"
#include "seeds.h"
#include "serverlog.h"
#include "storedcheck.h"

#include <QElapsedTimer>

using namespace Qt::StringLiterals;

Backend::Backend() = default;

Backend::~Backend() {
    // The objects hold a reference to the database: they go first.
    m_gate.reset();
    m_cache.reset();
    m_paramCtbl.reset();
    m_database.reset();
}

std::unique_ptr<Backend> Backend::Open(const QString &url, QString *error) {
    std::unique_ptr<Database> database = Database::Open(url, error);
    if (!database)
        return nullptr;
    // Each worker keeps prepared statements, and the gate a LISTEN, on its session: behind a
    // pooler that shares backends between transactions calls would fail at random and the
    // gate would stop hearing. Better no server than that.
    if (!database->SessionsKept(error))
        return nullptr;
    if (!Migrations::Run(*database, error))
        return nullptr;
    // One such row makes every desktop fail on the parameter screen; better no server at all,
    // saying which companies, than one that breaks all its clients.
    QElapsedTimer timer;
    timer.start();
    QList<StoredCheck::Finding> findings;
    try {
        findings = StoredCheck::Run(*database, StoredCheck::Scope::Served, 20);
    } catch (const CallFailure &failure) {
        *error = failure.Message;
        return nullptr;
    } catch (const QSqlError &failure) {
        *error = failure.text();
        return nullptr;
    }
    ServerLog::Write(ServerLog::Level::Debug, u"dados verificados em %1 ms"_s.arg(timer.elapsed()));
    WarnOnBrokenHistory(*database, url);
    if (!findings.isEmpty()) {
        *error = u"há registros que os clientes não conseguem ler, das empresas %1; veja-os com "
                 "ger-server check --db %2"_s.arg(StoredCheck::Companies(findings).join(u", "_s),
                                                  Database::Redacted(url));
        return nullptr;
    }
    std::unique_ptr<Backend> backend(new Backend);
    backend->m_paramCtbl = std::make_unique<ParamCtblObject>(*database);
    backend->m_cache = std::make_unique<CacheObject>(*database);
    backend->m_audit = std::make_unique<AuditObject>(*database);
    backend->m_gate = std::make_unique<GateObject>(*database);
    backend->m_database = std::move(database);
    return backend;
}

// The history's last rows, at every start: a tampered tail is said at once, in a bounded time
// whatever the history's length. The whole chain is `ger-server check`'s.
void Backend::WarnOnBrokenHistory(Database &database, const QString &url) {
    constexpr qint64 TailRows = 1000;
    try {
        HistoryChain::Verdict verdict;
        database.Transaction(Database::Access::Read, [&](QSqlDatabase &db) {
            verdict = HistoryChain::Verify(db, TailRows);
        });
        if (verdict.First)
            ServerLog::Write(ServerLog::Level::Warn,
                             u"o histórico de alterações foi mexido por fora do servidor: %1; "
                             "confira tudo com ger-server check --db %2"_s.arg(
                                 verdict.First->Text(), Database::Redacted(url)));
    } catch (const CallFailure &failure) {
        ServerLog::Write(
            ServerLog::Level::Warn,
            u"não foi possível conferir o histórico de alterações: %1"_s.arg(failure.Message));
    } catch (const QSqlError &failure) {
        ServerLog::Write(ServerLog::Level::Warn,
                         u"não foi possível conferir o histórico de alterações: %1"_s.arg(
                             ServerLog::Escape(failure.text())));
    }
}

QString Backend::Redacted(const QString &url) {
    return Database::Redacted(url);
}

bool Backend::Seed(const QString &seed, QString *error, bool *seeded) {
    return Seeds::Run(*m_database, seed, error, seeded);
}

void Backend::SetWriteWait(int seconds) {
    m_database->SetLockWait({seconds * 1000, {}});
}

Backend::Health Backend::Probe() {
    Health health;
    health.KnownVersion = Migrations::LatestVersion();
    health.Kind = m_database->Kind() == Database::Dialect::Sqlite ? u"sqlite"_s : u"postgresql"_s;
    health.Hearing = GateHearing();
    try {
        m_database->Transaction(Database::Access::SingleRead, [&](QSqlDatabase &db) {
            QSqlQuery q = Database::Prepare(db, u"SELECT MAX(VERSION) FROM SCHEMA_VERSION"_s);
            Database::Exec(q);
            health.SchemaVersion = Database::Next(q) ? q.value(0).toInt() : 0;
        });
        health.Reached = true;
    } catch (const CallFailure &) {
        health.SchemaVersion = 0;
    }
    return health;
}

bool Backend::InProcess() const {
    return m_database->Kind() == Database::Dialect::Sqlite;
}

bool Backend::GateHearing() const {
    return m_gate->Hearing();
}

QList<RemoteObject *> Backend::Objects() const {
    return {m_paramCtbl.get(), m_cache.get(), m_audit.get(), m_gate.get()};
}
