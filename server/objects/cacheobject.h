#pragma once

#include "remoteobject.h"

class Database;

// "Host.Cache": whole tables the desktop host keeps local copies of (EMPRESA, CONTOPECTBL),
// and what the server is (version, database kind) for the host's About box.
class CacheObject final : public RemoteObject {
public:
    explicit CacheObject(Database &database);

    QString Name() const override;
    bool HasMethod(const QString &method) const override;
    QStringList Methods() const override;
    MethodClass ClassOf(const QString &) const override { return MethodClass::Read; }
    CallOutcome Invoke(const QString &method, const QJsonArray &params) override;

private:
    Database &m_database;
};
