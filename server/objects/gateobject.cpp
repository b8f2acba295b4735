#include "gateobject.h"

#include "callcontext.h"
#include "changehistory.h"
#include "changewatch.h"
#include "closedspan.h"
#include "companylist.h"
#include "database.h"
#include "gateexceptions.h"
#include "methodcall.h"
#include "packetwriter.h"
#include "paramrecord.h"
#include "rules/periodgate.h"
#include "rules/textcut.h"
#include "servercounters.h"

#include <QDateTime>
#include <QHash>
#include <QJsonArray>
#include <QSet>

#include <sqlite3.h>

#include <algorithm>
#include <array>
#include <vector>

using namespace Qt::StringLiterals;
using PeriodGate::Module;

namespace {

constexpr auto Consulta = "Consulta";
constexpr auto Encerrar = "Encerrar";
constexpr auto Conceder = "ConcederExcecao";
constexpr auto Listar = "Excecoes";
constexpr auto Revogar = "RevogarExcecao";
constexpr auto Conferir = "ConferirEncerramento";

// Up to this many distinct companies are read by code; more, and reading every record is cheaper
// than a statement that long.
constexpr qsizetype ByCodeLimit = 500;

// Past this many companies the records are read for each call, not kept: a change would make
// the next call read them all.
constexpr qsizetype KeptLimit = 5000;

// The accounting period, then each module's window, in the modules' order.
constexpr qsizetype StoredDates = 2 + 2 * 7;

// A stored day: its value for the rules, its ISO text for the answer.
struct Day {
    TDateTime Value = 0; // 0: the column is empty
    std::array<char, 10> Iso{};
};

struct Stored {
    bool HasRecord = false;
    std::array<Day, StoredDates> Dates{};
    Day Closed; // the definitive close
};

Day dayOf(QDate date) {
    int year = 0, month = 0, dayOfMonth = 0;
    date.getDate(&year, &month, &dayOfMonth);
    // 30/12/1899 is no date, and the answer has no room for a year of five digits.
    const TDateTime value = DateTimeUtil::FromQDate(date);
    if (value == 0 || year < 1 || year > 9999)
        return {};
    Day out;
    out.Value = value;
    const auto put = [&](int at, int number, int width) {
        for (int i = width - 1; i >= 0; --i, number /= 10)
            out.Iso[size_t(at + i)] = char('0' + number % 10);
    };
    put(0, year, 4);
    out.Iso[4] = out.Iso[7] = '-';
    put(5, month, 2);
    put(8, dayOfMonth, 2);
    return out;
}

Day storedDay(const QVariant &stored) {
    return dayOf(ParamRecord::StoredDate(stored));
}

// SQLite keeps a day as its ISO text, which is the answer's text too.
Day storedDay(sqlite3_stmt *statement, int column) {
    if (sqlite3_column_type(statement, column) == SQLITE_NULL)
        return {};
    const auto *bytes = reinterpret_cast<const char *>(sqlite3_column_text(statement, column));
    const int size = sqlite3_column_bytes(statement, column);
    if (size >= 10) {
        const auto value = DateTimeUtil::FromIso(QLatin1StringView(bytes, 10));
        if (value && *value != 0) {
            Day out;
            out.Value = *value;
            std::copy_n(bytes, 10, out.Iso.begin());
            return out;
        }
    }
    return storedDay(QVariant(QString::fromUtf8(bytes, size)));
}

const QString &selectSql() {
    static const QString sql = [] {
        QStringList columns{u"C."_s + QLatin1StringView(PeriodGate::AccountingStart),
                            u"C."_s + QLatin1StringView(PeriodGate::AccountingEnd)};
        for (const Module &module : PeriodGate::Modules())
            columns << u"C."_s + QLatin1StringView(module.StartColumn)
                    << u"C."_s + QLatin1StringView(module.EndColumn);
        return u"SELECT E.CDEMPRESA, C.CDEMPRESA, %1, N.DTENCERRAMENTO FROM EMPRESA E "
               "LEFT JOIN CONTOPECTBL C ON C.CDEMPRESA = E.CDEMPRESA "
               "LEFT JOIN ENCERRAMENTO N ON N.CDEMPRESA = E.CDEMPRESA"_s.arg(columns.join(u", "_s));
    }();
    return sql;
}

// One rule's answer for one module as JSON, cut where the window's first and last day go.
struct Piece {
    QByteArray Head;   // up to the first day, or the whole text when it shows no window
    QByteArray Middle; // between the days
    QByteArray Tail;   // after the last day
    QByteArray Whole;  // the text as the rule has it, for a window not known in full
    bool Split = false;
};

// Every rule for every module (and for no module), built once.
const Piece &pieceFor(const PeriodGate::Rule *rule, const Module *module) {
    static const std::vector<Piece> pieces = [] {
        std::vector<Piece> out;
        for (const PeriodGate::Rule &r : PeriodGate::Rules()) {
            for (qsizetype m = -1; m < qsizetype(PeriodGate::Modules().size()); ++m) {
                QByteArray start = r.Refuses && !r.Grants ? "[\"N\"," : "[\"S\",";
                TPacketWriter::AppendString(start, QStringView(r.Reason));
                start += ',';
                QByteArray text;
                TPacketWriter::AppendString(
                    text, PeriodGate::Template(r, m < 0 ? nullptr : &PeriodGate::Modules()[m]));
                Piece piece;
                piece.Whole = start + text;
                const qsizetype first = text.indexOf("%2"), last = text.indexOf("%3");
                if (r.Window == PeriodGate::Shown::Closed && last >= 0) {
                    piece.Head = start + text.left(last);
                    piece.Tail = text.mid(last + 2);
                    piece.Split = true;
                } else if (r.Window != PeriodGate::Shown::None && first >= 0 && last > first) {
                    piece.Head = start + text.left(first);
                    piece.Middle = text.mid(first + 2, last - first - 2);
                    piece.Tail = text.mid(last + 2);
                    piece.Split = true;
                } else {
                    piece.Head = piece.Whole;
                }
                out.push_back(piece);
            }
        }
        return out;
    }();
    const auto rules = PeriodGate::Rules();
    const qsizetype row = rule - rules.data();
    const qsizetype column = module ? module - PeriodGate::Modules().data() + 1 : 0;
    return pieces[size_t(row * qsizetype(PeriodGate::Modules().size() + 1) + column)];
}

void appendShown(QByteArray &out, const Day &day) {
    const auto &iso = day.Iso;
    const char text[] = {iso[8], iso[9], '/', iso[5], iso[6], '/', iso[0], iso[1], iso[2], iso[3]};
    out.append(text, sizeof text);
}

void appendIso(QByteArray &out, const Day &day) {
    out += '"';
    out.append(day.Iso.data(), qsizetype(day.Iso.size()));
    out += '"';
}

// One answer: allowed, reason, text, and the window that decided (its days, or nulls).
void appendAnswer(QByteArray &out, const PeriodGate::Rule *rule, const Module *module,
                  const Stored *stored) {
    const Piece &piece = pieceFor(rule, module);
    if (stored && rule->Window == PeriodGate::Shown::Closed && stored->Closed.Value != 0) {
        out += piece.Head;
        appendShown(out, stored->Closed);
        out += piece.Tail;
        out += ",null,";
        appendIso(out, stored->Closed);
        out += ']';
        return;
    }
    const Day *first = nullptr;
    if (stored && rule->Window == PeriodGate::Shown::Accounting)
        first = &stored->Dates[0];
    else if (stored && module && rule->Window == PeriodGate::Shown::Module)
        first = &stored->Dates[size_t(2 + 2 * (module - PeriodGate::Modules().data()))];
    const Day *last = first ? first + 1 : nullptr;
    if (!first || first->Value == 0 || last->Value == 0 || !piece.Split) {
        out += piece.Whole;
        out += ",null,null]";
        return;
    }
    out += piece.Head;
    appendShown(out, *first);
    out += piece.Middle;
    appendShown(out, *last);
    out += piece.Tail;
    out += ',';
    appendIso(out, *first);
    out += ',';
    appendIso(out, *last);
    out += ']';
}

// The rule that lets an exception through: the rules after it are the ones it may overrule.
const PeriodGate::Rule *grantRule() {
    static const PeriodGate::Rule *const rule = [] {
        for (const PeriodGate::Rule &r : PeriodGate::Rules())
            if (r.Grants)
                return &r;
        return &PeriodGate::Rules().back();
    }();
    return rule;
}

// An answer through an exception names it: built for each, as exceptions are few.
void appendGrant(QByteArray &out, const PeriodGate::Rule &rule, const Module *module,
                 const GateExceptions::Exception &granted) {
    QString text = PeriodGate::Template(rule, module);
    text.replace(u"%4"_s, QString::number(granted.Number)).replace(u"%5"_s, granted.Reason);
    // A reason that ends its own sentence is not given a second full stop.
    if (text.endsWith(u'.') && (granted.Reason.endsWith(u'.') || granted.Reason.endsWith(u'!') ||
                                granted.Reason.endsWith(u'?')))
        text.chop(1);
    out += rule.Refuses && !rule.Grants ? "[\"N\"," : "[\"S\",";
    TPacketWriter::AppendString(out, QStringView(rule.Reason));
    out += ',';
    TPacketWriter::AppendString(out, text);
    out += ",null,null]";
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
    module = module.trimmed();
    if (module.size() <= 8)
        check.Mod = PeriodGate::FindModule(module);
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

// The records of the named companies (every record when there are many, or no list), keyed by
// the codes EMPRESA has; a code missing from the result is no company.
QHash<QString, Stored> readCompanies(QSqlDatabase &db, const QStringList *list) {
    const QStringList codes = list ? *list : QStringList();
    const bool byCode = list && codes.size() <= ByCodeLimit;
    QString sql = selectSql();
    if (byCode) {
        QStringList marks(codes.size(), u"?"_s);
        sql += u" WHERE E.CDEMPRESA IN (%1)"_s.arg(marks.join(u", "_s));
    }
    QHash<QString, Stored> out;
    if (sqlite3_stmt *statement = Database::SqliteStatement(db, sql)) {
        if (byCode)
            for (qsizetype i = 0; i < codes.size(); ++i)
                sqlite3_bind_text16(statement, int(i + 1), codes.at(i).utf16(),
                                    int(codes.at(i).size() * 2), SQLITE_TRANSIENT);
        int rc = SQLITE_ROW;
        while ((rc = sqlite3_step(statement)) == SQLITE_ROW) {
            Stored stored;
            stored.HasRecord = sqlite3_column_type(statement, 1) != SQLITE_NULL;
            for (int i = 0; i < int(StoredDates); ++i)
                stored.Dates[size_t(i)] = storedDay(statement, 2 + i);
            stored.Closed = storedDay(statement, int(2 + StoredDates));
            out.insert(
                QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(statement, 0)),
                                  sqlite3_column_bytes(statement, 0)),
                stored);
        }
        if (rc != SQLITE_DONE)
            throw QSqlError(u"SQLite"_s,
                            QString::fromUtf8(sqlite3_errmsg(sqlite3_db_handle(statement))),
                            QSqlError::StatementError, QString::number(rc));
        return out;
    }
    QSqlQuery &q = Database::Statement(db, sql);
    if (byCode)
        for (qsizetype i = 0; i < codes.size(); ++i)
            q.bindValue(int(i), codes.at(i));
    Database::Exec(q);
    while (Database::Next(q)) {
        Stored stored;
        stored.HasRecord = !q.value(1).isNull();
        for (qsizetype i = 0; i < StoredDates; ++i)
            stored.Dates[size_t(i)] = storedDay(q.value(int(2 + i)));
        stored.Closed = storedDay(q.value(int(2 + StoredDates)));
        out.insert(q.value(0).toString(), stored);
    }
    return out;
}

} // namespace

