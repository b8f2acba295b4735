#include "historyview.h"

#include "dataset/exceptions.h"
#include "rpc/netconnection.h"
#include "rules/fieldcaptions.h"

#include <QDate>
#include <QDateTime>

using namespace Qt::StringLiterals;

namespace {

QString shown(const QString &type, const QVariant &value) {
    if (value.isNull())
        return {};
    const QString text = value.toString();
    if (type == u"date"_s) {
        const QDate date = QDate::fromString(text, Qt::ISODate);
        return date.isValid() ? date.toString(u"dd/MM/yyyy"_s) : text;
    }
    if (text == u"S"_s)
        return u"Sim"_s;
    if (text == u"N"_s)
        return u"Não"_s;
    return text;
}

QString operation(const QString &code) {
    if (code == u"I"_s)
        return u"Inclusão"_s;
    if (code == u"E"_s)
        return u"Exclusão"_s;
    return u"Alteração"_s;
}

} // namespace

namespace HistoryView {

QStringList Headers() {
    return {u"Data/hora"_s, u"Operador"_s, u"Empresa"_s, u"Operação"_s,
            u"Campo"_s,     u"Anterior"_s, u"Novo"_s};
}

QList<QStringList> Rows(const TTablePacket &history) {
    const int when = history.FieldIndex(u"DTALTERACAO"_s), who = history.FieldIndex(u"NMOPERADOR"_s),
              verified = history.FieldIndex(u"IDVERIFICADO"_s),
              company = history.FieldIndex(u"CDEMPRESA"_s), op = history.FieldIndex(u"IDOPERACAO"_s),
              field = history.FieldIndex(u"NMCAMPO"_s), type = history.FieldIndex(u"TPCAMPO"_s),
              before = history.FieldIndex(u"VLANTERIOR"_s), after = history.FieldIndex(u"VLNOVO"_s);
    QList<QStringList> rows;
    for (const TRowValues &row : history.Rows) {
        const QDateTime time =
            QDateTime::fromString(row.value(when).toString(), Qt::ISODateWithMs).toLocalTime();
        const QString operatorName =
            row.value(who).toString() +
            (row.value(verified).toString() == u"S"_s ? QString() : u" (não verificado)"_s);
        const QString code = row.value(company).toString();
        const QString fieldName = row.value(field).toString();
        const QString fieldType = row.value(type).toString();
        rows.append({time.toString(u"dd/MM/yyyy HH:mm:ss"_s), operatorName,
                     code.isEmpty() ? u"(geral)"_s : code, operation(row.value(op).toString()),
                     FieldCaption(fieldName), shown(fieldType, row.value(before)),
                     shown(fieldType, row.value(after))});
    }
    return rows;
}

TTablePacket Fetch(TNetConnection &audit, const QString &companies, const QString &since,
                   const QString &field, const QString &who, int maxRows) {
    TTablePacket all;
    for (int page = 1;; ++page) {
        const TResultEnvelope answer =
            audit.Call(u"GetHistorico"_s, {companies, since, QString(), field, who,
                                           QString::number(page)});
        if (!answer.Ok)
            throw Exception(answer.ErrorMessage);
        TTablePacket packet;
        QString error;
        if (!answer.PayloadPacket(packet, &error))
            throw Exception(u"Resposta inválida do servidor de aplicação: %1."_s.arg(error));
        if (page == 1)
            all.Fields = packet.Fields;
        all.Rows += packet.Rows;
        // The server gives back the next page's number, empty after the last.
        if (answer.ByRef.isEmpty() || answer.ByRef.at(0).toString().isEmpty() ||
            all.Rows.size() >= maxRows)
            break;
    }
    if (all.Rows.size() > maxRows)
        all.Rows.resize(maxRows);
    return all;
}

} // namespace HistoryView
