#pragma once

#include "remoteobject.h"

#include <QHash>

#include <functional>

class Database;

// "Ger09400.rdmParamCtbl": the parameter records, the general parameter and the bulk request.
// Every call runs in one transaction of its own.
class ParamCtblObject final : public RemoteObject {
public:
    explicit ParamCtblObject(Database &database);

    QString Name() const override;
    bool HasMethod(const QString &method) const override;
    QStringList Methods() const override;
    MethodClass ClassOf(const QString &method) const override;
    bool Short(const QString &method) const override;
    CallOutcome Invoke(const QString &method, const QJsonArray &params) override;

private:
    struct Method;
    CallOutcome getContOpe(const QJsonArray &params);
    CallOutcome setContOpe(const QJsonArray &params);
    CallOutcome setParamGeral(const QJsonArray &params);
    CallOutcome getDataSaldEmpr(const QJsonArray &params);
    CallOutcome getPescLanc(const QJsonArray &params);
    CallOutcome getLancSemEvolucao(const QJsonArray &params);
    CallOutcome setUsuarioFechamentoPeriodo(const QJsonArray &params);
    CallOutcome getErrosCadAuto(const QJsonArray &params);
    CallOutcome setCadAuto(const QJsonArray &params);

    Database &m_database;
    QHash<QString, std::function<CallOutcome(const QJsonArray &)>> m_methods;
};