struct GateObject::Kept {
    quint64 Changes = 0; // the count of changes the read began after
    bool Whole = true;   // false: too many companies to keep, read them for each call
    QHash<QString, Stored> Companies;
    GateExceptions::ByCompany Exceptions; // those in force when read
};

GateObject::GateObject(Database &database)
    : m_database(database)
    , m_watch(std::make_unique<ChangeWatch>(database)) {}

GateObject::~GateObject() = default;

std::shared_ptr<const GateObject::Kept> GateObject::KeptRecords() {
    // A PostgreSQL read is a round trip that costs more than the rest of a check many times
    // over. The records are kept as long as nothing has changed them since the read began:
    // this process's writes count before their calls answer, other programs' as the database
    // announces them. Read before the records are, the count can only make a read look older
    // than it is, never newer.
    if (!m_watch->Hearing()) {
        ServerCounters::Add(ServerCounters::Gate::DirectRead);
        return nullptr;
    }
    const quint64 changes = m_database.Writes() + m_watch->Heard();
    {
        std::lock_guard lock(m_keptLock);
        if (m_kept && m_kept->Changes == changes) {
            ServerCounters::Add(m_kept->Whole ? ServerCounters::Gate::KeptHit
                                              : ServerCounters::Gate::DirectRead);
            return m_kept->Whole ? m_kept : nullptr;
        }
    }
    ServerCounters::Add(ServerCounters::Gate::KeptReload);
    auto read = std::make_shared<Kept>();
    read->Changes = changes;
    // Two statements, one transaction: the copy is one moment, records and exceptions alike.
    m_database.Transaction(Database::Access::Read, [&](QSqlDatabase &db) {
        read->Companies = readCompanies(db, nullptr);
        read->Exceptions = GateExceptions::Read(db, GateExceptions::Now(), nullptr);
    });
    if (read->Companies.size() > KeptLimit) {
        read->Companies.clear();
        read->Exceptions.clear();
        read->Whole = false;
    }
    std::lock_guard lock(m_keptLock);
    if (!m_kept || m_kept->Changes <= read->Changes)
        m_kept = read;
    return read->Whole ? read : nullptr;
}

