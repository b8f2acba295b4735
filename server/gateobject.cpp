#include "gateobject.h"

#include "database.h"
#include "methodcall.h"
#include "packetwriter.h"
#include "paramrecord.h"
#include "rules/periodgate.h"

#include <QHash>
#include <QJsonArray>
#include <QSet>

#include <array>

using namespace Qt::StringLiterals;
using PeriodGate::Module;

namespace {

constexpr auto Consulta = "Consulta";

// Up to this many distinct companies are read by code; more, and reading every record is cheaper
// than a statement that long.
constexpr qsizetype ByCodeLimit = 500;

// The accounting period, then each module's window, in the modules' order.
constexpr qsizetype StoredDates = 2 + 2 * 7;

struct Stored {
    bool HasRecord = false;
    std::array<TDateTime, StoredDates> Dates{};
};

QStringList storedColumns() {
    QStringList columns{u"C."_s + QLatin1StringView(PeriodGate::AccountingStart),
                        u"C."_s + QLatin1StringView(PeriodGate::AccountingEnd)};
    for (const Module &module : PeriodGate::Modules())
        columns << u"C."_s + QLatin1StringView(module.StartColumn)
                << u"C."_s + QLatin1StringView(module.EndColumn);
    return columns;
}

struct Check {
    QString Company; // empty when the text is no company code
    const Module *Mod = nullptr;
    std::optional<TDateTime> Day;
};

Check fromParts(QStringView company, QStringView module, QStringView day) {
    Check check;
    company = company.trimmed();
    if (company.size() == 2 && !MethodCall::HasControlCharacter(company.toString()))
        check.Company = company.toString();
    if (module.size() <= 8)
        check.Mod = PeriodGate::FindModule(module.trimmed());
    check.Day = PeriodGate::ParseDay(day.trimmed().toString());
    return check;
}

// A check is three texts, as an array or as one text "EMPRESA;MODULO;DATA": a request holds at
// most 65,536 arrays, so a long list is sent in the second form, cut here without copies.
Check readCheck(const QJsonValue &value, qsizetype index) {
    if (value.isString()) {
        const QString text = value.toString();
        const QStringView view(text);
        const qsizetype first = view.indexOf(u';');
        const qsizetype second = first < 0 ? -1 : view.indexOf(u';', first + 1);
        if (text.size() <= 64 && second >= 0 && view.indexOf(u';', second + 1) < 0)
            return fromParts(view.left(first), view.mid(first + 1, second - first - 1),
                             view.mid(second + 1));
    } else if (value.isArray()) {
        const QJsonArray triple = value.toArray();
        if (triple.size() == 3 && triple.at(0).isString() && triple.at(1).isString() &&
            triple.at(2).isString()) {
            const QString company = triple.at(0).toString(), module = triple.at(1).toString(),
                          day = triple.at(2).toString();
            return fromParts(company, module, day);
        }
    }
    throw CallFailure{u"invalid_argument"_s,
                      u"Consulta %1: era esperado [empresa, módulo, data], três textos, ou "
                      "\"EMPRESA;MODULO;DATA\"."_s.arg(index + 1)};
}

TDateTime day(const QVariant &stored) {
    const QDate date = ParamRecord::StoredDate(stored);
    return date.isValid() ? DateTimeUtil::FromQDate(date) : 0;
}

// The records of the named companies (every record when there are many), keyed by the codes
// EMPRESA has; a code missing from the result is no company.
QHash<QString, Stored> readCompanies(QSqlDatabase &db, const QStringList &codes) {
    const bool byCode = codes.size() <= ByCodeLimit;
    QString sql = u"SELECT E.CDEMPRESA, C.CDEMPRESA, %1 FROM EMPRESA E LEFT JOIN CONTOPECTBL C "
                  "ON C.CDEMPRESA = E.CDEMPRESA"_s.arg(storedColumns().join(u", "_s));
    if (byCode) {
        QStringList marks(codes.size(), u"?"_s);
        sql += u" WHERE E.CDEMPRESA IN (%1)"_s.arg(marks.join(u", "_s));
    }
    QSqlQuery &q = Database::Statement(db, sql);
    if (byCode)
        for (qsizetype i = 0; i < codes.size(); ++i)
            q.bindValue(int(i), codes.at(i));
    Database::Exec(q);
    QHash<QString, Stored> out;
    while (q.next()) {
        Stored stored;
        stored.HasRecord = !q.value(1).isNull();
        for (qsizetype i = 0; i < StoredDates; ++i)
            stored.Dates[i] = day(q.value(int(2 + i)));
        out.insert(q.value(0).toString(), stored);
    }
    return out;
}

void appendDay(QByteArray &out, TDateTime value) {
    if (value > 0)
        out += '"' + DateTimeUtil::ToIso(value).toLatin1() + '"';
    else
        out += "null";
}

} // namespace

