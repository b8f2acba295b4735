#include "rpcdispatcher.h"

#include "remoteobject.h"

#include <exception>

using namespace Qt::StringLiterals;

RpcDispatcher::RpcDispatcher(QList<RemoteObject *> objects)
    : m_objects(std::move(objects)) {}

RpcDispatcher::Target RpcDispatcher::Resolve(const QString &fullMethod) const {
    Target best;
    qsizetype bestLength = -1;
    for (RemoteObject *object : m_objects) {
        const QString name = object->Name();
        if (name.size() <= bestLength || fullMethod.size() <= name.size() + 1)
            continue;
        if (!fullMethod.startsWith(name) || fullMethod[name.size()] != u'.')
            continue;
        best = Target{object, fullMethod.mid(name.size() + 1)};
        bestLength = name.size();
    }
    if (best.Object && !best.Object->HasMethod(best.Method))
        return {};
    return best;
}

QStringList RpcDispatcher::QuotedShortMethods() const {
    QStringList names;
    for (RemoteObject *object : m_objects)
        for (const QString &method : object->Methods())
            if (object->Short(method))
                names << u"\"%1.%2\""_s.arg(object->Name(), method);
    return names;
}

RpcDispatcher::Outcome RpcDispatcher::Fault(const QJsonValue &id, int code, const QString &message,
                                            bool notify) {
    Outcome out;
    if (!notify)
        out.Reply = JsonRpc::EncodeError(id, code, message);
    out.Status = QString::number(code);
    return out;
}

RpcDispatcher::Outcome RpcDispatcher::Refuse(const JsonRpc::Request &request, const QString &code,
                                             const QString &message) {
    Outcome out;
    if (!request.IsNotification()) {
        const TResultEnvelope::JsonText result =
            TResultEnvelope::Failure(code, message).ToJsonParts();
        out.Reply =
            JsonRpc::EncodeResultParts(request.Id, {result.Head, result.Payload, result.Tail});
    }
    out.Status = code;
    return out;
}

RpcDispatcher::Outcome RpcDispatcher::Execute(const Target &target,
                                              const JsonRpc::Request &request) {
    CallOutcome call;
    try {
        call = target.Object->Invoke(target.Method, request.Params);
    } catch (const std::exception &e) {
        // A remote object should answer with an envelope; one that throws is a defect, and the
        // connection and the server must survive it.
        return Fault(
            request.Id, JsonRpc::InternalError,
            u"Erro interno do servidor de aplicação: %1"_s.arg(QString::fromUtf8(e.what())),
            request.IsNotification());
    } catch (...) {
        return Fault(request.Id, JsonRpc::InternalError,
                     u"Erro interno do servidor de aplicação."_s, request.IsNotification());
    }

    if (call.ProtocolError) {
        Outcome out = Fault(request.Id, call.ProtocolError->Code, call.ProtocolError->Message,
                            request.IsNotification());
        out.Company = call.Company;
        return out;
    }
    Outcome out;
    if (!request.IsNotification()) {
        const TResultEnvelope::JsonText result = call.Result.ToJsonParts();
        out.Reply =
            JsonRpc::EncodeResultParts(request.Id, {result.Head, result.Payload, result.Tail});
    }
    out.Company = call.Company;
    out.Status = call.Result.Ok ? u"ok"_s : call.Result.ErrorCode;
    return out;
}