QString GateObject::Name() const {
    return u"Ger09400.Periodo"_s;
}

QStringList GateObject::Methods() const {
    return {QString::fromLatin1(Consulta), QString::fromLatin1(Encerrar),
            QString::fromLatin1(Conferir), QString::fromLatin1(Conceder),
            QString::fromLatin1(Listar),   QString::fromLatin1(Revogar)};
}

MethodClass GateObject::ClassOf(const QString &method) const {
    if (method == QLatin1StringView(Consulta))
        return MethodClass::Gate;
    // Who may see the exceptions may see the history: they are part of what it records.
    if (method == QLatin1StringView(Listar))
        return MethodClass::History;
    // A close tried without closing tells what the desktops already show.
    if (method == QLatin1StringView(Conferir))
        return MethodClass::Read;
    return MethodClass::Write;
}

bool GateObject::Short(const QString &method) const {
    // A few checks, as a system asks before a posting: the kept copy, or a few companies read.
    return method == QLatin1StringView(Consulta);
}

bool GateObject::Hearing() const {
    return m_watch->Hearing();
}

bool GateObject::HasMethod(const QString &method) const {
    for (const char *name : {Consulta, Encerrar, Conferir, Conceder, Listar, Revogar})
        if (method == QLatin1StringView(name))
            return true;
    return false;
}

