#include "database.h"

#include "blockingwait.h"
#include "servercounters.h"
#include "serverlog.h"
#include "sqlitereader.h"

#include <QAtomicInteger>
#include <QDateTime>
#include <QElapsedTimer>
#include <QMutex>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSet>
#include <QSqlDriver>
#include <QSqlError>
#include <QThread>
#include <QUrl>

#include <libpq-fe.h>
#include <sqlite3.h>

#include <algorithm>
#include <map>
#include <optional>
#include <unordered_map>
#include <vector>

using namespace Qt::StringLiterals;

// Names of the connections this database opened, so whoever goes last (the thread or the
// database) removes them.
struct Database::Registry {
    QMutex Lock;
    QSet<QString> Names;
};

namespace {

QAtomicInteger<quint64> g_serial;
// Every connection opened gets a name of its own: one that replaces a lost connection must not
// be taken for it.
QAtomicInteger<quint64> g_generation;

struct ThreadConnection {
    QString Name;
    std::weak_ptr<void> Owner;
    std::function<void(const QString &)> Release;
    // Statements prepared on this connection, by their text: a call prepares each once per
    // connection, not once per call (on PostgreSQL a PREPARE is a round trip of its own).
    std::unordered_map<QString, std::unique_ptr<QSqlQuery>> Statements;
    // Those handed out since the last transaction ended, to be reset when it does.
    std::vector<QSqlQuery *> Used;
    // The same for statements read straight from SQLite.
    std::unordered_map<QString, std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt *)>> Raw;
    std::vector<sqlite3_stmt *> RawUsed;
    // The database dropped it (a restart, a terminated session, a cut network): the next call
    // on this thread opens another.
    bool Lost = false;
    ~ThreadConnection() {
        // The driver's complaints about statements a dead session cannot free say nothing new.
        std::optional<ServerLog::QtQuiet> quiet;
        if (Lost)
            quiet.emplace();
        // Statements go before their connection does: SQLite refuses to close a connection
        // with a statement still prepared on it.
        Used.clear();
        Statements.clear();
        RawUsed.clear();
        Raw.clear();
        if (!Owner.expired() && Release)
            Release(Name);
    }
};

// Per thread: database serial -> connection. Destroyed when the thread ends.
thread_local std::map<quint64, std::unique_ptr<ThreadConnection>> t_connections;

// Two serializable writers of the same rows: one of them fails and starts over. A short random
// pause keeps the same pair from colliding again at once.
constexpr int SerializationRetries = 8;

void pauseBeforeRetry(int attempt) {
    QThread::msleep(QRandomGenerator::global()->bounded(5, 20) * (attempt + 1));
}

bool isSerializationFailure(const QSqlError &error) {
    const QString code = error.nativeErrorCode();
    return code == u"40001"_s || code == u"40P01"_s;
}

// Statements cached per connection; past this many (statements built from variable text) the
// cache starts over rather than grow.
constexpr qsizetype MaxCachedStatements = 256;

ThreadConnection *connectionHolder(const QSqlDatabase &db) {
    const QString name = db.connectionName();
    for (auto &[serial, holder] : t_connections)
        if (holder && holder->Name == name)
            return holder.get();
    return nullptr;
}

// Resets what the finished transaction left open: read cursors of SQLite keep a snapshot
// (and hold back checkpoints), PostgreSQL keeps portals.
void releaseStatements(const QSqlDatabase &db) {
    if (ThreadConnection *holder = connectionHolder(db)) {
        for (QSqlQuery *q : holder->Used)
            q->finish();
        holder->Used.clear();
        for (sqlite3_stmt *statement : holder->RawUsed) {
            sqlite3_reset(statement);
            sqlite3_clear_bindings(statement);
        }
        holder->RawUsed.clear();
        if (holder->Statements.size() > size_t(MaxCachedStatements))
            holder->Statements.clear();
        if (holder->Raw.size() > size_t(MaxCachedStatements))
            holder->Raw.clear();
    }
}

// The calling thread's wait for a lock held by another connection: from the busy handler's first
// call until the statement that waited is over.
struct LockWaitState {
    QElapsedTimer Since;
    bool Told = false;
    BlockingWait::Section Blocking;
};

thread_local LockWaitState t_lockWait;

void endLockWait() {
    t_lockWait.Since.invalidate();
    t_lockWait.Blocking.End();
}

// In place of SQLite's own timeout: the wait is the database's to set, and a thread's runner
// hears when the thread waits, so that it can run another meanwhile.
int onBusy(void *context, int count) {
    const Database::LockWait policy = static_cast<const Database *>(context)->CurrentLockWait();
    if (count == 0 || !t_lockWait.Since.isValid()) {
        t_lockWait.Since.start();
        t_lockWait.Told = false;
    }
    const qint64 waited = t_lockWait.Since.elapsed();
    if (policy.LimitMs >= 0 && waited >= policy.LimitMs) {
        endLockWait();
        return 0;
    }
    // A save waiting a few milliseconds for another is no reason for a new thread.
    if (waited >= 10)
        t_lockWait.Blocking.Begin();
    if (!t_lockWait.Told && waited >= 1000) {
        t_lockWait.Told = true;
        if (policy.Waiting)
            policy.Waiting();
    }
    static constexpr int Pauses[] = {1, 2, 5, 10, 15, 20};
    QThread::msleep(count < int(std::size(Pauses)) ? Pauses[count] : 25);
    return 1;
}

