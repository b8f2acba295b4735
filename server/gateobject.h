#pragma once

#include "remoteobject.h"

class Database;

// "Ger09400.Periodo": the period gate other systems ask before they post into accounting.
class GateObject final : public RemoteObject {
public:
    explicit GateObject(Database &database);

    QString Name() const override;
    bool HasMethod(const QString &method) const override;
    MethodClass ClassOf(const QString &) const override { return MethodClass::Gate; }
    CallOutcome Invoke(const QString &method, const QJsonArray &params) override;

    // More checks than this in one call are refused: each is an array, and a request holds at
    // most 65,536 of them; the answers, texts and all, then fit easily in one message.
    static constexpr qsizetype MaxChecks = 100000;

private:
    Database &m_database;
};