CallOutcome GateObject::Invoke(const QString &method, const QJsonArray &params) {
    if (method == QLatin1StringView(Consulta))
        return consulta(params);
    if (method == QLatin1StringView(Encerrar))
        return encerrar(params);
    if (method == QLatin1StringView(Conferir))
        return conferirEncerramento(params);
    if (method == QLatin1StringView(Conceder))
        return GateExceptions::Grant(m_database, params);
    if (method == QLatin1StringView(Listar))
        return GateExceptions::List(m_database, params);
    if (method == QLatin1StringView(Revogar))
        return GateExceptions::Revoke(m_database, params);
    CallOutcome outcome;
    outcome.ProtocolError =
        JsonRpc::Error{JsonRpc::MethodNotFound, u"Método desconhecido: %1"_s.arg(method)};
    return outcome;
}

CallOutcome GateObject::consulta(const QJsonArray &params) {
    CallOutcome outcome;
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
        // One answer is one moment of the database: without a kept copy, the records and the
        // exceptions a refused check asks for are read in one transaction, so a close or a grant
        // committed between the two reads cannot be half seen.
        std::shared_ptr<const Kept> kept = codes.isEmpty() ? nullptr : KeptRecords();
        QString now;
        const Caller &caller = CallerContext::Current();
        // Written straight as JSON: a tree of a hundred thousand small arrays would cost several
        // times the rules and the reads.
        QByteArray answers;
        const auto answer = [&](QSqlDatabase *db) {
            QHash<QString, Stored> read;
            if (db && !codes.isEmpty())
                read = readCompanies(*db, &codes);
            const QHash<QString, Stored> &companies = kept ? kept->Companies : read;
            // Exceptions are asked for only by a check the windows refuse: without a kept copy,
            // they are read the first time one does, so that answers the windows allow cost
            // nothing more.
            const GateExceptions::ByCompany *exceptions = kept ? &kept->Exceptions : nullptr;
            GateExceptions::ByCompany readExceptions;
            answers.clear();
            answers.reserve(checks.size() * 128 + 2);
            answers += '[';
            for (const Check &check : checks) {
                PeriodGate::Reading reading;
                reading.Day = check.Day;
                reading.Mod = check.Mod;
                const auto found =
                    check.Company.isEmpty() ? companies.cend() : companies.constFind(check.Company);
                const Stored *stored = found != companies.cend() ? &found.value() : nullptr;
                if (stored) {
                    reading.CompanyKnown = true;
                    reading.HasRecord = stored->HasRecord;
                    reading.AccountingStart = stored->Dates[0].Value;
                    reading.AccountingEnd = stored->Dates[1].Value;
                    reading.Closed = stored->Closed.Value;
                    if (check.Mod) {
                        const auto at = size_t(2 + 2 * (check.Mod - PeriodGate::Modules().data()));
                        reading.WindowStart = stored->Dates[at].Value;
                        reading.WindowEnd = stored->Dates[at + 1].Value;
                    }
                }
                if (answers.size() > 1)
                    answers += ',';
                const PeriodGate::Rule *rule = PeriodGate::Decide(reading).Applied;
                if (rule > grantRule() && rule->Refuses && stored && check.Day) {
                    if (now.isEmpty())
                        now = GateExceptions::Now();
                    if (!exceptions && db) {
                        readExceptions = GateExceptions::Read(
                            *db, now, codes.size() <= ByCodeLimit ? &codes : nullptr);
                        exceptions = &readExceptions;
                    }
                    if (const GateExceptions::Exception *granted =
                            exceptions ? GateExceptions::FindFor(*exceptions, check.Company,
                                                                 check.Mod, *check.Day, now, caller)
                                       : nullptr) {
                        reading.Excepted = true;
                        appendGrant(answers, *PeriodGate::Decide(reading).Applied, check.Mod,
                                    *granted);
                        continue;
                    }
                }
                appendAnswer(answers, rule, check.Mod, stored);
            }
        };
        if (kept || codes.isEmpty())
            answer(nullptr);
        else
            m_database.Transaction(Database::Access::Read, [&](QSqlDatabase &db) { answer(&db); });
        answers += ']';
        return TResultEnvelope::SuccessRaw(std::move(answers));
    });
    return outcome;
}

