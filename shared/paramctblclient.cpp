#include "paramctblclient.h"

#include "components/functions.h"
#include "dataset/clientdataset.h"
#include "dataset/exceptions.h"
#include "rpc/netconnection.h"

#include <QJsonArray>

using namespace Qt::StringLiterals;

namespace ParamCtblMethods {

TResultEnvelope GetContOpe(TNetConnection &net) {
    return net.Call(u"GetContOpe"_s, {});
}

TResultEnvelope SetContOpe(TNetConnection &net, const TChangeLog &delta) {
    return net.Call(u"SetContOpe"_s, QJsonArray{Packet::ToJson(delta)});
}

TResultEnvelope SetParamGeral(TNetConnection &net, const TChangeLog &delta) {
    return net.Call(u"SetParamGeral"_s, QJsonArray{Packet::ToJson(delta)});
}

TResultEnvelope GetDataSaldEmpr(TNetConnection &net, const QString &cdEmpresa) {
    return net.Call(u"GetDataSaldEmpr"_s, QJsonArray{cdEmpresa});
}

TResultEnvelope GetPescLanc(TNetConnection &net, const QString &cdEmpresa) {
    return net.Call(u"GetPescLanc"_s, QJsonArray{cdEmpresa});
}

TResultEnvelope getLancSemEvolucao(TNetConnection &net, const QString &cdEmpresa,
                                   TDateTime dtIniCont) {
    return net.Call(u"getLancSemEvolucao"_s, QJsonArray{cdEmpresa, DateTimeUtil::ToIso(dtIniCont)});
}

TResultEnvelope setUsuarioFechamentoPeriodo(TNetConnection &net, const QString &cdEmpresa,
                                            const QString &dtSemEvolucao, const QString &operador) {
    return net.Call(u"setUsuarioFechamentoPeriodo"_s,
                    QJsonArray{cdEmpresa, dtSemEvolucao, operador});
}

TResultEnvelope getErrosCadAuto(TNetConnection &net, QString &empresas, TDateTime dtIniPer,
                                TDateTime dtFinPer) {
    // Dates go as they are, time of day included: the server decides how to compare them.
    return net.Call(
        u"getErrosCadAuto"_s,
        QJsonArray{empresas, DateTimeUtil::ToIso(dtIniPer), DateTimeUtil::ToIso(dtFinPer)},
        {&empresas});
}

TResultEnvelope setCadAuto(TNetConnection &net, QString &empresas, const QString &periodos,
                           const QString &controles, const TTablePacket &request) {
    return net.Call(u"setCadAuto"_s,
                    QJsonArray{empresas, periodos, controles, Packet::ToJson(request)},
                    {&empresas});
}

namespace {

void loadDecoded(TClientDataSet &table, bool decoded, TTablePacket &&packet, const QString &error) {
    if (!decoded)
        throw Exception(
            u"Resposta do servidor inválida para %1: %2"_s.arg(table.objectName(), error));
    // A field the table declares must come in the packet: rules read it by name, and a missing
    // one would read as empty everywhere without a word.
    for (const TFieldDef &declared : table.FieldDefs()) {
        if (packet.FieldIndex(declared.Name) < 0)
            throw Exception(u"Resposta do servidor inválida para %1: falta o campo %2."_s.arg(
                table.objectName(), declared.Name));
    }
    table.SetData(std::move(packet));
}

void loadElement(TClientDataSet &table, const TResultEnvelope &result, int index) {
    TTablePacket packet;
    QString error;
    const bool decoded = result.PayloadPacket(packet, &error, index);
    loadDecoded(table, decoded, std::move(packet), error);
}

} // namespace

void LoadPacket(TClientDataSet &table, const QJsonValue &packet) {
    TTablePacket decoded;
    QString error;
    const bool ok = Packet::FromJson(packet, decoded, &error);
    loadDecoded(table, ok, std::move(decoded), error);
}

void LoadPacket(TClientDataSet &table, const TResultEnvelope &result) {
    CheckResultOk(result);
    loadElement(table, result, -1);
}

void LoadContOpe(const TResultEnvelope &result, TClientDataSet &records, TClientDataSet &general) {
    CheckResultOk(result);
    const TJsonNode &parsed = result.Payload.Node();
    const qsizetype tables = parsed.Exists() ? parsed.Size() : result.Payload.toArray().size();
    if (!(parsed.Exists() ? parsed.IsArray() : result.Payload.isArray()) || tables < 2)
        throw Exception(
            u"Resposta do servidor inválida para GetContOpe: esperadas duas tabelas."_s);
    // Each table is replaced on its own: a failure on the second keeps the first's new rows.
    loadElement(records, result, 0);
    loadElement(general, result, 1);
}

} // namespace ParamCtblMethods
