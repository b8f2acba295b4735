#pragma once

#include "envelope.h"
#include "jsonrpc.h"
#include "roles.h"

#include <QJsonArray>
#include <QString>
#include <QStringList>

#include <optional>

// What one call produced: either a protocol fault (wrong number or kinds of arguments), answered
// as a JSON-RPC error, or a result envelope. `Company` names the company the call was about, for
// the log line; empty when none.
struct CallOutcome {
    std::optional<JsonRpc::Error> ProtocolError;
    TResultEnvelope Result;
    QString Company;
};

// A remote object ("Ger09400.rdmParamCtbl", "Host.Cache"). Invoke may run on several worker
// threads at once; each thread uses its own database connection.
class RemoteObject {
public:
    virtual ~RemoteObject() = default;
    virtual QString Name() const = 0;
    virtual bool HasMethod(const QString &method) const = 0;
    // Every method HasMethod accepts: the only names the metrics label calls with.
    virtual QStringList Methods() const = 0;
    virtual CallOutcome Invoke(const QString &method, const QJsonArray &params) = 0;
    // What the method does, for the roles: a method left unclassed counts as a writer, so that
    // no role that must not write ever reaches it.
    virtual MethodClass ClassOf(const QString &method) const {
        Q_UNUSED(method);
        return MethodClass::Write;
    }
    // Whether a call of the method, its request small, ends in microseconds whatever it asks:
    // reads of one row by index, nothing that waits on a lock. Such a call runs on the thread
    // that read it, rather than crossing to a worker and back, which would cost more than it.
    virtual bool Short(const QString &method) const {
        Q_UNUSED(method);
        return false;
    }
};