namespace {

[[noreturn]] void refuse(const QString &code, const QString &message) {
    throw CallFailure{code, message};
}

struct Closing {
    QString Code;
    QDate Previous;
    QHash<QString, QDate> Starts;
};

// The listed companies (every one for "T") with their close and their periods' first days.
QVector<Closing> readClosings(QSqlDatabase &db, const CompanyList &list) {
    QStringList starts, marks;
    for (const QString &column : ClosedSpan::StartColumns())
        starts.append(u"C."_s + column);
    for (qsizetype i = 0; i < list.Codes().size() && !list.All(); ++i)
        marks.append(u"?"_s);
    QSqlQuery &q = Database::Statement(
        db, u"SELECT E.CDEMPRESA, N.DTENCERRAMENTO, %1 FROM EMPRESA E LEFT JOIN CONTOPECTBL C "
            "ON C.CDEMPRESA = E.CDEMPRESA LEFT JOIN ENCERRAMENTO N ON N.CDEMPRESA = E.CDEMPRESA"
            "%2 ORDER BY E.CDEMPRESA"_s.arg(
                starts.join(u", "_s),
                list.All() ? QString() : u" WHERE E.CDEMPRESA IN (%1)"_s.arg(marks.join(u", "_s))));
    for (qsizetype i = 0; i < list.Codes().size() && !list.All(); ++i)
        q.bindValue(int(i), list.Codes().at(i));
    Database::Exec(q);
    QVector<Closing> out;
    QSet<QString> found;
    while (Database::Next(q)) {
        Closing closing;
        closing.Code = q.value(0).toString();
        closing.Previous = ParamRecord::StoredDate(q.value(1));
        for (qsizetype i = 0; i < ClosedSpan::StartColumns().size(); ++i)
            closing.Starts.insert(ClosedSpan::StartColumns().at(i),
                                  ParamRecord::StoredDate(q.value(int(2 + i))));
        found.insert(closing.Code);
        out.append(closing);
    }
    q.finish();
    for (const QString &code : list.Codes())
        if (!found.contains(code))
            refuse(u"not_found"_s, u"Empresa '%1' não cadastrada. Nada foi encerrado."_s.arg(code));
    if (out.isEmpty())
        refuse(u"not_found"_s, u"Nenhuma empresa cadastrada para encerrar."_s);
    return out;
}

} // namespace