bool isBusy(const QSqlError &error) {
    // SQLite's codes, primary or extended (SQLITE_BUSY_*); PostgreSQL's have five characters.
    const QString code = error.nativeErrorCode();
    return code.size() < 5 && (code.toInt() & 0xff) == SQLITE_BUSY;
}

// A value of a libpq connection string, quoted so that blanks and quotes in it stay its own.
QByteArray connValue(const QString &value) {
    QByteArray out = "'";
    for (const char c : value.toUtf8()) {
        if (c == '\'' || c == '\\')
            out += '\\';
        out += c;
    }
    return out + '\'';
}

// The parameters Qt's driver is given apart, and quotes itself.
bool qtSetsItself(const QByteArray &key) {
    return key == "host" || key == "dbname" || key == "user" || key == "password";
}

// libpq's messages run over several lines (one or two per host tried): one line of the log.
QString oneLine(const QString &text) {
    QStringList parts = text.split(u'\n', Qt::SkipEmptyParts);
    for (QString &part : parts)
        part = part.trimmed();
    parts.removeAll(QString());
    return parts.join(u' ');
}

// Whether a host entry of a libpq address is this machine: a socket directory, an abstract
// socket, localhost or a loopback address.
bool onLoopback(const QString &host) {
    if (host.isEmpty() || host.startsWith(u'/') || host.startsWith(u'@') ||
        host.compare(u"localhost"_s, Qt::CaseInsensitive) == 0)
        return true;
    // 127.0.0.0/8 and ::1 (Qt Network is not this library's to use).
    static const QRegularExpression loopback(
        u"^(127\\.\\d{1,3}\\.\\d{1,3}\\.\\d{1,3}|::1|(0{1,4}:){7}0{0,3}1)$"_s);
    return loopback.match(host).hasMatch();
}

} // namespace

namespace {

// A parameter's name that may hold a password, as an operator may have spelt it: libpq takes
// `password` and `sslpassword`, and a misspelt one is quoted back in its refusal with the rest
// of the address.
bool secretName(const QString &name) {
    const QString key = name.trimmed().toLower();
    for (const char *part : {"pas", "pw", "senha", "secret"}) {
        if (key.contains(QLatin1StringView(part)))
            return true;
    }
    return false;
}

} // namespace

QString Database::Redacted(const QString &url) {
    QString out = url;
    const qsizetype scheme = out.indexOf(u"://"_s);
    if (scheme >= 0) {
        // Cut by hand, as libpq reads the user part (up to the first '@' before any '/'): an
        // address too broken to parse may still hold a password.
        qsizetype end = scheme + 3;
        while (end < out.size() && out.at(end) != u'@' && out.at(end) != u'/')
            ++end;
        if (end < out.size() && out.at(end) == u'@') {
            const qsizetype colon = out.indexOf(u':', scheme + 3);
            if (colon >= 0 && colon < end)
                out = out.left(colon + 1) + u"***"_s + out.mid(end);
        }
        // libpq decodes a parameter's name as it does its value (pass%77ord is password).
        const qsizetype query = out.indexOf(u'?', scheme + 3);
        if (query < 0)
            return out;
        QStringList parameters = out.mid(query + 1).split(u'&');
        for (QString &parameter : parameters) {
            const qsizetype equals = parameter.indexOf(u'=');
            if (equals >= 0 &&
                secretName(QUrl::fromPercentEncoding(parameter.left(equals).toUtf8())))
                parameter = parameter.left(equals + 1) + u"***"_s;
        }
        return out.left(query + 1) + parameters.join(u'&');
    }
    // key=value: a quoted value runs to its closing quote (or to the end, when there is none).
    static const QRegularExpression inPairs(
        u"((?:^|\\s)([^\\s=]*)\\s*=\\s*)('(?:[^'\\\\]|\\\\.)*'?|\\S*)"_s);
    QString shown;
    qsizetype at = 0;
    for (const QRegularExpressionMatch &pair : inPairs.globalMatch(out)) {
        shown += out.mid(at, pair.capturedStart(0) - at);
        shown += secretName(pair.captured(2)) ? pair.captured(1) + u"***"_s : pair.captured(0);
        at = pair.capturedEnd(0);
    }
    return shown + out.mid(at);
}

