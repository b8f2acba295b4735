#pragma once

#include "remoteobject.h"

#include <memory>
#include <mutex>

class ChangeWatch;
class Database;

// "Ger09400.Periodo": the period gate other systems ask before they post into accounting, and
// the definitive close it answers by.
class GateObject final : public RemoteObject {
public:
    explicit GateObject(Database &database);
    ~GateObject() override;

    QString Name() const override;
    bool HasMethod(const QString &method) const override;
    QStringList Methods() const override;
    MethodClass ClassOf(const QString &method) const override;
    bool Short(const QString &method) const override;
    CallOutcome Invoke(const QString &method, const QJsonArray &params) override;
    // Whether other programs' changes are heard, so that the records may be kept between calls.
    bool Hearing() const;

    // More checks than this in one call are refused: each is an array, and a request holds at
    // most 65,536 of them; the answers, texts and all, then fit easily in one message.
    static constexpr qsizetype MaxChecks = 100000;
    // A close's reason is kept whole up to this many characters.
    static constexpr qsizetype MaxReason = 200;

private:
    CallOutcome consulta(const QJsonArray &params);
    CallOutcome encerrar(const QJsonArray &params);
    CallOutcome conferirEncerramento(const QJsonArray &params);

    struct Kept; // every company's periods, as one read saw them
    // The records kept from the last read, or a new read of them; null when they may not be
    // kept (nobody hears the changes others make, or there are too many companies).
    std::shared_ptr<const Kept> KeptRecords();

    Database &m_database;
    std::unique_ptr<ChangeWatch> m_watch;
    std::mutex m_keptLock;
    std::shared_ptr<const Kept> m_kept; // guarded by m_keptLock
};
