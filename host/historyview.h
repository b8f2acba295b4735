#pragma once

#include "dataset/packet.h"

#include <QList>
#include <QString>
#include <QStringList>

class TNetConnection;

// The change history as a person reads it, the same for the window and for --history: local
// time "dd/mm/yyyy hh:mm:ss", field captions, dates as dd/mm/yyyy and flags as Sim/Não.
namespace HistoryView {

QStringList Headers();
// One line of cells per history row of the packet Audit.GetHistorico answers.
QList<QStringList> Rows(const TTablePacket &history);
// Every page of the history of `companies` ("T" or codes) from `since` (ISO date, "" for all)
// on; at most `maxRows` rows. Throws the connection's exception when the server cannot answer.
TTablePacket Fetch(TNetConnection &audit, const QString &companies, const QString &since,
                   const QString &field, const QString &who, int maxRows);

} // namespace HistoryView
