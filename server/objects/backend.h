#pragma once

#include "remoteobject.h"

#include <QList>
#include <QString>

#include <memory>

class Database;
class ParamCtblObject;
class CacheObject;
class AuditObject;
class GateObject;

// The server's storage and its remote objects over one database.
class Backend final {
public:
    // url: "sqlite:PATH" or "postgresql://user@host:port/dbname" (password optional: user:pw@).
    // Opens the database, runs the numbered migrations, returns nullptr and *error on failure.
    static std::unique_ptr<Backend> Open(const QString &url, QString *error);
    // The URL as it may be shown: a password in it becomes "***".
    static QString Redacted(const QString &url);
    // "demo", "large", "large:N". Fills the database only when it holds no company.
    bool Seed(const QString &seed, QString *error, bool *seeded = nullptr);
    // The remote objects "Ger09400.rdmParamCtbl", "Host.Cache" and "Audit", owned by the
    // Backend.
    QList<RemoteObject *> Objects() const;
    // How long a writing call waits for another program's write (an import) before it fails
    // as "busy": below the desktops' call timeout, so that the answer reaches them.
    void SetWriteWait(int seconds);

    // What a health answer needs, from one trivial read on the calling thread's connection
    // (which the thread closes itself with Database::CloseThreadConnections).
    struct Health {
        bool Reached = false;
        int SchemaVersion = 0; // as stored; 0 when the database was not reached
        int KnownVersion = 0;  // the newest this server serves
        QString Kind;          // "sqlite" or "postgresql"
        bool Hearing = false;  // the period gate hears other programs' changes
    };
    Health Probe();
    bool GateHearing() const;
    // Whether the database is read in this process (SQLite), so a short read costs no round trip.
    bool InProcess() const;
    ~Backend();

private:
    Backend();
    static void WarnOnBrokenHistory(Database &database, const QString &url);
    std::unique_ptr<Database> m_database;
    std::unique_ptr<ParamCtblObject> m_paramCtbl;
    std::unique_ptr<CacheObject> m_cache;
    std::unique_ptr<AuditObject> m_audit;
    std::unique_ptr<GateObject> m_gate;
};