namespace {

// The companies a close must leave alone, named on their own: past this many, only counted.
constexpr qsizetype ListedBlockers = 100;

// A close's list and day, as Encerrar and its dry run read them; the refusal when they are bad.
struct CloseRequest {
    CompanyList List;
    QDate Day;
};

CloseRequest readCloseRequest(const QJsonArray &params) {
    CloseRequest out;
    QString error;
    if (!CompanyList::Parse(params.at(0).toString(), out.List, &error))
        refuse(u"invalid_argument"_s, error);
    const auto day = PeriodGate::ParseDay(params.at(1).toString().trimmed());
    out.Day = day ? DateTimeUtil::ToQDate(*day) : QDate();
    if (!day || *day == 0 || !out.Day.isValid() || out.Day.year() > 9999)
        refuse(u"invalid_argument"_s,
               u"Data de encerramento inválida: use dd/mm/aaaa ou aaaa-mm-dd."_s);
    return out;
}

// Every company judged before any is written: one refusal and nothing moves. Every company
// whose periods start on or before the day is named, so one answer tells all there is to do.
void judgeClosings(const QVector<Closing> &closings, QDate closeDay) {
    const QString shownDay = closeDay.toString(u"dd/MM/yyyy"_s);
    for (const Closing &c : closings) {
        if (c.Previous.isValid() && closeDay <= c.Previous)
            refuse(u"refused"_s,
                   u"A empresa '%1' já está encerrada definitivamente até %2: o encerramento só "
                   "avança (data informada %3). Nada foi encerrado."_s.arg(
                       c.Code, c.Previous.toString(u"dd/MM/yyyy"_s), shownDay));
    }
    QStringList blockers;
    qsizetype blocked = 0;
    QString first, firstPeriods;
    for (const Closing &c : closings) {
        const QStringList open = ClosedSpan::OpenPeriods(c.Starts, closeDay);
        if (open.isEmpty())
            continue;
        if (blocked++ == 0) {
            first = c.Code;
            firstPeriods = open.join(u", "_s);
        }
        if (blockers.size() < ListedBlockers)
            blockers.append(u"'%1' (%2)"_s.arg(c.Code, open.join(u", "_s)));
    }
    if (blocked == 1)
        refuse(u"refused"_s, u"A empresa '%1' tem períodos que começam em %2 ou antes: %3. "
                             u"Avance-os antes de encerrar (GER09400 ou GER09410). Nada foi "
                             "encerrado."_s.arg(first, shownDay, firstPeriods));
    if (blocked > 1)
        refuse(u"refused"_s,
               u"%1 empresas têm períodos que começam em %2 ou antes: %3%4. Avance-os antes de "
               "encerrar (GER09400 ou GER09410). Nada foi encerrado."_s.arg(
                   QString::number(blocked), shownDay, blockers.join(u"; "_s),
                   blocked > blockers.size()
                       ? u"; e mais %1 empresa(s)"_s.arg(blocked - blockers.size())
                       : QString()));
}

} // namespace