std::unique_ptr<Database> Database::Open(const QString &url, QString *error,
                                         const QString &program) {
    std::unique_ptr<Database> db(new Database);
    db->m_serial = ++g_serial;
    db->m_registry = std::make_shared<Registry>();
    if (url.startsWith(u"sqlite:"_s)) {
        db->m_dialect = Dialect::Sqlite;
        db->m_path = url.mid(7);
        if (db->m_path.isEmpty()) {
            *error = u"Caminho do banco SQLite não informado."_s;
            return nullptr;
        }
    } else if (url.startsWith(u"postgresql://"_s) || url.startsWith(u"postgres://"_s) ||
               (url.contains(u'=') && !url.contains(u"://"_s))) {
        // libpq reads the address, as every PostgreSQL tool does: an unknown parameter or a
        // broken address is refused here with its words; a bad value, by the first connection.
        char *message = nullptr;
        PQconninfoOption *parsed = PQconninfoParse(url.toUtf8().constData(), &message);
        if (!parsed) {
            // libpq quotes the piece it could not read, which may be a password.
            QString reason = oneLine(message ? QString::fromUtf8(message) : u"sem memória"_s);
            const QString shown = Redacted(url);
            static const QRegularExpression quoted(u"\"([^\"]+)\""_s);
            for (const QRegularExpressionMatch &piece : quoted.globalMatch(reason))
                if (!shown.contains(piece.captured(1)))
                    reason.replace(piece.captured(0), u"\"***\""_s);
            *error = u"Endereço PostgreSQL inválido: %1"_s.arg(ServerLog::Escape(reason, 1000));
            PQfreemem(message);
            return nullptr;
        }
        bool timeout = !qEnvironmentVariableIsEmpty("PGCONNECT_TIMEOUT");
        bool fallbackName = false;
        for (const PQconninfoOption *option = parsed; option->keyword; ++option) {
            if (!option->val)
                continue;
            const QByteArray key = option->keyword;
            timeout = timeout || key == "connect_timeout";
            fallbackName = fallbackName || key == "fallback_application_name";
            db->m_pgOptions.append({key, QString::fromUtf8(option->val)});
        }
        PQconninfoFree(parsed);
        // An unreachable host should fail the call, not hang it.
        if (!timeout)
            db->m_pgOptions.append({"connect_timeout", u"10"_s});
        // Only where neither the address nor PGAPPNAME names the sessions.
        if (!fallbackName)
            db->m_pgOptions.append({"fallback_application_name", program});
        for (const auto &[key, value] : std::as_const(db->m_pgOptions)) {
            if (!qtSetsItself(key) && value.contains(u';')) {
                *error = u"Endereço PostgreSQL inválido: o valor de %1 não pode conter \";\""_s.arg(
                    QString::fromLatin1(key));
                return nullptr;
            }
        }
        db->m_dialect = Dialect::Postgres;
    } else {
        *error = u"Endereço de banco não reconhecido: %1 (use sqlite:CAMINHO, "
                 "postgresql://usuario@host:porta/banco ou \"host=... dbname=...\")"_s.arg(
                     Redacted(url));
        return nullptr;
    }
    QSqlDatabase conn;
    if (!db->openConnection(conn, error))
        return nullptr;
    if (db->m_dialect == Dialect::Postgres)
        db->warnUnverified();
    return db;
}

Database::~Database() {
    // This thread's connection releases itself; other threads' are removed here, and their
    // holders find the registry gone when those threads end.
    t_connections.erase(m_serial);
    QMutexLocker lock(&m_registry->Lock);
    for (const QString &name : std::as_const(m_registry->Names))
        QSqlDatabase::removeDatabase(name);
    m_registry->Names.clear();
}

