#include "gateexceptions.h"

#include "callcontext.h"
#include "changehistory.h"
#include "closedspan.h"
#include "companylist.h"
#include "database.h"
#include "methodcall.h"
#include "packet.h"
#include "paramrecord.h"
#include "rules/textcut.h"

#include <QDateTime>
#include <QSet>

using namespace Qt::StringLiterals;
using MethodCall::Arg;

namespace GateExceptions {

namespace {

constexpr qsizetype MaxReason = 200;
constexpr qsizetype MaxClient = 60;
const QString Moment = u"yyyy-MM-dd'T'HH:mm:ss'Z'"_s;

[[noreturn]] void refuse(const QString &code, const QString &message) {
    throw CallFailure{code, message};
}

CallOutcome fault(const JsonRpc::Error &error) {
    CallOutcome outcome;
    outcome.ProtocolError = error;
    return outcome;
}

QString shown(QDate date) {
    return date.toString(u"dd/MM/yyyy"_s);
}

QString who() {
    const QString name = TextCut::Left(CallerContext::Current().Operator, 60);
    return name.isEmpty() ? u"anônimo"_s : name;
}

CompanyList requireList(const QString &text) {
    CompanyList list;
    QString error;
    if (!CompanyList::Parse(text, list, &error))
        refuse(u"invalid_argument"_s, error);
    return list;
}

QDate requireDay(const QString &text, const QString &what) {
    const auto day = PeriodGate::ParseDay(text.trimmed());
    const QDate date = day ? DateTimeUtil::ToQDate(*day) : QDate();
    if (!day || *day == 0 || !date.isValid() || date.year() > 9999)
        refuse(u"invalid_argument"_s,
               u"Data inválida em %1: use dd/mm/aaaa ou aaaa-mm-dd."_s.arg(what));
    return date;
}

QString requireText(const QString &text, const QString &what, qsizetype most, bool required) {
    const QString trimmed = text.trimmed();
    if (required && trimmed.isEmpty())
        refuse(u"invalid_argument"_s, u"Informe o %1."_s.arg(what.toLower()));
    if (trimmed.size() > most)
        refuse(u"invalid_argument"_s,
               u"%1 longo demais: no máximo %2 caracteres."_s.arg(what).arg(most));
    if (MethodCall::HasControlCharacter(trimmed))
        refuse(u"invalid_argument"_s, u"%1 inválido: contém caracteres de controle."_s.arg(what));
    return trimmed;
}

// ISO with a time of day (with its zone, or the server's), or "dd/mm/aaaa hh:mm[:ss]".
QDateTime requireMoment(const QString &text) {
    const QString trimmed = text.trimmed();
    QDateTime moment;
    if (trimmed.size() <= 30) {
        moment = QDateTime::fromString(trimmed, Qt::ISODate);
        if (!moment.isValid() || trimmed.size() <= 10)
            moment = QDateTime::fromString(trimmed, u"dd/MM/yyyy HH:mm"_s);
        if (!moment.isValid())
            moment = QDateTime::fromString(trimmed, u"dd/MM/yyyy HH:mm:ss"_s);
    }
    if (!moment.isValid())
        refuse(u"invalid_argument"_s, u"Validade inválida: use aaaa-mm-ddThh:mm ou dd/mm/aaaa "
                                      "hh:mm."_s);
    return moment.toUTC();
}

} // namespace

QString Now() {
    return QDateTime::currentDateTimeUtc().toString(Moment);
}

ByCompany Read(QSqlDatabase &db, const QString &now, const QStringList *codes) {
    QString sql = u"SELECT CDEMPRESA, NREXCECAO, CDMODULO, DTINICIO, DTFIM, DTEXPIRA, DSMOTIVO, "
                  "NMCLIENTE FROM EXCECAO WHERE DTREVOGACAO IS NULL AND DTEXPIRA > ?"_s;
    if (codes) {
        const QStringList marks(codes->size(), u"?"_s);
        sql += u" AND CDEMPRESA IN (%1)"_s.arg(marks.join(u", "_s));
    }
    QSqlQuery &q = Database::Statement(db, sql + u" ORDER BY CDEMPRESA, NREXCECAO"_s);
    q.bindValue(0, now);
    for (qsizetype i = 0; codes && i < codes->size(); ++i)
        q.bindValue(int(i + 1), codes->at(i));
    Database::Exec(q);
    ByCompany out;
    while (Database::Next(q)) {
        Exception e;
        e.Number = q.value(1).toLongLong();
        e.Mod = q.value(2).isNull() ? nullptr : PeriodGate::FindModule(q.value(2).toString());
        e.First = DateTimeUtil::FromQDate(ParamRecord::StoredDate(q.value(3)));
        e.Last = DateTimeUtil::FromQDate(ParamRecord::StoredDate(q.value(4)));
        e.Expires = q.value(5).toString();
        e.Reason = q.value(6).toString();
        e.Client = q.value(7).toString();
        if (!q.value(2).isNull() && !e.Mod)
            continue; // a module no longer known opens nothing
        out[q.value(0).toString()].append(e);
    }
    return out;
}

const Exception *FindFor(const ByCompany &all, const QString &company,
                         const PeriodGate::Module *module, TDateTime day, const QString &now,
                         const Caller &caller) {
    const auto found = all.constFind(company);
    if (found == all.cend())
        return nullptr;
    for (const Exception &e : found.value()) {
        if ((e.Mod && e.Mod != module) || day < e.First || day > e.Last || e.Expires <= now)
            continue;
        if (!e.Client.isEmpty() && (!caller.Verified || caller.Operator != e.Client))
            continue;
        return &e;
    }
    return nullptr;
}

CallOutcome Grant(Database &database, const QJsonArray &params) {
    if (auto error = MethodCall::CheckParams(
            u"ConcederExcecao"_s, params,
            {Arg::Text, Arg::Text, Arg::Text, Arg::Text, Arg::Text, Arg::Text, Arg::Text}))
        return fault(*error);
    CallOutcome outcome;
    outcome.Company = TextCut::Left(params.at(0).toString(), 64);
    outcome.Result = MethodCall::Guard([&] {
        const CompanyList list = requireList(params.at(0).toString());
        const QString moduleText = params.at(1).toString().trimmed();
        const PeriodGate::Module *module = moduleText.isEmpty() || moduleText.size() > 8
                                               ? nullptr
                                               : PeriodGate::FindModule(moduleText);
        if (!moduleText.isEmpty() && !module)
            refuse(u"invalid_argument"_s, u"Módulo desconhecido: use LANC, DFE, DFS, FIN, GPA, "
                                          "FIS, VEXT ou \"\" para todos."_s);
        const QDate first = requireDay(params.at(2).toString(), u"início"_s);
        const QDate last = requireDay(params.at(3).toString(), u"fim"_s);
        if (last < first)
            refuse(u"invalid_argument"_s, u"Data final deve ser maior ou igual à data inicial."_s);
        QDateTime expires = requireMoment(params.at(4).toString());
        // Kept to the second: a fraction is rounded up, so the exception never ends before the
        // moment it was granted to.
        if (const int ms = expires.time().msec(); ms > 0)
            expires = expires.addMSecs(1000 - ms);
        const QDateTime now = QDateTime::currentDateTimeUtc();
        if (expires <= now || expires > now.addDays(MaxDays))
            refuse(
                u"invalid_argument"_s,
                u"Validade fora do prazo: depois de agora e até %1 dias adiante."_s.arg(MaxDays));
        const QString reason = requireText(params.at(5).toString(), u"Motivo"_s, MaxReason, true);
        const QString client = requireText(params.at(6).toString(), u"Cliente"_s, MaxClient, false);
        qint64 number = 0;
        database.Transaction(
            Database::Access::Write,
            [&](QSqlDatabase &db) {
                QStringList codes;
                QSqlQuery &companies = Database::Statement(
                    db,
                    u"SELECT E.CDEMPRESA, N.DTENCERRAMENTO FROM EMPRESA E LEFT JOIN ENCERRAMENTO "
                    "N ON N.CDEMPRESA = E.CDEMPRESA ORDER BY E.CDEMPRESA"_s);
                Database::Exec(companies);
                const QSet<QString> wanted(list.Codes().cbegin(), list.Codes().cend());
                QSet<QString> found;
                while (Database::Next(companies)) {
                    const QString code = companies.value(0).toString();
                    if (!list.All() && !wanted.contains(code))
                        continue;
                    const QDate closed = ParamRecord::StoredDate(companies.value(1));
                    if (closed.isValid() && first <= closed)
                        refuse(u"refused"_s,
                               u"%1: a exceção não pode começar nessa data ou antes. Nada foi "
                               "concedido."_s.arg(ClosedSpan::Sentence(code, closed)));
                    codes.append(code);
                    found.insert(code);
                }
                for (const QString &code : list.Codes())
                    if (!found.contains(code))
                        refuse(u"not_found"_s,
                               u"Empresa '%1' não cadastrada. Nada foi concedido."_s.arg(code));
                if (codes.isEmpty())
                    refuse(u"not_found"_s, u"Nenhuma empresa cadastrada."_s);
                QSqlQuery &next = Database::Statement(
                    db, u"SELECT COALESCE(MAX(NREXCECAO), 0) + 1 FROM EXCECAO"_s);
                Database::Exec(next);
                number = Database::Next(next) ? next.value(0).toLongLong() : 1;
                next.finish();
                ChangeHistory history(u"ConcederExcecao"_s);
                const QString registered = Now(), by = who(), expiry = expires.toString(Moment);
                const QString summary = u"nº %1 %2 %3 a %4 (%5)"_s.arg(number).arg(
                    module ? QString::fromUtf16(module->Code) : u"todos"_s, shown(first),
                    shown(last), reason);
                for (const QString &code : std::as_const(codes)) {
                    QSqlQuery &insert = Database::Statement(
                        db,
                        u"INSERT INTO EXCECAO (NREXCECAO, CDEMPRESA, CDMODULO, DTINICIO, DTFIM, "
                        "DTEXPIRA, DSMOTIVO, NMCLIENTE, NMOPERADOR, DTREGISTRO) VALUES (?, ?, ?, "
                        "?, ?, ?, ?, ?, ?, ?)"_s);
                    insert.bindValue(0, number);
                    insert.bindValue(1, code);
                    insert.bindValue(2, module ? QVariant(QString::fromUtf16(module->Code))
                                               : QVariant(QMetaType::fromType<QString>()));
                    insert.bindValue(3, first.toString(Qt::ISODate));
                    insert.bindValue(4, last.toString(Qt::ISODate));
                    insert.bindValue(5, expiry);
                    insert.bindValue(6, reason);
                    insert.bindValue(7, client.isEmpty() ? QVariant(QMetaType::fromType<QString>())
                                                         : QVariant(client));
                    insert.bindValue(8, by);
                    insert.bindValue(9, registered);
                    Database::Exec(insert);
                    history.AddException(code, QString(), summary);
                }
                history.Write(db);
            },
            Database::Turn::Alone);
        return TResultEnvelope::Success(QJsonValue(number), QJsonArray{list.Normalised()});
    });
    return outcome;
}

CallOutcome List(Database &database, const QJsonArray &params) {
    if (auto error = MethodCall::CheckParams(u"Excecoes"_s, params, {Arg::Text}))
        return fault(*error);
    CallOutcome outcome;
    outcome.Company = TextCut::Left(params.at(0).toString(), 64);
    outcome.Result = MethodCall::Guard([&] {
        const CompanyList list = requireList(params.at(0).toString());
        const auto text = [](const char *name, int size) {
            return TFieldDef{QString::fromLatin1(name), TFieldType::String, size, false};
        };
        TTablePacket packet;
        packet.Fields = {{u"NREXCECAO"_s, TFieldType::Integer, 0, false},
                         text("CDEMPRESA", 2),
                         text("CDMODULO", 8),
                         text("DTINICIO", 10),
                         text("DTFIM", 10),
                         text("DTEXPIRA", 20),
                         text("DSMOTIVO", 200),
                         text("NMCLIENTE", 60),
                         text("NMOPERADOR", 60),
                         text("DTREGISTRO", 20),
                         text("IDSITUACAO", 9),
                         text("DTREVOGACAO", 20),
                         text("NMREVOGADOR", 60),
                         text("DSMOTIVOREVOGACAO", 200)};
        const QString now = Now();
        database.Transaction(Database::Access::SingleRead, [&](QSqlDatabase &db) {
            QStringList marks(list.Codes().size(), u"?"_s);
            QSqlQuery &q = Database::Statement(
                db, u"SELECT NREXCECAO, CDEMPRESA, CDMODULO, DTINICIO, DTFIM, DTEXPIRA, DSMOTIVO, "
                    "NMCLIENTE, NMOPERADOR, DTREGISTRO, DTREVOGACAO, NMREVOGADOR, "
                    "DSMOTIVOREVOGACAO FROM EXCECAO%1 ORDER BY NREXCECAO, CDEMPRESA"_s.arg(
                        list.All() ? QString()
                                   : u" WHERE CDEMPRESA IN (%1)"_s.arg(marks.join(u", "_s))));
            for (qsizetype i = 0; !list.All() && i < list.Codes().size(); ++i)
                q.bindValue(int(i), list.Codes().at(i));
            Database::Exec(q);
            while (Database::Next(q)) {
                const auto day = [&](int column) {
                    return QVariant(ParamRecord::StoredDate(q.value(column)).toString(Qt::ISODate));
                };
                const QString state = !q.value(10).isNull()          ? u"revogada"_s
                                      : q.value(5).toString() <= now ? u"expirada"_s
                                                                     : u"em vigor"_s;
                packet.Rows.append({q.value(0).toLongLong(), q.value(1), q.value(2), day(3), day(4),
                                    q.value(5), q.value(6), q.value(7), q.value(8), q.value(9),
                                    state, q.value(10), q.value(11), q.value(12)});
            }
        });
        return TResultEnvelope::Success(Packet::ToJson(packet), QJsonArray{list.Normalised()});
    });
    return outcome;
}

CallOutcome Revoke(Database &database, const QJsonArray &params) {
    if (auto error = MethodCall::CheckParams(u"RevogarExcecao"_s, params, {Arg::Text, Arg::Text}))
        return fault(*error);
    CallOutcome outcome;
    outcome.Result = MethodCall::Guard([&] {
        const QString numberText = params.at(0).toString().trimmed();
        bool ok = false;
        const qint64 number = numberText.size() <= 9 ? numberText.toLongLong(&ok) : 0;
        if (!ok || number <= 0)
            refuse(u"invalid_argument"_s,
                   u"Número de exceção inválido: '%1'."_s.arg(TextCut::Left(numberText, 20)));
        const QString reason = requireText(params.at(1).toString(), u"Motivo"_s, MaxReason, true);
        database.Transaction(
            Database::Access::Write,
            [&](QSqlDatabase &db) {
                QSqlQuery &q = Database::Statement(
                    db, u"SELECT CDEMPRESA, DTREVOGACAO FROM EXCECAO WHERE NREXCECAO = ? "
                        "ORDER BY CDEMPRESA"_s);
                q.bindValue(0, number);
                Database::Exec(q);
                QStringList open;
                bool any = false;
                while (Database::Next(q)) {
                    any = true;
                    if (q.value(1).isNull())
                        open.append(q.value(0).toString());
                }
                if (!any)
                    refuse(u"not_found"_s, u"A exceção nº %1 não existe."_s.arg(number));
                if (open.isEmpty())
                    refuse(u"refused"_s, u"A exceção nº %1 já foi revogada."_s.arg(number));
                QSqlQuery &update = Database::Statement(
                    db,
                    u"UPDATE EXCECAO SET DTREVOGACAO = ?, NMREVOGADOR = ?, DSMOTIVOREVOGACAO = ? "
                    "WHERE NREXCECAO = ? AND DTREVOGACAO IS NULL"_s);
                update.bindValue(0, Now());
                update.bindValue(1, who());
                update.bindValue(2, reason);
                update.bindValue(3, number);
                Database::Exec(update);
                ChangeHistory history(u"RevogarExcecao"_s);
                for (const QString &code : std::as_const(open))
                    history.AddException(code, u"nº %1 em vigor"_s.arg(number),
                                         u"nº %1 revogada (%2)"_s.arg(number).arg(reason));
                history.Write(db);
            },
            ChangeHistory::Turn());
        return TResultEnvelope::Success();
    });
    return outcome;
}

} // namespace GateExceptions
