#pragma once

#include "jsonrpcmessage.h"

#include <QByteArray>
#include <QList>
#include <QString>

class RemoteObject;

// Routes "<object>.<method>" to the remote object that owns it. Object names contain dots, so the
// longest registered name that prefixes the method wins.
class RpcDispatcher final {
public:
    struct Target {
        RemoteObject *Object = nullptr;
        QString Method;
    };

    // What one request produced: the answer to send (empty for a notification) and what the log
    // line needs.
    struct Outcome {
        QByteArray Reply;
        QString Company;
        QString Status;  // "ok", an envelope error code, or a JSON-RPC code
        QString LogNote; // said after the status in the call's log line, escaped already
    };

    explicit RpcDispatcher(QList<RemoteObject *> objects);

    // Null Object when nothing answers to the name.
    Target Resolve(const QString &fullMethod) const;

    // "<object>.<method>" of every method its object calls short, each in JSON quotes.
    QStringList QuotedShortMethods() const;

    // Runs the call. Safe from any thread; never throws.
    static Outcome Execute(const Target &target, const JsonRpc::Request &request);

    static Outcome Fault(const QJsonValue &id, int code, const QString &message, bool notify);
    // A call answered with a failed envelope without running it.
    static Outcome Refuse(const JsonRpc::Request &request, const QString &code,
                          const QString &message);

private:
    QList<RemoteObject *> m_objects;
};
