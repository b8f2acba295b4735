#pragma once

#include "remoteobject.h"

class Database;

// "Audit": the history of the parameter changes, newest first, filtered and paged.
class AuditObject final : public RemoteObject {
public:
    explicit AuditObject(Database &database);

    QString Name() const override;
    bool HasMethod(const QString &method) const override;
    QStringList Methods() const override;
    MethodClass ClassOf(const QString &) const override { return MethodClass::History; }
    CallOutcome Invoke(const QString &method, const QJsonArray &params) override;

    static constexpr int PageRows = 500;

private:
    Database &m_database;
};