bool Database::openConnection(QSqlDatabase &db, QString *error) {
    auto found = t_connections.find(m_serial);
    if (found != t_connections.end()) {
        if (!found->second->Lost) {
            db = QSqlDatabase::database(found->second->Name, false);
            if (db.isOpen())
                return true;
        }
        // Gone whole, statements and all, before another takes its place.
        db = QSqlDatabase();
        found->second->Lost = true;
        t_connections.erase(found);
    }
    const QString name = u"ger-db%1-t%2-c%3"_s.arg(m_serial)
                             .arg(reinterpret_cast<quintptr>(QThread::currentThreadId()))
                             .arg(++g_generation);
    db = QSqlDatabase::addDatabase(m_dialect == Dialect::Sqlite ? u"QSQLITE"_s : u"QPSQL"_s, name);
    if (m_dialect == Dialect::Sqlite) {
        db.setDatabaseName(m_path);
    } else {
        // Qt's driver quotes these itself and appends the options as given, with every ';'
        // made a blank (Open refuses one there). What is not given here stays libpq's to
        // find: PG* variables, the password file, its defaults.
        QStringList options;
        for (const auto &[key, value] : std::as_const(m_pgOptions)) {
            bool number = false;
            const int port = key == "port" ? value.toInt(&number) : 0;
            if (key == "host")
                db.setHostName(value);
            else if (key == "dbname")
                db.setDatabaseName(value);
            else if (key == "user")
                db.setUserName(value);
            else if (key == "password")
                db.setPassword(value);
            else if (number)
                db.setPort(port);
            else
                options.append(QString::fromLatin1(key) + u'=' +
                               QString::fromUtf8(connValue(value)));
        }
        db.setConnectOptions(options.join(u' '));
    }
    if (!db.open()) {
        // libpq's reason, one line per host tried: the driver's own words add nothing.
        const QSqlError failure = db.lastError();
        const QString reason =
            oneLine(failure.databaseText().isEmpty() ? failure.text() : failure.databaseText());
        *error =
            u"Não foi possível abrir o banco de dados: %1"_s.arg(ServerLog::Escape(reason, 2000));
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(name);
        return false;
    }
    const QStringList setup =
        m_dialect == Dialect::Sqlite
            // The wait comes first: a server starting beside another on a new file must wait
            // for the other's switch to WAL, not fail on it.
            ? QStringList{u"PRAGMA busy_timeout=5000"_s, u"PRAGMA journal_mode=WAL"_s,
                          u"PRAGMA foreign_keys=ON"_s}
            // The history's moments are UTC: bound with their zone, they are stored in the
            // session's, and a server in another zone would store its local clock.
            : QStringList{u"SET client_min_messages TO WARNING"_s, u"SET TIME ZONE 'UTC'"_s};
    QString setupError;
    {
        QSqlQuery q(db);
        for (const QString &sql : setup) {
            // SQLite answers the switch to WAL with "locked" at once, without waiting, while
            // another connection makes the same switch on a new file: try again for a while.
            bool done = q.exec(sql);
            for (int attempt = 0; !done && attempt < 100 && m_dialect == Dialect::Sqlite &&
                                  q.lastError().nativeErrorCode() == u"5"_s;
                 ++attempt) {
                QThread::msleep(50);
                done = q.exec(sql);
            }
            if (!done) {
                setupError = q.lastError().text();
                break;
            }
        }
    }
    if (!setupError.isEmpty()) {
        *error = u"Falha ao configurar a conexão: %1"_s.arg(setupError);
        db.close();
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(name);
        return false;
    }
    // What the server says outside any answer (the notice of a session it is about to end)
    // would reach stderr as a bare line.
    if (pg_conn *pg = PostgresHandle(db))
        PQsetNoticeProcessor(pg, &Database::PostgresNotice, nullptr);
    // Set after the setup, whose switch to WAL waits with SQLite's own timeout.
    if (sqlite3 *handle = SqliteReader::Handle(db))
        sqlite3_busy_handler(handle, onBusy, this);
    {
        QMutexLocker lock(&m_registry->Lock);
        m_registry->Names.insert(name);
    }
    auto holder = std::make_unique<ThreadConnection>();
    holder->Name = name;
    holder->Owner = std::static_pointer_cast<void>(m_registry);
    std::weak_ptr<Registry> weak = m_registry;
    holder->Release = [weak](const QString &connName) {
        if (auto reg = weak.lock()) {
            QMutexLocker lock(&reg->Lock);
            if (reg->Names.remove(connName))
                QSqlDatabase::removeDatabase(connName);
        }
    };
    t_connections[m_serial] = std::move(holder);
    return true;
}

void Database::CloseThreadConnections() {
    t_connections.clear();
}

QSqlDatabase Database::Connection() {
    QSqlDatabase db;
    QString error;
    if (openConnection(db, &error))
        return db;
    ServerCounters::Add(ServerCounters::DatabaseError::Unreachable);
    // While the database is away every call fails here: one line a second is enough to tell.
    static std::atomic<qint64> lastLogged{0};
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    qint64 last = lastLogged.load();
    if (now - last >= 1000 && lastLogged.compare_exchange_strong(last, now))
        ServerLog::Write(ServerLog::Level::Warn,
                         u"banco de dados inacessível: %1"_s.arg(ServerLog::Escape(error, 1000)));
    throw CallFailure{u"database"_s, Unreachable()};
}

QString Database::Unreachable() {
    return u"O banco de dados do servidor está inacessível no momento. Tente novamente em "
           "instantes."_s;
}