GateObject::GateObject(Database &database)
    : m_database(database) {}

QString GateObject::Name() const {
    return u"Ger09400.Periodo"_s;
}

bool GateObject::HasMethod(const QString &method) const {
    return method == QLatin1StringView(Consulta);
}

CallOutcome GateObject::Invoke(const QString &method, const QJsonArray &params) {
    CallOutcome outcome;
    if (!HasMethod(method)) {
        outcome.ProtocolError =
            JsonRpc::Error{JsonRpc::MethodNotFound, u"Método desconhecido: %1"_s.arg(method)};
        return outcome;
    }
    if (params.size() != 1 || !params.at(0).isArray()) {
        outcome.ProtocolError =
            JsonRpc::Error{JsonRpc::InvalidParams,
                           u"Consulta espera um argumento: a lista de [empresa, módulo, data]."_s};
        return outcome;
    }
    outcome.Result = MethodCall::Guard([&] {
        const QJsonArray list = params.at(0).toArray();
        if (list.size() > MaxChecks)
            throw CallFailure{
                u"invalid_argument"_s,
                u"Consultas demais numa chamada: %1 (no máximo %2)."_s.arg(list.size())
                    .arg(MaxChecks)};
        QVector<Check> checks;
        checks.reserve(list.size());
        QStringList codes;
        QSet<QString> seen;
        for (qsizetype i = 0; i < list.size(); ++i) {
            checks.append(readCheck(list.at(i), i));
            const QString &code = checks.last().Company;
            if (!code.isEmpty() && !seen.contains(code)) {
                seen.insert(code);
                codes.append(code);
            }
        }
        // The call's reads are one SELECT, which sees one snapshot by itself: a bulk apply
        // committed meanwhile is seen whole or not at all, by every check alike, without the
        // round trips of BEGIN and COMMIT around it.
        QHash<QString, Stored> companies;
        if (!codes.isEmpty())
            m_database.Transaction(Database::Access::SingleRead,
                                   [&](QSqlDatabase &db) { companies = readCompanies(db, codes); });
        const auto modules = PeriodGate::Modules();
        // Written straight as JSON: a tree of a hundred thousand small arrays would cost several
        // times the rules and the reads.
        QByteArray answers;
        answers.reserve(checks.size() * 96 + 2);
        answers += '[';
        for (const Check &check : checks) {
            PeriodGate::Reading reading;
            reading.Day = check.Day;
            reading.Mod = check.Mod;
            const auto found =
                check.Company.isEmpty() ? companies.cend() : companies.constFind(check.Company);
            if (found != companies.cend()) {
                reading.CompanyKnown = true;
                reading.HasRecord = found->HasRecord;
                reading.AccountingStart = found->Dates[0];
                reading.AccountingEnd = found->Dates[1];
                if (check.Mod) {
                    const qsizetype at = 2 + 2 * (check.Mod - modules.data());
                    reading.WindowStart = found->Dates[at];
                    reading.WindowEnd = found->Dates[at + 1];
                }
            }
            const PeriodGate::Answer answer = PeriodGate::Decide(reading);
            if (answers.size() > 1)
                answers += ',';
            answers += answer.Allowed ? "[\"S\"," : "[\"N\",";
            TPacketWriter::AppendString(answers, QStringView(answer.Applied->Reason));
            answers += ',';
            TPacketWriter::AppendString(answers, answer.Text);
            answers += ',';
            appendDay(answers, answer.Start);
            answers += ',';
            appendDay(answers, answer.End);
            answers += ']';
        }
        answers += ']';
        return TResultEnvelope::SuccessRaw(std::move(answers));
    });
    return outcome;
}
