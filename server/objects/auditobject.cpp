#include "auditobject.h"

#include "companylist.h"
#include "database.h"
#include "datetime.h"
#include "methodcall.h"
#include "packetwriter.h"
#include "paramrecord.h"
#include "rules/textcut.h"

#include <QDate>
#include <QDateTime>
#include <QSet>

using namespace Qt::StringLiterals;

namespace {

constexpr auto GetHistorico = "GetHistorico";

[[noreturn]] void refuse(const QString &message) {
    throw CallFailure{u"invalid_argument"_s, message};
}

// "" or an ISO date: the first moment of that day (UTC).
QDateTime dayStart(const QString &text, const QString &what) {
    if (text.trimmed().isEmpty())
        return {};
    const auto value = DateTimeUtil::FromIso(text.trimmed());
    if (!value)
        refuse(u"Data inválida em %1: '%2'."_s.arg(what, TextCut::Left(text, 40)));
    return QDateTime(DateTimeUtil::ToQDate(DateTimeUtil::Trunc(*value)), QTime(0, 0), Qt::UTC);
}

// The fields a history row may name: the record's stored columns, the general parameter's
// flag, a period closing, a definitive close and an exception to the gate.
const QSet<QString> &historyFieldNames() {
    static const QSet<QString> names = [] {
        QSet<QString> out{u"IDCONTAJUDTCOMP"_s, u"FECHAMENTO"_s, u"ENCERRAMENTO"_s, u"EXCECAO"_s};
        for (const ParamRecord::Column &c : ParamRecord::StoredColumns())
            out.insert(QString::fromLatin1(c.Name));
        out.remove(u"CDEMPRESA"_s);
        return out;
    }();
    return names;
}

TFieldDefs historyFields() {
    auto text = [](const char *name, int size) {
        return TFieldDef{QString::fromLatin1(name), TFieldType::String, size, false};
    };
    return {text("DTALTERACAO", 24), text("IDALTERACAO", 36), text("NMOPERADOR", 60),
            text("IDVERIFICADO", 1), text("NMMETODO", 30),    text("IDOPERACAO", 1),
            text("CDEMPRESA", 2),    text("NMCAMPO", 30),     text("TPCAMPO", 10),
            text("VLANTERIOR", 60),  text("VLNOVO", 60)};
}

} // namespace

AuditObject::AuditObject(Database &database)
    : m_database(database) {}

QString AuditObject::Name() const {
    return u"Audit"_s;
}

QStringList AuditObject::Methods() const {
    return {QString::fromLatin1(GetHistorico)};
}

bool AuditObject::HasMethod(const QString &method) const {
    return method == QLatin1StringView(GetHistorico);
}