bool Database::ConnectionLost(QSqlDatabase &db, const QSqlError &error) {
    if (m_dialect != Dialect::Postgres)
        return false;
    const QString code = error.nativeErrorCode();
    // A pooler that hands this session's backend to others between transactions loses the
    // statements prepared on it: only a new session starts clean.
    const bool pooled = code == u"26000"_s || code == u"42P05"_s;
    pg_conn *pg = PostgresHandle(db);
    // 08: the connection failed; 57P: an operator or the server ended the session (shutdown,
    // crash, idle timeout, a database dropped).
    const bool lost = pooled || !pg || PQstatus(pg) == CONNECTION_BAD || code.startsWith(u"08"_s) ||
                      code.startsWith(u"57P"_s);
    if (!lost)
        return false;
    if (ThreadConnection *holder = connectionHolder(db)) {
        if (!holder->Lost) {
            ServerCounters::Add(ServerCounters::DatabaseError::Lost);
            // A failure told as a call's own message comes without the driver's words: libpq
            // keeps the last ones.
            QString reason = error.text().trimmed();
            if (reason.isEmpty() && pg)
                reason = QString::fromUtf8(PQerrorMessage(pg)).simplified();
            ServerLog::Write(ServerLog::Level::Warn,
                             reason.isEmpty()
                                 ? u"conexão com o banco perdida: a próxima chamada abre outra"_s
                                 : u"conexão com o banco perdida (%1): a próxima chamada abre "
                                   "outra"_s.arg(ServerLog::Escape(reason, 300)));
        }
        holder->Lost = true;
    }
    if (pooled)
        ServerLog::Write(ServerLog::Level::Error, PoolerRefusal());
    return true;
}

void Database::PostgresNotice(void *, const char *message) {
    ServerLog::Write(ServerLog::Level::Warn, u"aviso do PostgreSQL: %1"_s.arg(ServerLog::Escape(
                                                 QString::fromUtf8(message).trimmed(), 1000)));
}

QString Database::PoolerRefusal() {
    return u"o PostgreSQL está atrás de um pooler que troca a sessão entre transações (modo "
           "transaction ou statement); ger-server precisa de uma sessão sua por conexão: use "
           "pool_mode = session"_s;
}

namespace {

// The connection died under a transaction. Before COMMIT was sent nothing of it stayed in the
// database; after, nobody can say whether it did.
struct ConnectionGone {
    bool Committing = false;
};

} // namespace

void Database::Transaction(Access access, const std::function<void(QSqlDatabase &)> &work,
                           Turn turn) {
    try {
        attempt(access, work, turn);
        return;
    } catch (const ConnectionGone &gone) {
        if (gone.Committing)
            throw CallFailure{u"database"_s,
                              u"A conexão com o banco de dados caiu enquanto a gravação era "
                              "confirmada: não é possível saber se ela foi gravada. Confira os "
                              "dados antes de repetir."_s};
    }
    // A connection the database dropped while it sat idle (a restart, a terminated session, an
    // idle timeout) fails at its first statement: the call starts over once on a new one. If
    // the database is still away, opening that one says so.
    try {
        attempt(access, work, turn);
    } catch (const ConnectionGone &gone) {
        throw CallFailure{u"database"_s,
                          gone.Committing
                              ? u"A conexão com o banco de dados caiu enquanto a gravação era "
                                "confirmada: não é possível saber se ela foi gravada. Confira "
                                "os dados antes de repetir."_s
                              : Unreachable()};
    }
}

