#pragma once

#include <QList>
#include <QMutex>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QString>
#include <QVariant>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <utility>

struct pg_conn;
struct sqlite3_stmt;

// A failure inside a call: unwinds to the transaction that runs the call, which rolls back and
// turns it into a result envelope. It never leaves the server.
struct CallFailure {
    QString Code;    // "invalid_argument", "not_found", "conflict", "refused", "inconsistency", ...
    QString Message; // Portuguese, for the user
};

// One logical database (SQLite file or PostgreSQL database) reached through one connection per
// calling thread, since Qt Sql connections must stay on the thread that opened them.
class Database final {
public:
    enum class Dialect { Sqlite, Postgres };

    // The address as it may be shown: a password in it (of the user, `password`, `sslpassword`,
    // in either of libpq's forms) becomes "***".
    static QString Redacted(const QString &url);
    // "sqlite:PATH", or a PostgreSQL address as libpq reads it: a URI (postgresql://...) or
    // "key=value" pairs, completed by the PG* environment and the password file. Opens the
    // calling thread's connection to prove the database is reachable. `program` names the
    // sessions in pg_stat_activity unless the address names them.
    static std::unique_ptr<Database> Open(const QString &url, QString *error,
                                          const QString &program = QStringLiteral("ger-server"));
    ~Database();

    Dialect Kind() const { return m_dialect; }

    // How long a SQLite statement waits for a lock another connection holds (the write lock of an
    // import, of another process's save) before its call fails with BusyFailure, and who hears
    // that it waits.
    struct LockWait {
        int LimitMs = 25000; // negative: without limit
        // Told once per wait that lasts a second; runs on the waiting thread.
        std::function<void()> Waiting;
    };
    void SetLockWait(LockWait wait);
    LockWait CurrentLockWait() const;
    // "busy": another writer kept the write lock past the wait.
    static CallFailure BusyFailure();
    // The calling thread's connection, opened (and configured) on first use.
    QSqlDatabase Connection();
    // Closes every connection the calling thread opened, with their statements. A thread that
    // used a database calls it before it ends: the thread's storage goes only after
    // QThread::wait() has returned, when the database may already be closing them itself.
    static void CloseThreadConnections();

    // SingleRead: `work` runs exactly one SELECT, which is a transaction by itself.
    enum class Access { Read, Write, SingleRead };
    // How a writer of parameter records takes turns on PostgreSQL: `Shared` beside the other
    // single-record writers, `Alone` (a bulk apply) with none of them. SQLite's write lock
    // already gives every writer its turn.
    enum class Turn { Any, Shared, Alone };
    // Runs `work` in one transaction: committed when it returns, rolled back when it throws.
    // PostgreSQL runs it SERIALIZABLE, after the turn, and retries a serialization failure a few
    // times; SQLite takes the write lock up front for writing calls, so two writers never
    // deadlock.
    void Transaction(Access access, const std::function<void(QSqlDatabase &)> &work,
                     Turn turn = Turn::Any);

    // Moves on after every writing transaction this process commits, before its call answers:
    // what a reader keeps from before is then known to be old.
    quint64 Writes() const { return m_writes.load(std::memory_order_acquire); }

    // Prepared-statement helpers; a driver failure throws the QSqlError, which Transaction
    // retries (serialization failure) or turns into a "database" failure.
    static QSqlQuery Prepare(QSqlDatabase &db, const QString &sql);
    // The same statement, prepared once per connection and handed out again, reset, to every
    // later use (each binds its own values). At most 256 texts are kept per connection.
    // REQUIRES: inside Transaction, which resets it when the transaction ends; the reference
    // lives until then; no two readers of the same text at once.
    static QSqlQuery &Statement(QSqlDatabase &db, const QString &sql);
    // On SQLite, the same caching for a statement read straight from the engine, where Qt
    // Sql's description of every column would cost more than the read itself. Null on
    // PostgreSQL. Throws the QSqlError of a statement that does not prepare.
    // REQUIRES: as Statement.
    static sqlite3_stmt *SqliteStatement(QSqlDatabase &db, const QString &sql);
    // The first column of the first row a read gives, `binds` bound as texts in order: nullopt
    // for no row, a null QVariant for NULL. On SQLite the statement is the engine's own (a
    // one-row read by index costs less than Qt Sql's work around it).
    // REQUIRES: as Statement.
    static std::optional<QVariant> FirstValue(QSqlDatabase &db, const QString &sql,
                                              std::initializer_list<QStringView> binds);
    // On PostgreSQL, the connection's own libpq handle (for COPY and LISTEN); null elsewhere.
    static pg_conn *PostgresHandle(QSqlDatabase &db);
    // On PostgreSQL inside a transaction, `rows` in COPY's text form (a tab between fields, \N
    // for null, a line feed after each row) into `table`'s `columns`, in one round trip; false,
    // with nothing done, anywhere else. Throws the QSqlError of a COPY that fails.
    static bool CopyIn(QSqlDatabase &db, const QString &table, const QString &columns,
                       const QByteArray &rows);
    static void Exec(QSqlQuery &query);
    // The next row of a result; false at its end. A result cut part-way (a statement timeout,
    // a cancel, a backend gone) throws its QSqlError: a loop that stopped at the first false
    // would take the rows read so far for all of them.
    static bool Next(QSqlQuery &query);
    static void ExecDirect(QSqlDatabase &db, const QString &sql);

    // What a call is told while the database cannot be reached.
    static QString Unreachable();
    // The one line that says why a pooler in transaction or statement mode cannot be used.
    static QString PoolerRefusal();
    // On PostgreSQL, whether sessions reach the server as sessions: false, with the reason, when
    // a pooler hands a session's backend to others between transactions (its prepared
    // statements, LISTEN and session locks would then be lost or shared). Opens two short
    // connections of its own.
    bool SessionsKept(QString *error) const;
    // A notice of the PostgreSQL server, as a line of the log.
    static void PostgresNotice(void *, const char *message);
    // The libpq connection string for a connection of one's own (the listener's word, checks).
    QByteArray PostgresConnInfo() const;

private:
    struct Registry;
    void attempt(Access access, const std::function<void(QSqlDatabase &)> &work, Turn turn);
    // Whether `failure` (or the state of the connection) says the database dropped it; if so,
    // the thread's connection is marked for replacement and the loss logged.
    bool ConnectionLost(QSqlDatabase &db, const QSqlError &failure);
    static bool connectionMarkedLost(const QSqlDatabase &db);
    // The failure logged, and what the client is told instead.
    static CallFailure DatabaseFailure(const QSqlError &failure);
    Database() = default;
    bool openConnection(QSqlDatabase &db, QString *error);
    // Once at open: a warning when a host is away from this machine and its certificate is not
    // verified.
    void warnUnverified() const;

    Dialect m_dialect = Dialect::Sqlite;
    QString m_path; // SQLite file
    // The address's PostgreSQL parameters as libpq read them, with the server's defaults added.
    QList<std::pair<QByteArray, QString>> m_pgOptions;
    quint64 m_serial = 0;
    std::atomic<quint64> m_writes{0};
    mutable QMutex m_waitLock;
    LockWait m_wait;
    std::shared_ptr<Registry> m_registry;
};