CallOutcome GateObject::encerrar(const QJsonArray &params) {
    using MethodCall::Arg;
    CallOutcome outcome;
    if (auto fault =
            MethodCall::CheckParams(u"Encerrar"_s, params, {Arg::Text, Arg::Text, Arg::Text})) {
        outcome.ProtocolError = *fault;
        return outcome;
    }
    outcome.Company = TextCut::Left(params.at(0).toString(), 64);
    outcome.Result = MethodCall::Guard([&] {
        const CloseRequest request = readCloseRequest(params);
        const QDate closeDay = request.Day;
        const QString reason = params.at(2).toString().trimmed();
        if (reason.isEmpty())
            refuse(u"invalid_argument"_s, u"Informe o motivo do encerramento."_s);
        if (reason.size() > MaxReason)
            refuse(
                u"invalid_argument"_s,
                u"Motivo do encerramento longo demais: no máximo %1 caracteres."_s.arg(MaxReason));
        if (MethodCall::HasControlCharacter(reason))
            refuse(u"invalid_argument"_s,
                   u"Motivo do encerramento inválido: contém caracteres de controle."_s);
        const QString closeIso = closeDay.toString(Qt::ISODate);
        QString who = TextCut::Left(CallerContext::Current().Operator, 60);
        if (who.isEmpty())
            who = u"anônimo"_s;
        int closed = 0;
        m_database.Transaction(
            Database::Access::Write,
            [&](QSqlDatabase &db) {
                closed = 0; // a retried transaction counts again from nothing
                const QVector<Closing> closings = readClosings(db, request.List);
                judgeClosings(closings, closeDay);
                ChangeHistory history(u"Encerrar"_s);
                const QVariant now(QDateTime::currentDateTimeUtc());
                for (const Closing &c : closings) {
                    QSqlQuery &write = Database::Statement(
                        db,
                        c.Previous.isValid()
                            ? u"UPDATE ENCERRAMENTO SET DTENCERRAMENTO = ?, DSMOTIVO = ?, "
                              "NMOPERADOR = ?, DTREGISTRO = ? WHERE CDEMPRESA = ?"_s
                            : u"INSERT INTO ENCERRAMENTO (DTENCERRAMENTO, DSMOTIVO, NMOPERADOR, "
                              "DTREGISTRO, CDEMPRESA) VALUES (?, ?, ?, ?, ?)"_s);
                    write.bindValue(0, closeIso);
                    write.bindValue(1, reason);
                    write.bindValue(2, who);
                    write.bindValue(3, now);
                    write.bindValue(4, c.Code);
                    Database::Exec(write);
                    history.AddFinalClose(
                        c.Code, c.Previous.isValid() ? c.Previous.toString(Qt::ISODate) : QString(),
                        closeIso, reason);
                    ++closed;
                }
                history.Write(db);
            },
            ChangeHistory::Turn());
        return TResultEnvelope::Success(QJsonValue(closed), QJsonArray{request.List.Normalised()});
    });
    return outcome;
}

// What Encerrar would answer, without closing: the same refusals, or how many companies it
// would close.
CallOutcome GateObject::conferirEncerramento(const QJsonArray &params) {
    using MethodCall::Arg;
    CallOutcome outcome;
    if (auto fault = MethodCall::CheckParams(u"ConferirEncerramento"_s, params,
                                             {Arg::Text, Arg::Text})) {
        outcome.ProtocolError = *fault;
        return outcome;
    }
    outcome.Company = TextCut::Left(params.at(0).toString(), 64);
    outcome.Result = MethodCall::Guard([&] {
        const CloseRequest request = readCloseRequest(params);
        qsizetype count = 0;
        m_database.Transaction(Database::Access::Read, [&](QSqlDatabase &db) {
            const QVector<Closing> closings = readClosings(db, request.List);
            judgeClosings(closings, request.Day);
            count = closings.size();
        });
        return TResultEnvelope::Success(QJsonValue(qint64(count)),
                                        QJsonArray{request.List.Normalised()});
    });
    return outcome;
}