void Database::attempt(Access access, const std::function<void(QSqlDatabase &)> &work, Turn turn) {
    QSqlDatabase db = Connection();
    const auto waitEnds = qScopeGuard([] { endLockWait(); });
    // A bulk apply writes every listed row: beside single-record writers it kept failing
    // serialization until its retries ran out. The turn is a session advisory lock taken before
    // BEGIN, since a SERIALIZABLE snapshot is taken by the first statement: a lock waited for
    // inside the transaction would leave the snapshot older than the rows then written, and
    // fail all the same. PostgreSQL queues a new shared request behind a waiting exclusive
    // one, so a stream of single writes cannot starve a bulk apply either.
    const bool turns = m_dialect == Dialect::Postgres && turn != Turn::Any;
    const bool alone = turn == Turn::Alone;
    if (turns) {
        QSqlQuery lock(db);
        if (!lock.exec(alone ? u"SELECT pg_advisory_lock(9400, 1)"_s
                             : u"SELECT pg_advisory_lock_shared(9400, 1)"_s)) {
            if (ConnectionLost(db, lock.lastError()))
                throw ConnectionGone{};
            throw DatabaseFailure(lock.lastError());
        }
    }
    const auto release = qScopeGuard([&] {
        // Outside any transaction by now; a connection that broke took the lock with it.
        if (!turns || connectionMarkedLost(db))
            return;
        if (!QSqlQuery(db).exec(alone ? u"SELECT pg_advisory_unlock(9400, 1)"_s
                                      : u"SELECT pg_advisory_unlock_shared(9400, 1)"_s))
            ServerLog::Write(ServerLog::Level::Warn,
                             u"falha ao liberar a vez de escrita dos parâmetros"_s);
    });
    if (access == Access::SingleRead) {
        // One statement is its own transaction on both databases: BEGIN and COMMIT would only
        // add round trips.
        try {
            work(db);
            releaseStatements(db);
            return;
        } catch (const CallFailure &) {
            releaseStatements(db);
            ConnectionLost(db, QSqlError());
            throw;
        } catch (const QSqlError &error) {
            releaseStatements(db);
            if (ConnectionLost(db, error))
                throw ConnectionGone{};
            throw DatabaseFailure(error);
        }
    }
    const QString begin = m_dialect == Dialect::Postgres
                              ? u"BEGIN ISOLATION LEVEL SERIALIZABLE"_s
                              : (access == Access::Write ? u"BEGIN IMMEDIATE"_s : u"BEGIN"_s);
    for (int attempt = 0;; ++attempt) {
        QSqlQuery control(db);
        const bool begun = control.exec(begin);
        endLockWait();
        if (!begun) {
            if (isBusy(control.lastError()))
                throw BusyFailure();
            if (ConnectionLost(db, control.lastError()))
                throw ConnectionGone{};
            ServerCounters::Add(ServerCounters::DatabaseError::Failure);
            throw CallFailure{u"database"_s, u"Não foi possível iniciar a transação: %1"_s.arg(
                                                 control.lastError().text())};
        }
        QSqlError failure;
        bool committing = false;
        try {
            work(db);
            releaseStatements(db);
            // PostgreSQL answers COMMIT of a transaction a statement failed in with a ROLLBACK
            // that reports no error: a failure some reader let pass would be a success here.
            if (m_dialect == Dialect::Postgres) {
                if (pg_conn *pg = PostgresHandle(db);
                    pg && PQtransactionStatus(pg) == PQTRANS_INERROR)
                    throw QSqlError(u"a transação falhou antes do COMMIT e foi desfeita"_s, {},
                                    QSqlError::TransactionError);
            }
            committing = true;
            if (control.exec(u"COMMIT"_s)) {
                if (access == Access::Write)
                    m_writes.fetch_add(1, std::memory_order_acq_rel);
                return;
            }
            failure = control.lastError();
        } catch (const CallFailure &) {
            releaseStatements(db);
            // The failure may have come from a connection that died under it: the call's own
            // message stands, and the next call opens another.
            if (!ConnectionLost(db, QSqlError()))
                QSqlQuery(db).exec(u"ROLLBACK"_s);
            throw;
        } catch (const QSqlError &error) {
            failure = error;
        }
        releaseStatements(db);
        if (ConnectionLost(db, failure))
            throw ConnectionGone{committing};
        QSqlQuery(db).exec(u"ROLLBACK"_s);
        if (isSerializationFailure(failure) && attempt < SerializationRetries) {
            pauseBeforeRetry(attempt);
            continue;
        }
        if (isSerializationFailure(failure))
            throw CallFailure{u"conflict"_s,
                              u"Os dados foram alterados por outro usuário ao mesmo tempo. "
                              "Tente novamente."_s};
        throw DatabaseFailure(failure);
    }
}

bool Database::connectionMarkedLost(const QSqlDatabase &db) {
    const ThreadConnection *holder = connectionHolder(db);
    return holder && holder->Lost;
}

void Database::SetLockWait(LockWait wait) {
    QMutexLocker lock(&m_waitLock);
    m_wait = std::move(wait);
}

Database::LockWait Database::CurrentLockWait() const {
    QMutexLocker lock(&m_waitLock);
    return m_wait;
}

CallFailure Database::BusyFailure() {
    return CallFailure{u"busy"_s, u"O banco de dados está ocupado com outra gravação (uma "
                                  "importação, por exemplo). Tente novamente em instantes."_s};
}

CallFailure Database::DatabaseFailure(const QSqlError &failure) {
    if (isBusy(failure))
        return BusyFailure();
    ServerCounters::Add(ServerCounters::DatabaseError::Failure);
    // The driver's text may quote the statement and the client's values: it goes to the log;
    // the client gets the code alone.
    ServerLog::Write(ServerLog::Level::Warn,
                     u"falha no banco de dados: %1"_s.arg(ServerLog::Escape(failure.text(), 1000)));
    return CallFailure{u"database"_s,
                       u"Erro no banco de dados do servidor (código %1). Os detalhes estão no "
                       "registro do servidor."_s.arg(failure.nativeErrorCode().isEmpty()
                                                         ? u"-"_s
                                                         : failure.nativeErrorCode())};
}

QSqlQuery Database::Prepare(QSqlDatabase &db, const QString &sql) {
    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (!q.prepare(sql))
        throw q.lastError();
    return q;
}

QSqlQuery &Database::Statement(QSqlDatabase &db, const QString &sql) {
    ThreadConnection *holder = connectionHolder(db);
    if (!holder)
        throw CallFailure{u"internal"_s, u"Conexão com o banco fora de uma chamada."_s};
    auto found = holder->Statements.find(sql);
    if (found == holder->Statements.end()) {
        auto q = std::make_unique<QSqlQuery>(Prepare(db, sql));
        found = holder->Statements.emplace(sql, std::move(q)).first;
    } else {
        found->second->finish(); // whatever the last user left unread
    }
    holder->Used.push_back(found->second.get());
    return *found->second;
}