CallOutcome AuditObject::Invoke(const QString &method, const QJsonArray &params) {
    CallOutcome outcome;
    if (!HasMethod(method)) {
        outcome.ProtocolError =
            JsonRpc::Error{JsonRpc::MethodNotFound, u"Método desconhecido: %1"_s.arg(method)};
        return outcome;
    }
    using Arg = MethodCall::Arg;
    if (auto fault = MethodCall::CheckParams(
            method, params, {Arg::Text, Arg::Text, Arg::Text, Arg::Text, Arg::Text, Arg::Text})) {
        outcome.ProtocolError = *fault;
        return outcome;
    }
    outcome.Company = params.at(0).toString();
    outcome.Result = MethodCall::Guard([&] {
        CompanyList list;
        QString error;
        if (!CompanyList::Parse(params.at(0).toString(), list, &error))
            refuse(error);
        const QDateTime since = dayStart(params.at(1).toString(), u"data inicial"_s);
        QDateTime until = dayStart(params.at(2).toString(), u"data final"_s);
        if (since.isValid() && until.isValid() && until < since)
            refuse(u"Data final deve ser maior ou igual à data inicial."_s);
        if (until.isValid())
            until = until.addDays(1); // the whole last day
        const QString field = params.at(3).toString().trimmed().toUpper();
        const QString who = params.at(4).toString().trimmed();
        bool ok = false;
        const int page = params.at(5).toString().trimmed().toInt(&ok);
        if (!ok || page < 1 || page > 1'000'000)
            refuse(u"Página inválida: '%1' (use 1, 2, ...)."_s.arg(
                TextCut::Left(params.at(5).toString(), 20)));
        if (field.size() > 30 || who.size() > 60)
            refuse(u"Campo ou operador longo demais."_s);
        if (MethodCall::HasControlCharacter(field))
            refuse(u"Campo inválido: contém caracteres de controle."_s);
        if (MethodCall::HasControlCharacter(who))
            refuse(u"Operador inválido: contém caracteres de controle."_s);
        // A name the history never records would only ever find nothing, which reads as "no
        // change" to whoever asked.
        if (!field.isEmpty() && !historyFieldNames().contains(field))
            refuse(u"Campo inválido: '%1' não é um campo do histórico."_s.arg(field));

        QStringList where;
        QVariantList binds;
        if (!list.All()) {
            QStringList marks;
            for (const QString &code : list.Codes()) {
                marks.append(u"?"_s);
                binds.append(code);
            }
            where.append(u"CDEMPRESA IN (%1)"_s.arg(marks.join(u", "_s)));
        }
        if (since.isValid()) {
            where.append(u"DTALTERACAO >= ?"_s);
            binds.append(since);
        }
        if (until.isValid()) {
            where.append(u"DTALTERACAO < ?"_s);
            binds.append(until);
        }
        if (!field.isEmpty()) {
            where.append(u"NMCAMPO = ?"_s);
            binds.append(field);
        }
        if (!who.isEmpty()) {
            where.append(u"NMOPERADOR = ?"_s);
            binds.append(who);
        }
        const QString sql =
            u"SELECT DTALTERACAO, IDALTERACAO, NMOPERADOR, IDVERIFICADO, NMMETODO, IDOPERACAO, "
            "CDEMPRESA, NMCAMPO, TPCAMPO, VLANTERIOR, VLNOVO FROM HISTALTERACAO%1 "
            "ORDER BY DTALTERACAO DESC, IDALTERACAO, NRSEQ LIMIT %2 OFFSET %3"_s
                .arg(where.isEmpty() ? QString() : u" WHERE "_s + where.join(u" AND "_s))
                .arg(PageRows + 1) // one more tells whether another page follows
                .arg(qint64(page - 1) * PageRows);
        bool more = false;
        QByteArray payload;
        m_database.Transaction(Database::Access::SingleRead, [&](QSqlDatabase &db) {
            TPacketWriter packet(historyFields());
            QSqlQuery q = Database::Prepare(db, sql);
            for (int i = 0; i < binds.size(); ++i)
                q.bindValue(i, binds.at(i));
            Database::Exec(q);
            for (int read = 0; Database::Next(q); ++read) {
                if (read == PageRows) {
                    more = true;
                    break;
                }
                // The time in UTC, as the server recorded it, whatever form the driver gives.
                const QVariant when = q.value(0);
                QDateTime time = when.metaType().id() == QMetaType::QDateTime
                                     ? when.toDateTime()
                                     : QDateTime::fromString(when.toString(), Qt::ISODateWithMs);
                if (time.timeSpec() == Qt::LocalTime)
                    time.setTimeSpec(Qt::UTC); // stored without a zone: it was UTC
                packet.Text(time.toUTC().toString(Qt::ISODateWithMs));
                for (int i = 1; i < 11; ++i) {
                    if (q.value(i).isNull())
                        packet.Null();
                    else
                        packet.Text(q.value(i).toString());
                }
                packet.EndRow();
            }
            payload = packet.Finish();
        });
        // `page` is given back by reference: the next page's number, empty after the last.
        return TResultEnvelope::SuccessRaw(std::move(payload),
                                           {more ? QString::number(page + 1) : QString()});
    });
    return outcome;
}
