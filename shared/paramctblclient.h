#pragma once

#include "dataset/datetime.h"
#include "dataset/packet.h"
#include "rpc/envelope.h"

#include <QJsonValue>
#include <QString>

class TClientDataSet;
class TNetConnection;

// Typed calls of the server object Ger09400.rdmParamCtbl, one per method, through the screen's
// connection. Each returns the result envelope untouched: the caller hands it to CheckResultServ,
// so a server failure abandons the caller's handler. Transport failures throw (TNetConnection).
namespace ParamCtblMethods {

// [0] every parameter record, [1] the general-parameter row.
TResultEnvelope GetContOpe(TNetConnection &net);
TResultEnvelope SetContOpe(TNetConnection &net, const TChangeLog &delta);
TResultEnvelope SetParamGeral(TNetConnection &net, const TChangeLog &delta);
// MAIORDATA: the company's latest balance date.
TResultEnvelope GetDataSaldEmpr(TNetConnection &net, const QString &cdEmpresa);
// CDEMPRESA rows when the company has accounting entries.
TResultEnvelope GetPescLanc(TNetConnection &net, const QString &cdEmpresa);
// DTSEMEVOLUCAO: first day of entries not yet carried into balances, empty text when none.
TResultEnvelope getLancSemEvolucao(TNetConnection &net, const QString &cdEmpresa,
                                   TDateTime dtIniCont);
TResultEnvelope setUsuarioFechamentoPeriodo(TNetConnection &net, const QString &cdEmpresa,
                                            const QString &dtSemEvolucao, const QString &operador);
// The company list travels by reference: what the server writes back replaces `empresas`.
TResultEnvelope getErrosCadAuto(TNetConnection &net, QString &empresas, TDateTime dtIniPer,
                                TDateTime dtFinPer);
TResultEnvelope setCadAuto(TNetConnection &net, QString &empresas, const QString &periodos,
                           const QString &controles, const TTablePacket &request);

// Loads a table packet received from the server into a table, replacing its content. Throws
// Exception (the message names what is wrong) when the value is no packet.
void LoadPacket(TClientDataSet &table, const QJsonValue &packet);
// The same for a server's answer whose payload is the packet, read straight from the reply into
// rows. A failed envelope throws as CheckResultServ does.
void LoadPacket(TClientDataSet &table, const TResultEnvelope &result);
// GetContOpe's answer into the parameter records and the general-parameter row.
void LoadContOpe(const TResultEnvelope &result, TClientDataSet &records, TClientDataSet &general);

} // namespace ParamCtblMethods
