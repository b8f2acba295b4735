#pragma once

#include "remoteobject.h"
#include "rules/periodgate.h"

#include <QHash>
#include <QSqlDatabase>
#include <QVector>

class Database;
struct Caller;

// The exceptions to the period gate: a span of days a module (or every one) may post into for a
// while, for one named client or any, with a reason. Granted, listed and revoked here; the gate
// keeps those in force beside the periods and asks FindFor per check it would refuse.
namespace GateExceptions {

struct Exception {
    qint64 Number = 0;
    const PeriodGate::Module *Mod = nullptr; // null: every module
    TDateTime First = 0;
    TDateTime Last = 0;
    QString Expires; // UTC, "2026-12-10T18:00:00Z"
    QString Reason;
    QString Client; // empty: any client
};
using ByCompany = QHash<QString, QVector<Exception>>;

// The moment as the table keeps it.
QString Now();
// Those not revoked nor expired at `now`, of the listed companies (all when null).
ByCompany Read(QSqlDatabase &db, const QString &now, const QStringList *codes);
// The first exception that opens `day` of `module` to `caller` at `now`; null when none does.
const Exception *FindFor(const ByCompany &all, const QString &company,
                         const PeriodGate::Module *module, TDateTime day, const QString &now,
                         const Caller &caller);

// The most a grant may run: from now, this many days.
inline constexpr int MaxDays = 31;

CallOutcome Grant(Database &database, const QJsonArray &params);
CallOutcome List(Database &database, const QJsonArray &params);
CallOutcome Revoke(Database &database, const QJsonArray &params);

} // namespace GateExceptions