sqlite3_stmt *Database::SqliteStatement(QSqlDatabase &db, const QString &sql) {
    sqlite3 *handle = SqliteReader::Handle(db);
    if (!handle)
        return nullptr;
    ThreadConnection *holder = connectionHolder(db);
    if (!holder)
        throw CallFailure{u"internal"_s, u"Conexão com o banco fora de uma chamada."_s};
    auto found = holder->Raw.find(sql);
    if (found == holder->Raw.end()) {
        sqlite3_stmt *raw = nullptr;
        const QByteArray text = sql.toUtf8();
        if (sqlite3_prepare_v3(handle, text.constData(), int(text.size()),
                               SQLITE_PREPARE_PERSISTENT, &raw, nullptr) != SQLITE_OK)
            throw QSqlError(u"SQLite"_s, QString::fromUtf8(sqlite3_errmsg(handle)),
                            QSqlError::StatementError,
                            QString::number(sqlite3_extended_errcode(handle)));
        found = holder->Raw.emplace(sql, decltype(holder->Raw)::mapped_type(raw, sqlite3_finalize))
                    .first;
    } else {
        sqlite3_reset(found->second.get()); // whatever the last user left unread
    }
    holder->RawUsed.push_back(found->second.get());
    return found->second.get();
}

std::optional<QVariant> Database::FirstValue(QSqlDatabase &db, const QString &sql,
                                             std::initializer_list<QStringView> binds) {
    if (sqlite3_stmt *statement = SqliteStatement(db, sql)) {
        int n = 0;
        for (QStringView bind : binds)
            sqlite3_bind_text16(statement, ++n, bind.utf16(), int(bind.size() * 2),
                                SQLITE_TRANSIENT);
        const int rc = sqlite3_step(statement);
        if (rc == SQLITE_DONE)
            return std::nullopt;
        if (rc != SQLITE_ROW)
            throw QSqlError(u"SQLite"_s,
                            QString::fromUtf8(sqlite3_errmsg(sqlite3_db_handle(statement))),
                            QSqlError::StatementError, QString::number(rc));
        switch (sqlite3_column_type(statement, 0)) {
        case SQLITE_NULL:
            return QVariant();
        case SQLITE_INTEGER:
            return QVariant(qlonglong(sqlite3_column_int64(statement, 0)));
        case SQLITE_FLOAT:
            return QVariant(sqlite3_column_double(statement, 0));
        default:
            return QVariant(
                QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(statement, 0)),
                                  sqlite3_column_bytes(statement, 0)));
        }
    }
    QSqlQuery &q = Statement(db, sql);
    for (QStringView bind : binds)
        q.addBindValue(bind.toString());
    Exec(q);
    if (!Next(q))
        return std::nullopt;
    return q.value(0);
}

pg_conn *Database::PostgresHandle(QSqlDatabase &db) {
    // Qt's PostgreSQL driver names the handle's type either way, by the typedef or the struct.
    const QVariant handle = db.driver() ? db.driver()->handle() : QVariant();
    if (!handle.isValid() ||
        (qstrcmp(handle.typeName(), "PGconn*") != 0 && qstrcmp(handle.typeName(), "pg_conn*") != 0))
        return nullptr;
    return *static_cast<pg_conn *const *>(handle.constData());
}

bool Database::CopyIn(QSqlDatabase &db, const QString &table, const QString &columns,
                      const QByteArray &rows) {
    PGconn *pg = PostgresHandle(db);
    if (!pg)
        return false;
    // A SELECT read row by row and left unfinished (its caller had what it needed) keeps the
    // session busy: what it had left is dropped.
    if (PQtransactionStatus(pg) == PQTRANS_ACTIVE)
        while (PGresult *left = PQgetResult(pg))
            PQclear(left);
    if (PQtransactionStatus(pg) != PQTRANS_INTRANS)
        return false;
    const auto failed = [pg](const QString &why) {
        return QSqlError(why, QString::fromUtf8(PQerrorMessage(pg)).trimmed(),
                         QSqlError::StatementError);
    };
    const QByteArray sql = u"COPY %1 (%2) FROM STDIN"_s.arg(table, columns).toUtf8();
    PGresult *started = PQexec(pg, sql.constData());
    const bool copying = PQresultStatus(started) == PGRES_COPY_IN;
    PQclear(started);
    if (!copying)
        throw failed(u"COPY %1 não começou"_s.arg(table));
    constexpr qsizetype Chunk = 1 << 20;
    for (qsizetype at = 0; at < rows.size(); at += Chunk)
        if (PQputCopyData(pg, rows.constData() + at, int(qMin(Chunk, rows.size() - at))) != 1)
            throw failed(u"COPY %1 interrompido"_s.arg(table));
    if (PQputCopyEnd(pg, nullptr) != 1)
        throw failed(u"COPY %1 interrompido"_s.arg(table));
    QString why;
    while (PGresult *result = PQgetResult(pg)) {
        if (PQresultStatus(result) != PGRES_COMMAND_OK)
            why = QString::fromUtf8(PQresultErrorMessage(result)).trimmed();
        PQclear(result);
    }
    if (!why.isEmpty())
        throw QSqlError(u"COPY %1 falhou"_s.arg(table), why, QSqlError::StatementError);
    return true;
}

bool Database::Next(QSqlQuery &query) {
    if (query.next())
        return true;
    if (query.lastError().isValid())
        throw query.lastError();
    return false;
}

void Database::Exec(QSqlQuery &query) {
    if (!query.exec())
        throw query.lastError();
}

void Database::ExecDirect(QSqlDatabase &db, const QString &sql) {
    QSqlQuery q(db);
    if (!q.exec(sql))
        throw q.lastError();
}

namespace {

using PgOwned = std::unique_ptr<PGconn, void (*)(PGconn *)>;
using PgResult = std::unique_ptr<PGresult, void (*)(PGresult *)>;

PgResult pgRun(PGconn *pg, const char *sql) {
    return PgResult(PQexec(pg, sql), PQclear);
}

} // namespace

QByteArray Database::PostgresConnInfo() const {
    QByteArray info;
    for (const auto &[key, value] : m_pgOptions)
        info += (info.isEmpty() ? "" : " ") + key + '=' + connValue(value);
    return info;
}

void Database::warnUnverified() const {
    QString mode = qEnvironmentVariable("PGSSLMODE");
    QStringList hosts = qEnvironmentVariable("PGHOST").split(u',');
    QStringList addresses = qEnvironmentVariable("PGHOSTADDR").split(u',');
    for (const auto &[key, value] : m_pgOptions) {
        if (key == "sslmode")
            mode = value;
        else if (key == "host")
            hosts = value.split(u',');
        else if (key == "hostaddr")
            addresses = value.split(u',');
    }
    if (mode == u"verify-full"_s || mode == u"verify-ca"_s)
        return;
    // Each entry is reached at its numeric address when one is given, else at its name.
    QStringList away;
    for (qsizetype i = 0; i < std::max(hosts.size(), addresses.size()); ++i) {
        const QString host = addresses.value(i).isEmpty() ? hosts.value(i) : addresses.value(i);
        if (!onLoopback(host.trimmed()))
            away.append(host.trimmed());
    }
    if (away.isEmpty())
        return;
    ServerLog::Write(ServerLog::Level::Warn,
                     u"o certificado do PostgreSQL em %1 não é verificado (sslmode=%2): quem "
                     "estiver no caminho pode se passar pelo banco; use sslmode=verify-full com "
                     "sslrootcert"_s.arg(ServerLog::Escape(away.join(u','), 300),
                                         mode.isEmpty() ? u"prefer"_s : ServerLog::Escape(mode)));
}

bool Database::SessionsKept(QString *error) const {
    if (m_dialect != Dialect::Postgres)
        return true;
    const QByteArray info = PostgresConnInfo();
    PgOwned a(PQconnectdb(info.constData()), PQfinish);
    PgOwned b(PQconnectdb(info.constData()), PQfinish);
    if (PQstatus(a.get()) != CONNECTION_OK || PQstatus(b.get()) != CONNECTION_OK)
        return true; // nothing to learn here; the server's own connections say what is wrong
    for (PGconn *pg : {a.get(), b.get()})
        PQsetNoticeProcessor(
            pg, [](void *, const char *) {}, nullptr);
    // A's session keeps a mark of its own. B then holds a backend inside a transaction, and
    // both look for the mark: a pooler that hands backends out per transaction gives B the
    // one A just left (so B sees A's mark), or gives A another (so A has lost it).
    const QByteArray mark = QByteArray::number(QRandomGenerator::global()->generate64());
    const QByteArray set = "SELECT set_config('ger.sessao', '" + mark + "', false)";
    const char *read = "SELECT current_setting('ger.sessao', true)";
    bool pooled = false;
    for (int round = 0; round < 3 && !pooled; ++round) {
        if (PQresultStatus(pgRun(a.get(), set.constData()).get()) != PGRES_TUPLES_OK)
            return true;
        const PgResult begin = pgRun(b.get(), "BEGIN");
        if (PQresultStatus(begin.get()) != PGRES_COMMAND_OK) {
            // A pooler in statement mode refuses transactions outright.
            pooled = true;
            break;
        }
        const PgResult inB = pgRun(b.get(), read);
        pooled =
            PQresultStatus(inB.get()) == PGRES_TUPLES_OK && mark == PQgetvalue(inB.get(), 0, 0);
        // Only when B holds another backend: with one backend in all, A would wait for B.
        if (!pooled) {
            const PgResult inA = pgRun(a.get(), read);
            pooled =
                PQresultStatus(inA.get()) == PGRES_TUPLES_OK && mark != PQgetvalue(inA.get(), 0, 0);
        }
        pgRun(b.get(), "ROLLBACK");
    }
    if (pooled && error)
        *error = PoolerRefusal();
    return !pooled;
}
