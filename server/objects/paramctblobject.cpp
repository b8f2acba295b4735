#include "paramctblobject.h"

#include "changehistory.h"
#include "closedspan.h"
#include "companylist.h"
#include "database.h"
#include "datetime.h"
#include "methodcall.h"
#include "packet.h"
#include "packetwriter.h"
#include "paramrecord.h"
#include "rules/catalogues.h"
#include "rules/confirmrules.h"
#include "rules/textcut.h"
#include "serverlog.h"
#include "sqlitereader.h"
#include "storedcheck.h"

#include <QDate>
#include <QDateTime>
#include <QSet>
#include <QSqlError>
#include <QSqlRecord>

#include <atomic>
#include <optional>

using namespace Qt::StringLiterals;
using MethodCall::Arg;
using ParamRecord::Column;

namespace {

// How many companies an "inconsistency" refusal names before it stops listing.
constexpr int ListedInconsistencies = 5;

[[noreturn]] void fail(const QString &code, const QString &message) {
    throw CallFailure{code, message};
}

QString requireCode(const QString &text) {
    QString code, error;
    if (!CompanyList::ParseCode(text, code, &error))
        fail(u"invalid_argument"_s, error);
    return code;
}

QDate requireIsoDate(const QString &text, const QString &what) {
    const auto value = DateTimeUtil::FromIso(text);
    if (!value)
        fail(u"invalid_argument"_s, u"Data inválida em %1: '%2'."_s.arg(what, text));
    return DateTimeUtil::ToQDate(DateTimeUtil::Trunc(*value));
}

QString iso(QDate date) {
    return date.toString(Qt::ISODate);
}

QString forUpdate(const Database &database) {
    return database.Kind() == Database::Dialect::Postgres ? u" FOR UPDATE"_s : QString();
}

bool companyExists(QSqlDatabase &db, const QString &code) {
    QSqlQuery &q = Database::Statement(db, u"SELECT 1 FROM EMPRESA WHERE CDEMPRESA = ?"_s);
    q.addBindValue(code);
    Database::Exec(q);
    return Database::Next(q);
}

void requireCompany(QSqlDatabase &db, const QString &code) {
    if (!companyExists(db, code))
        fail(u"not_found"_s, u"Empresa '%1' não cadastrada."_s.arg(code));
}

// The companies of a list as a condition on `column`, and the values it binds; empty for "T".
struct Scope {
    QString Condition;
    QVariantList Binds;
};

Scope scopeOf(const CompanyList &list, const QString &column) {
    if (list.All())
        return {};
    Scope scope;
    QStringList marks;
    marks.reserve(list.Codes().size());
    for (const QString &code : list.Codes()) {
        marks.append(u"?"_s);
        scope.Binds.append(code);
    }
    scope.Condition = u"%1 IN (%2)"_s.arg(column, marks.join(u", "_s));
    return scope;
}

CompanyList requireList(const QString &text) {
    CompanyList list;
    QString error;
    if (!CompanyList::Parse(text, list, &error))
        fail(u"invalid_argument"_s, error);
    return list;
}

struct Inconsistency {
    QString Kind;
    QString Code;
    QString Text;
};

// The listed companies (all of EMPRESA for "T"), in code order, and with `periodEnd` valid
// what stands in the way of a new accounting period ending then:
// kind "1": entries still waiting for the fiscal recalculation (from the earliest one on);
// kind "2": a balance dated after the end of the new accounting period.
// One statement for the whole list; each company's questions are index seeks. A listed code
// that EMPRESA lacks is refused, the first one in code order.
QStringList checkCompanies(QSqlDatabase &db, const CompanyList &list, QDate periodEnd,
                           QVector<Inconsistency> *found) {
    const Scope scope = scopeOf(list, u"E.CDEMPRESA"_s);
    const bool checks = periodEnd.isValid();
    QSqlQuery &q = Database::Statement(
        db, u"SELECT E.CDEMPRESA%1 FROM EMPRESA E%2 ORDER BY E.CDEMPRESA"_s.arg(
                checks ? u", (SELECT MIN(L.DTLANC) FROM LANCCONT L WHERE L.CDEMPRESA = "
                         "E.CDEMPRESA AND L.IDRECALCFISC = 'S'), (SELECT MAX(S.DTSALDEMPR) "
                         "FROM SALDEMPR S WHERE S.CDEMPRESA = E.CDEMPRESA)"_s
                       : QString(),
                scope.Condition.isEmpty() ? QString() : u" WHERE "_s + scope.Condition));
    for (int i = 0; i < scope.Binds.size(); ++i)
        q.bindValue(i, scope.Binds.at(i));
    Database::Exec(q);
    QStringList codes;
    while (Database::Next(q)) {
        const QString code = q.value(0).toString();
        // A code planted by hand that no client can read: applying over it would hand every
        // desktop a record it fails on.
        const QString fault = StoredCheck::CodeFault(code);
        if (!fault.isEmpty())
            fail(u"inconsistency"_s,
                 u"A empresa \"%1\" tem código inválido (%2) e não pode ser alterada; corrija-a "
                 "no banco (ger-server check lista os registros)."_s.arg(
                     ServerLog::Escape(code, 20), fault));
        codes.append(code);
        if (!checks)
            continue;
        const QDate first = ParamRecord::StoredDate(q.value(1));
        if (first.isValid())
            found->append({u"1"_s, code, first.toString(u"dd/MM/yyyy"_s)});
        const QDate latest = ParamRecord::StoredDate(q.value(2));
        if (latest.isValid() && latest > periodEnd)
            found->append({u"2"_s, code, QString()});
    }
    if (!list.All() && codes.size() != list.Codes().size()) {
        // The database may order codes by another collation than the list: look each one up.
        const QSet<QString> known(codes.cbegin(), codes.cend());
        for (const QString &code : list.Codes())
            if (!known.contains(code))
                fail(u"not_found"_s, u"Empresa '%1' não cadastrada."_s.arg(code));
    }
    return codes;
}

// --- change logs ----------------------------------------------------------------------------

TChangeLog requireChangeLog(const QJsonValue &json) {
    TChangeLog log;
    QString error;
    if (!Packet::FromJson(json, log, &error))
        fail(u"invalid_argument"_s, error);
    return log;
}

// The log's fields, each resolved to its record column; unknown names or kinds are refused.
QVector<const Column *> resolveLogFields(const TChangeLog &log) {
    QVector<const Column *> columns;
    for (const TFieldDef &def : log.Fields) {
        const Column *column = ParamRecord::Find(def.Name);
        if (!column)
            fail(u"invalid_argument"_s, u"Campo desconhecido: %1."_s.arg(def.Name));
        const TFieldType expected =
            column->ColumnKind == ParamRecord::Kind::Date ? TFieldType::Date : TFieldType::String;
        if (def.DataType != expected)
            fail(u"invalid_argument"_s,
                 u"Campo %1 com tipo %2; esperado %3."_s.arg(
                     def.Name, Packet::TypeName(def.DataType), Packet::TypeName(expected)));
        columns.append(column);
    }
    return columns;
}

QVariant storageOf(const Column &column, const QVariant &value) {
    bool ok = true;
    QString error;
    const QVariant stored = ParamRecord::ToStorage(column, value, &ok, &error);
    if (!ok)
        fail(u"invalid_argument"_s, error);
    return stored;
}

// A stored value brought to the same form ToStorage produces, so the two compare equal.
QVariant normaliseStored(const Column &column, const QVariant &value) {
    if (value.isNull())
        return {};
    if (column.ColumnKind == ParamRecord::Kind::Date) {
        const QDate d = ParamRecord::StoredDate(value);
        return d.isValid() ? QVariant(iso(d)) : QVariant();
    }
    const QString text = value.toString();
    return text.isEmpty() ? QVariant() : QVariant(text);
}

QString keyOf(const TChangeLog &log, const TRowValues &row) {
    const int index = log.FieldIndex(u"CDEMPRESA"_s);
    if (index < 0)
        fail(u"invalid_argument"_s, u"O pacote não contém o campo CDEMPRESA."_s);
    if (index >= row.size() || row.at(index).isNull())
        fail(u"invalid_argument"_s, u"Código da empresa não informado."_s);
    return requireCode(row.at(index).toString());
}

void requireRowSize(const TChangeLog &log, const TRowValues &row) {
    if (row.size() != log.Fields.size())
        fail(u"invalid_argument"_s,
             u"Linha com %1 valores para %2 campos."_s.arg(row.size()).arg(log.Fields.size()));
}

// Refuses the change when the stored row is gone or differs from what the client read.
void checkUnchanged(QSqlDatabase &db, const Database &database, const TChangeLog &log,
                    const QVector<const Column *> &columns, const TRowValues &original,
                    const QString &code) {
    QStringList names;
    for (const Column *c : columns) {
        if (qstrcmp(c->Name, "NMEMPRESA") != 0)
            names.append(QString::fromLatin1(c->Name));
    }
    QSqlQuery &q =
        Database::Statement(db, u"SELECT %1 FROM CONTOPECTBL WHERE CDEMPRESA = ?%2"_s.arg(
                                    names.join(u", "_s), forUpdate(database)));
    q.addBindValue(code);
    Database::Exec(q);
    if (!Database::Next(q))
        fail(u"conflict"_s,
             u"O parâmetro contábil da empresa '%1' foi excluído por outro usuário. Atualize "
             "os dados e tente novamente."_s.arg(code));
    int stored = 0;
    for (int i = 0; i < columns.size(); ++i) {
        const Column &column = *columns.at(i);
        if (qstrcmp(column.Name, "NMEMPRESA") == 0)
            continue;
        const QVariant now = normaliseStored(column, q.value(stored++));
        const QVariant before = storageOf(column, original.at(i));
        if (now != before)
            fail(u"conflict"_s,
                 u"O parâmetro contábil da empresa '%1' foi alterado por outro usuário. "
                 "Atualize os dados e tente novamente."_s.arg(code));
    }
    Q_UNUSED(log);
}

// The record as stored after a change must be one the parameter screen would have saved: every
// flag "S" or "N", the balance kind given, the periods passing the screen's confirm rules in their
// order, and no balance after the accounting period's last day. Clients other than the screen
// (scripts, integrations) are held to the same line. A refusal carries the screen's own message.
// REQUIRES: in the transaction that made the change
// `after`, when given, takes the record as read here for the history (empty when none).
void requireSavableRecord(QSqlDatabase &db, const QString &code,
                          std::optional<ChangeHistory::Snapshot> *after = nullptr) {
    const QVector<Column> &stored = ParamRecord::StoredColumns();
    QStringList names;
    for (const Column &c : stored)
        names.append(QString::fromLatin1(c.Name));
    QSqlQuery &row = Database::Statement(
        db, u"SELECT %1 FROM CONTOPECTBL WHERE CDEMPRESA = ?"_s.arg(names.join(u", "_s)));
    row.addBindValue(code);
    Database::Exec(row);
    const bool found = Database::Next(row);
    if (after && ChangeHistory::Recording())
        *after = found ? ChangeHistory::FromRow(row) : ChangeHistory::Snapshot();
    if (!found)
        return;
    // The close outranks the screen's rules: no other correction could make the record savable.
    ClosedSpan::RequireRecordsAfter(db, u"C.CDEMPRESA = ?"_s, {code});
    QHash<QString, QVariant> values;
    for (int i = 0; i < stored.size(); ++i) {
        const Column &c = stored.at(i);
        const QVariant value = normaliseStored(c, row.value(i));
        values.insert(QString::fromLatin1(c.Name), value);
        if (c.ColumnKind == ParamRecord::Kind::Flag && value.toString() != u"S"_s &&
            value.toString() != u"N"_s)
            fail(u"invalid_argument"_s, u"O campo %1 da empresa '%2' deve ser 'S' ou 'N'."_s.arg(
                                            QLatin1StringView(c.Name), code));
        if (c.ColumnKind == ParamRecord::Kind::Code && value.isNull())
            fail(u"invalid_argument"_s, u"O campo %1 da empresa '%2' deve ser informado."_s.arg(
                                            QLatin1StringView(c.Name), code));
    }

    using ParamRules::Slot;
    static const std::pair<Slot, const char *> dates[] = {
        {Slot::IniCont, "DTINICCONT"},       {Slot::FinCont, "DTFINACONT"},
        {Slot::IniLanc, "DTINICLANC"},       {Slot::FinLanc, "DTFINALANC"},
        {Slot::IniDFE, "DTINIINTCONTDFE"},   {Slot::FinDFE, "DTFININTCONTDFE"},
        {Slot::IniDFS, "DTINIINTCONTDFS"},   {Slot::FinDFS, "DTFININTCONTDFS"},
        {Slot::IniFIN, "DTINICCTBL"},        {Slot::FimFIN, "DTFINACCTBL"},
        {Slot::IniGPA, "DTINIINTCONTGPA"},   {Slot::FinGPA, "DTFININTCONTGPA"},
        {Slot::IniFIS, "DTINIINTCONTFIS"},   {Slot::FinFIS, "DTFININTCONTFIS"},
        {Slot::IniVEXT, "DTINIINTCONTVEXT"}, {Slot::FinVEXT, "DTFININTCONTVEXT"},
    };
    ParamRules::PeriodReadings readings;
    for (const auto &[slot, column] : dates) {
        // The date value 0 is how the screens say "no date": as empty here as on the screen.
        QDate date = ParamRecord::StoredDate(values.value(QString::fromLatin1(column)));
        if (date == DateTimeUtil::ToQDate(0))
            date = QDate();
        readings.Set(slot, !date.isValid(),
                     date.isValid() ? DateTimeUtil::FromQDate(date) : TDateTime(0));
    }
    if (const ParamRules::ConfirmRule *broken =
            ParamRules::FirstBroken(readings, ParamRules::Checker::Server))
        fail(u"refused"_s,
             u"Empresa '%1': %2"_s.arg(code, ParamContabMessage(QStringView(broken->Key))));

    QSqlQuery &balance =
        Database::Statement(db, u"SELECT MAX(DTSALDEMPR) FROM SALDEMPR WHERE CDEMPRESA = ?"_s);
    balance.addBindValue(code);
    Database::Exec(balance);
    const QDate latest =
        Database::Next(balance) ? ParamRecord::StoredDate(balance.value(0)) : QDate();
    if (latest.isValid() && DateTimeUtil::FromQDate(latest) > readings.L(Slot::FinCont))
        fail(u"refused"_s, u"Empresa '%1': %2"_s.arg(code, ParamContabMessage(u"EXCONTABPER")));
}

// `after` takes the record as the change left it, when the change read it anyway.
void applyContOpeChange(QSqlDatabase &db, const Database &database, const TChangeLog &log,
                        const QVector<const Column *> &columns, const TChange &change,
                        std::optional<ChangeHistory::Snapshot> *after) {
    switch (change.Op) {
    case TChangeOp::Insert: {
        requireRowSize(log, change.Values);
        const QString code = keyOf(log, change.Values);
        requireCompany(db, code);
        QSqlQuery &exists =
            Database::Statement(db, u"SELECT 1 FROM CONTOPECTBL WHERE CDEMPRESA = ?"_s);
        exists.addBindValue(code);
        Database::Exec(exists);
        if (Database::Next(exists))
            fail(u"conflict"_s,
                 u"Já existe parâmetro contábil cadastrado para a empresa '%1'."_s.arg(code));
        QStringList names, marks;
        QVariantList values;
        for (int i = 0; i < columns.size(); ++i) {
            const Column &column = *columns.at(i);
            if (qstrcmp(column.Name, "NMEMPRESA") == 0)
                continue;
            names.append(QString::fromLatin1(column.Name));
            marks.append(u"?"_s);
            values.append(qstrcmp(column.Name, "CDEMPRESA") == 0
                              ? QVariant(code)
                              : storageOf(column, change.Values.at(i)));
        }
        QSqlQuery &insert =
            Database::Statement(db, u"INSERT INTO CONTOPECTBL (%1) VALUES (%2)"_s.arg(
                                        names.join(u", "_s), marks.join(u", "_s)));
        for (const QVariant &v : values)
            insert.addBindValue(v);
        Database::Exec(insert);
        requireSavableRecord(db, code, after);
        return;
    }
    case TChangeOp::Update: {
        requireRowSize(log, change.Original);
        requireRowSize(log, change.Values);
        const QString code = keyOf(log, change.Original);
        if (keyOf(log, change.Values) != code)
            fail(u"invalid_argument"_s,
                 u"O código da empresa de um parâmetro contábil não pode ser alterado."_s);
        checkUnchanged(db, database, log, columns, change.Original, code);
        QStringList sets;
        QVariantList values;
        for (int i = 0; i < columns.size(); ++i) {
            const Column &column = *columns.at(i);
            if (qstrcmp(column.Name, "NMEMPRESA") == 0 || qstrcmp(column.Name, "CDEMPRESA") == 0)
                continue;
            sets.append(u"%1 = ?"_s.arg(QLatin1StringView(column.Name)));
            values.append(storageOf(column, change.Values.at(i)));
        }
        if (sets.isEmpty())
            return;
        QSqlQuery &update = Database::Statement(
            db, u"UPDATE CONTOPECTBL SET %1 WHERE CDEMPRESA = ?"_s.arg(sets.join(u", "_s)));
        for (const QVariant &v : values)
            update.addBindValue(v);
        update.addBindValue(code);
        Database::Exec(update);
        requireSavableRecord(db, code, after);
        return;
    }
    case TChangeOp::Delete: {
        requireRowSize(log, change.Original);
        const QString code = keyOf(log, change.Original);
        checkUnchanged(db, database, log, columns, change.Original, code);
        QSqlQuery &entries =
            Database::Statement(db, u"SELECT 1 FROM LANCCONT WHERE CDEMPRESA = ? LIMIT 1"_s);
        entries.addBindValue(code);
        Database::Exec(entries);
        if (Database::Next(entries))
            fail(u"refused"_s,
                 u"Existem lançamentos contábeis cadastrados para empresa informada."_s);
        QSqlQuery &del = Database::Statement(db, u"DELETE FROM CONTOPECTBL WHERE CDEMPRESA = ?"_s);
        del.addBindValue(code);
        Database::Exec(del);
        if (after)
            *after = ChangeHistory::Snapshot(); // no record any more
        return;
    }
    }
}

QVariant paramGeralValue(const QVariant &value) {
    static const Column column{"IDCONTAJUDTCOMP", ParamRecord::Kind::Flag, 1};
    return storageOf(column, value);
}

void applyParamGeralChange(QSqlDatabase &db, const Database &database, const TChange &change) {
    auto readStored = [&](bool *exists) {
        QSqlQuery &q = Database::Statement(
            db, u"SELECT IDCONTAJUDTCOMP FROM PARAMGERAL WHERE IDPARAMGERAL = 1%1"_s.arg(
                    forUpdate(database)));
        Database::Exec(q);
        *exists = Database::Next(q);
        return *exists
                   ? normaliseStored({"IDCONTAJUDTCOMP", ParamRecord::Kind::Flag, 1}, q.value(0))
                   : QVariant();
    };
    const QString changed = u"O parâmetro geral foi alterado por outro usuário. Atualize os "
                            "dados e tente novamente."_s;
    bool exists = false;
    if (change.Op == TChangeOp::Insert) {
        readStored(&exists);
        if (exists)
            fail(u"conflict"_s, u"O parâmetro geral já está cadastrado."_s);
        QSqlQuery &q = Database::Statement(
            db, u"INSERT INTO PARAMGERAL (IDPARAMGERAL, IDCONTAJUDTCOMP) VALUES (1, ?)"_s);
        q.addBindValue(paramGeralValue(change.Values.value(0)));
        Database::Exec(q);
        return;
    }
    const QVariant stored = readStored(&exists);
    if (!exists || stored != paramGeralValue(change.Original.value(0)))
        fail(u"conflict"_s, changed);
    QSqlQuery &q = Database::Statement(
        db, change.Op == TChangeOp::Update
                ? u"UPDATE PARAMGERAL SET IDCONTAJUDTCOMP = ? WHERE IDPARAMGERAL = 1"_s
                : u"DELETE FROM PARAMGERAL WHERE IDPARAMGERAL = 1"_s);
    if (change.Op == TChangeOp::Update)
        q.addBindValue(paramGeralValue(change.Values.value(0)));
    Database::Exec(q);
}

TFieldDef stringField(const QString &name, int size) {
    return {name, TFieldType::String, size, false};
}

// --- bulk request ---------------------------------------------------------------------------

struct BulkRequest {
    QHash<QString, QVariant> Values; // request field -> packet value
};

BulkRequest requireBulkRequest(const QJsonValue &json) {
    TTablePacket packet;
    QString error;
    if (!Packet::FromJson(json, packet, &error))
        fail(u"invalid_argument"_s, error);
    const TFieldDefs expected = ParamRecord::RequestPacketFields();
    if (packet.Fields.size() != expected.size())
        fail(u"invalid_argument"_s,
             u"A requisição deve ter %1 campos, recebeu %2."_s.arg(expected.size())
                 .arg(packet.Fields.size()));
    if (packet.Rows.size() != 1)
        fail(u"invalid_argument"_s,
             u"A requisição deve ter exatamente uma linha, recebeu %1."_s.arg(packet.Rows.size()));
    BulkRequest request;
    for (const TFieldDef &def : expected) {
        const int index = packet.FieldIndex(def.Name);
        if (index < 0)
            fail(u"invalid_argument"_s, u"Campo %1 ausente na requisição."_s.arg(def.Name));
        if (packet.Fields.at(index).DataType != def.DataType)
            fail(u"invalid_argument"_s,
                 u"Campo %1 da requisição com tipo %2; esperado %3."_s.arg(
                     def.Name, Packet::TypeName(packet.Fields.at(index).DataType),
                     Packet::TypeName(def.DataType)));
        request.Values.insert(def.Name, packet.Rows.at(0).value(index));
    }
    return request;
}

// The record columns a bulk request writes, in storage form.
QHash<QString, QVariant> bulkColumns(const BulkRequest &request, bool periods, bool controls) {
    QHash<QString, QVariant> out;
    if (periods) {
        for (const ParamRecord::RequestMapping &m : ParamRecord::PeriodMapping()) {
            const QString field = QString::fromLatin1(m.RequestField);
            const QString column = QString::fromLatin1(m.RecordColumn);
            const QVariant value = request.Values.value(field);
            const bool empty = value.isNull() || value.toDouble() == 0;
            if (empty && !ParamRecord::IsOptionalDate(column))
                fail(u"invalid_argument"_s, u"Data não informada em %1."_s.arg(field));
            out.insert(column, storageOf(*ParamRecord::Find(column), value));
        }
        // Pairs are start then end; an end before its start is refused.
        const auto &periodMap = ParamRecord::PeriodMapping();
        for (int i = 0; i + 1 < periodMap.size(); i += 2) {
            const QVariant start = out.value(QString::fromLatin1(periodMap.at(i).RecordColumn));
            const QVariant end = out.value(QString::fromLatin1(periodMap.at(i + 1).RecordColumn));
            if (!start.isNull() && !end.isNull() && end.toString() < start.toString())
                fail(u"invalid_argument"_s,
                     u"Data final deve ser maior ou igual à data inicial (%1)."_s.arg(
                         QString::fromLatin1(periodMap.at(i + 1).RequestField)));
        }
        // The report period always follows the accounting period.
        out.insert(u"DTINICRELA"_s, out.value(u"DTINICCONT"_s));
        out.insert(u"DTFINARELA"_s, out.value(u"DTFINACONT"_s));
    }
    if (controls) {
        for (const ParamRecord::RequestMapping &m : ParamRecord::ControlMapping()) {
            const QString field = QString::fromLatin1(m.RequestField);
            const QVariant value = request.Values.value(field);
            if (value.isNull() || (value.toString() != u"S"_s && value.toString() != u"N"_s))
                fail(u"invalid_argument"_s,
                     u"Valor inválido em %1: use \"S\" ou \"N\"."_s.arg(field));
            out.insert(QString::fromLatin1(m.RecordColumn), value.toString());
        }
    }
    return out;
}

// A complete new record: the request's columns over a new record's starting values.
QHash<QString, QVariant> newRecord(const QHash<QString, QVariant> &fromRequest) {
    QHash<QString, QVariant> record;
    const QString today = iso(QDate::currentDate());
    for (const Column &column : ParamRecord::StoredColumns()) {
        const QString name = QString::fromLatin1(column.Name);
        if (name == u"CDEMPRESA"_s)
            continue;
        if (column.ColumnKind == ParamRecord::Kind::Date)
            record.insert(name, today);
        else
            record.insert(name, ParamRecord::StartingValue(name));
    }
    for (auto it = fromRequest.begin(); it != fromRequest.end(); ++it)
        record.insert(it.key(), it.value());
    return record;
}

// Two statements for the whole list: the records the companies have get the request's columns,
// and the companies without one get a new record (`newRecord` of the same columns).
void writeBulk(QSqlDatabase &db, Database::Dialect dialect, const CompanyList &list,
               const QHash<QString, QVariant> &columns) {
    QStringList updateNames = columns.keys();
    updateNames.sort();
    QStringList sets;
    for (const QString &name : std::as_const(updateNames))
        sets.append(name + u" = ?"_s);
    const Scope records = scopeOf(list, u"CDEMPRESA"_s);
    QSqlQuery &update = Database::Statement(
        db, u"UPDATE CONTOPECTBL SET %1%2"_s.arg(
                sets.join(u", "_s),
                records.Condition.isEmpty() ? QString() : u" WHERE "_s + records.Condition));
    int i = 0;
    for (const QString &name : std::as_const(updateNames))
        update.bindValue(i++, columns.value(name));
    for (const QVariant &code : records.Binds)
        update.bindValue(i++, code);
    Database::Exec(update);

    const QHash<QString, QVariant> created = newRecord(columns);
    QStringList insertNames = created.keys();
    insertNames.sort();
    // PostgreSQL cannot tell a parameter's type from a select list: dates say theirs.
    QStringList values;
    for (const QString &name : std::as_const(insertNames)) {
        const bool date = dialect == Database::Dialect::Postgres && name.startsWith(u"DT"_s);
        values.append(date ? u"CAST(? AS DATE)"_s : u"?"_s);
    }
    const Scope companies = scopeOf(list, u"E.CDEMPRESA"_s);
    QSqlQuery &insert = Database::Statement(
        db,
        u"INSERT INTO CONTOPECTBL (CDEMPRESA, %1) SELECT E.CDEMPRESA, %2 FROM EMPRESA E "
        "WHERE NOT EXISTS (SELECT 1 FROM CONTOPECTBL C WHERE C.CDEMPRESA = E.CDEMPRESA)%3"_s.arg(
            insertNames.join(u", "_s), values.join(u", "_s),
            companies.Condition.isEmpty() ? QString() : u" AND "_s + companies.Condition));
    i = 0;
    for (const QString &name : std::as_const(insertNames))
        insert.bindValue(i++, created.value(name));
    for (const QVariant &code : companies.Binds)
        insert.bindValue(i++, code);
    Database::Exec(insert);
}

bool requireSwitch(const QString &value, const QString &what) {
    if (value != u"S"_s && value != u"N"_s)
        fail(u"invalid_argument"_s, u"%1 deve ser \"S\" ou \"N\"."_s.arg(what));
    return value == u"S"_s;
}

} // namespace

ParamCtblObject::ParamCtblObject(Database &database)
    : m_database(database) {
    m_methods = {
        {u"GetContOpe"_s,
         [this](const QJsonArray &p) {
             return getContOpe(p);
         }},
        {u"SetContOpe"_s,
         [this](const QJsonArray &p) {
             return setContOpe(p);
         }},
        {u"SetParamGeral"_s,
         [this](const QJsonArray &p) {
             return setParamGeral(p);
         }},
        {u"GetDataSaldEmpr"_s,
         [this](const QJsonArray &p) {
             return getDataSaldEmpr(p);
         }},
        {u"GetPescLanc"_s,
         [this](const QJsonArray &p) {
             return getPescLanc(p);
         }},
        {u"getLancSemEvolucao"_s,
         [this](const QJsonArray &p) {
             return getLancSemEvolucao(p);
         }},
        {u"setUsuarioFechamentoPeriodo"_s,
         [this](const QJsonArray &p) {
             return setUsuarioFechamentoPeriodo(p);
         }},
        {u"getErrosCadAuto"_s,
         [this](const QJsonArray &p) {
             return getErrosCadAuto(p);
         }},
        {u"setCadAuto"_s,
         [this](const QJsonArray &p) {
             return setCadAuto(p);
         }},
    };
}

QString ParamCtblObject::Name() const {
    return u"Ger09400.rdmParamCtbl"_s;
}

QStringList ParamCtblObject::Methods() const {
    QStringList names = m_methods.keys();
    names.sort();
    return names;
}

bool ParamCtblObject::HasMethod(const QString &method) const {
    return m_methods.contains(method);
}

MethodClass ParamCtblObject::ClassOf(const QString &method) const {
    static const QStringList writers{u"SetContOpe"_s, u"SetParamGeral"_s,
                                     u"setUsuarioFechamentoPeriodo"_s, u"setCadAuto"_s};
    return writers.contains(method) ? MethodClass::Write : MethodClass::Read;
}

bool ParamCtblObject::Short(const QString &method) const {
    // One company's row, sought by index.
    return method == u"GetDataSaldEmpr"_s || method == u"GetPescLanc"_s ||
           method == u"getLancSemEvolucao"_s;
}

CallOutcome ParamCtblObject::Invoke(const QString &method, const QJsonArray &params) {
    const auto found = m_methods.constFind(method);
    if (found == m_methods.cend()) {
        CallOutcome outcome;
        outcome.ProtocolError =
            JsonRpc::Error{JsonRpc::MethodNotFound, u"Método desconhecido: %1"_s.arg(method)};
        return outcome;
    }
    return found.value()(params);
}

namespace {

CallOutcome protocolFault(JsonRpc::Error error) {
    CallOutcome outcome;
    outcome.ProtocolError = std::move(error);
    return outcome;
}

} // namespace

#define CHECK_PARAMS(name, ...)                                                                    \
    if (auto fault = MethodCall::CheckParams(name, params, {__VA_ARGS__}))                         \
        return protocolFault(*fault);

CallOutcome ParamCtblObject::getContOpe(const QJsonArray &params) {
    CHECK_PARAMS(u"GetContOpe"_s)
    CallOutcome outcome;
    outcome.Result = MethodCall::Guard([&] {
        QByteArray payload;
        m_database.Transaction(Database::Access::Read, [&](QSqlDatabase &db) {
            // Written as the rows arrive: a thousand records never become a JSON tree.
            static const TPacketWriter::Layout layout(ParamRecord::PacketFields(), "[");
            // Sized as the last answer, and a little more: a megabyte grown by doubling was
            // copied and faulted in anew on every call.
            static std::atomic<qsizetype> lastBytes{0};
            const qsizetype last = lastBytes.load(std::memory_order_relaxed);
            TPacketWriter records(layout, last + last / 8);
            static const QString sql = [] {
                QStringList select;
                for (const Column &c : ParamRecord::Fields())
                    select.append((qstrcmp(c.Name, "NMEMPRESA") == 0 ? u"E."_s : u"C."_s) +
                                  QLatin1StringView(c.Name));
                return u"SELECT %1 FROM CONTOPECTBL C JOIN EMPRESA E ON E.CDEMPRESA = "
                       "C.CDEMPRESA ORDER BY C.CDEMPRESA"_s.arg(select.join(u", "_s));
            }();
            const auto &fields = ParamRecord::Fields();
            if (sqlite3_stmt *statement = Database::SqliteStatement(db, sql)) {
                SqliteReader::WriteRows(statement, fields, records);
            } else {
                QSqlQuery &q = Database::Statement(db, sql);
                Database::Exec(q);
                while (Database::Next(q)) {
                    for (int i = 0; i < fields.size(); ++i)
                        ParamRecord::WriteStored(records, fields.at(i), q.value(i));
                    records.EndRow();
                }
            }
            TPacketWriter general({stringField(u"IDCONTAJUDTCOMP"_s, 1)});
            QSqlQuery &g = Database::Statement(
                db, u"SELECT IDCONTAJUDTCOMP FROM PARAMGERAL WHERE IDPARAMGERAL = 1"_s);
            Database::Exec(g);
            if (Database::Next(g)) {
                if (g.value(0).isNull())
                    general.Null();
                else
                    general.Text(g.value(0).toString());
                general.EndRow();
            }
            // In the records' buffer, which has room to spare: the large part is not copied.
            payload = records.Finish();
            payload += ',';
            payload += general.Finish();
            payload += ']';
            lastBytes.store(payload.size(), std::memory_order_relaxed);
        });
        return TResultEnvelope::SuccessRaw(std::move(payload));
    });
    return outcome;
}

CallOutcome ParamCtblObject::setContOpe(const QJsonArray &params) {
    CHECK_PARAMS(u"SetContOpe"_s, Arg::Object)
    CallOutcome outcome;
    outcome.Result = MethodCall::Guard([&] {
        const TChangeLog log = requireChangeLog(params.at(0));
        const QVector<const Column *> columns = resolveLogFields(log);
        if (log.FieldIndex(u"CDEMPRESA"_s) < 0)
            fail(u"invalid_argument"_s, u"O pacote não contém o campo CDEMPRESA."_s);
        const int keyIndex = log.FieldIndex(u"CDEMPRESA"_s);
        QStringList touched;
        for (const TChange &change : log.Changes) {
            const TRowValues &row =
                change.Op == TChangeOp::Insert ? change.Values : change.Original;
            touched.append(row.value(keyIndex).toString());
        }
        outcome.Company = touched.join(u',');
        const auto apply = [&](QSqlDatabase &db) {
            ChangeHistory history(u"SetContOpe"_s);
            for (const TChange &change : log.Changes) {
                const QString code =
                    keyOf(log, change.Op == TChangeOp::Insert ? change.Values : change.Original);
                const ChangeHistory::Snapshot before = ChangeHistory::RecordOf(db, code);
                std::optional<ChangeHistory::Snapshot> after;
                applyContOpeChange(db, m_database, log, columns, change, &after);
                history.Compare(code, before, after ? *after : ChangeHistory::RecordOf(db, code));
            }
            history.Write(db);
        };
        // Beside the other single-record writers, never beside a bulk apply.
        m_database.Transaction(Database::Access::Write, apply, ChangeHistory::Turn());
        return TResultEnvelope::Success();
    });
    return outcome;
}

CallOutcome ParamCtblObject::setParamGeral(const QJsonArray &params) {
    CHECK_PARAMS(u"SetParamGeral"_s, Arg::Object)
    CallOutcome outcome;
    outcome.Result = MethodCall::Guard([&] {
        const TChangeLog log = requireChangeLog(params.at(0));
        if (log.Fields.size() != 1 ||
            log.Fields.at(0).Name.compare(u"IDCONTAJUDTCOMP"_s, Qt::CaseInsensitive) != 0 ||
            log.Fields.at(0).DataType != TFieldType::String)
            fail(u"invalid_argument"_s,
                 u"O parâmetro geral tem um único campo texto, IDCONTAJUDTCOMP."_s);
        m_database.Transaction(
            Database::Access::Write,
            [&](QSqlDatabase &db) {
                ChangeHistory history(u"SetParamGeral"_s);
                for (const TChange &change : log.Changes) {
                    const ChangeHistory::Snapshot before = ChangeHistory::GeneralOf(db);
                    applyParamGeralChange(db, m_database, change);
                    history.Compare(QString(), before, ChangeHistory::GeneralOf(db));
                }
                history.Write(db);
            },
            ChangeHistory::Turn());
        return TResultEnvelope::Success();
    });
    return outcome;
}

// The per-company reads answer a one-row (or empty) table, written straight to its JSON.
CallOutcome ParamCtblObject::getDataSaldEmpr(const QJsonArray &params) {
    CHECK_PARAMS(u"GetDataSaldEmpr"_s, Arg::Text)
    CallOutcome outcome;
    outcome.Company = params.at(0).toString();
    outcome.Result = MethodCall::Guard([&] {
        const QString code = requireCode(params.at(0).toString());
        QByteArray payload;
        m_database.Transaction(Database::Access::SingleRead, [&](QSqlDatabase &db) {
            static const QString sql =
                u"SELECT MAX(DTSALDEMPR) FROM SALDEMPR WHERE CDEMPRESA = ?"_s;
            static const Column latest{"MAIORDATA", ParamRecord::Kind::Date, 0};
            static const TPacketWriter::Layout layout(
                {{u"MAIORDATA"_s, TFieldType::Date, 0, false}});
            TPacketWriter out(layout);
            ParamRecord::WriteStored(out, latest,
                                     Database::FirstValue(db, sql, {code}).value_or(QVariant()));
            out.EndRow();
            payload = out.Finish();
        });
        return TResultEnvelope::SuccessRaw(std::move(payload));
    });
    return outcome;
}

CallOutcome ParamCtblObject::getPescLanc(const QJsonArray &params) {
    CHECK_PARAMS(u"GetPescLanc"_s, Arg::Text)
    CallOutcome outcome;
    outcome.Company = params.at(0).toString();
    outcome.Result = MethodCall::Guard([&] {
        const QString code = requireCode(params.at(0).toString());
        QByteArray payload;
        m_database.Transaction(Database::Access::SingleRead, [&](QSqlDatabase &db) {
            // Existence is all the caller needs: never stream a company's entries.
            static const QString sql =
                u"SELECT CDEMPRESA FROM LANCCONT WHERE CDEMPRESA = ? LIMIT 1"_s;
            static const TPacketWriter::Layout layout({stringField(u"CDEMPRESA"_s, 2)});
            TPacketWriter out(layout);
            if (const std::optional<QVariant> found = Database::FirstValue(db, sql, {code})) {
                out.Text(found->toString());
                out.EndRow();
            }
            payload = out.Finish();
        });
        return TResultEnvelope::SuccessRaw(std::move(payload));
    });
    return outcome;
}

CallOutcome ParamCtblObject::getLancSemEvolucao(const QJsonArray &params) {
    CHECK_PARAMS(u"getLancSemEvolucao"_s, Arg::Text, Arg::Text)
    CallOutcome outcome;
    outcome.Company = params.at(0).toString();
    outcome.Result = MethodCall::Guard([&] {
        const QString code = requireCode(params.at(0).toString());
        const QDate before = requireIsoDate(params.at(1).toString(), u"data inicial"_s);
        QByteArray payload;
        m_database.Transaction(Database::Access::SingleRead, [&](QSqlDatabase &db) {
            static const QString sql =
                u"SELECT MIN(DTLANC) FROM LANCCONT WHERE CDEMPRESA = ? AND IDEVOLUIDO = 'N' "
                "AND DTLANC < ?"_s;
            const QDate first = ParamRecord::StoredDate(
                Database::FirstValue(db, sql, {code, iso(before)}).value_or(QVariant()));
            // No entry left out: an empty text, not a missing value.
            static const TPacketWriter::Layout layout({stringField(u"DTSEMEVOLUCAO"_s, 10)});
            TPacketWriter out(layout);
            out.Text(first.isValid() ? first.toString(u"dd/MM/yyyy"_s) : QString());
            out.EndRow();
            payload = out.Finish();
        });
        return TResultEnvelope::SuccessRaw(std::move(payload));
    });
    return outcome;
}

CallOutcome ParamCtblObject::setUsuarioFechamentoPeriodo(const QJsonArray &params) {
    CHECK_PARAMS(u"setUsuarioFechamentoPeriodo"_s, Arg::Text, Arg::Text, Arg::Text)
    CallOutcome outcome;
    outcome.Company = params.at(0).toString();
    outcome.Result = MethodCall::Guard([&] {
        const QString code = requireCode(params.at(0).toString());
        const QString date = params.at(1).toString().trimmed();
        const QString who = params.at(2).toString().trimmed();
        if (MethodCall::HasControlCharacter(date))
            fail(u"invalid_argument"_s,
                 u"Data de fechamento inválida: contém caracteres de controle."_s);
        // The screen sends the date it showed the user; anything else would be an audit row
        // nobody can read back as a date.
        if (date.size() != 10 || !QDate::fromString(date, u"dd/MM/yyyy"_s).isValid())
            fail(u"invalid_argument"_s,
                 u"Data de fechamento inválida: '%1' (use dd/mm/aaaa)."_s.arg(
                     TextCut::Left(date, 20)));
        if (MethodCall::HasControlCharacter(who))
            fail(u"invalid_argument"_s, u"Operador inválido: contém caracteres de controle."_s);
        if (who.isEmpty() || who.size() > 60)
            fail(u"invalid_argument"_s, u"Operador inválido: '%1'."_s.arg(TextCut::Left(who, 60)));
        m_database.Transaction(
            Database::Access::Write,
            [&](QSqlDatabase &db) {
                requireCompany(db, code);
                const QDate closing = QDate::fromString(date, u"dd/MM/yyyy"_s);
                const QDate closed = ClosedSpan::Of(db, code);
                if (closed.isValid() && closing < closed)
                    fail(u"refused"_s, u"%1: não é possível registrar fechamento em %2."_s.arg(
                                           ClosedSpan::Sentence(code, closed),
                                           closing.toString(u"dd/MM/yyyy"_s)));
                QSqlQuery &q = Database::Statement(
                    db, u"INSERT INTO FECHAPERIODO (CDEMPRESA, DSDATA, NMOPERADOR, DTREGISTRO) "
                        "VALUES (?, ?, ?, ?)"_s);
                q.addBindValue(code);
                q.addBindValue(date);
                q.addBindValue(who);
                q.addBindValue(QDateTime::currentDateTime().toString(u"yyyy-MM-dd HH:mm:ss.zzz"_s));
                Database::Exec(q);
                ChangeHistory history(u"setUsuarioFechamentoPeriodo"_s);
                history.AddClosing(code,
                                   QDate::fromString(date, u"dd/MM/yyyy"_s).toString(Qt::ISODate));
                history.Write(db);
            },
            ChangeHistory::Turn());
        return TResultEnvelope::Success();
    });
    return outcome;
}

CallOutcome ParamCtblObject::getErrosCadAuto(const QJsonArray &params) {
    CHECK_PARAMS(u"getErrosCadAuto"_s, Arg::Text, Arg::Text, Arg::Text)
    CallOutcome outcome;
    outcome.Company = params.at(0).toString();
    outcome.Result = MethodCall::Guard([&] {
        const CompanyList list = requireList(params.at(0).toString());
        const QDate start = requireIsoDate(params.at(1).toString(), u"data inicial"_s);
        const QDate end = requireIsoDate(params.at(2).toString(), u"data final"_s);
        if (end < start)
            fail(u"invalid_argument"_s, u"Data final deve ser maior ou igual à data inicial."_s);
        TTablePacket packet;
        packet.Fields = {stringField(u"IDERRO"_s, 1), stringField(u"CDEMPRESA"_s, 2),
                         stringField(u"DSERRO"_s, 100)};
        m_database.Transaction(Database::Access::SingleRead, [&](QSqlDatabase &db) {
            QVector<Inconsistency> found;
            checkCompanies(db, list, end, &found);
            for (const Inconsistency &i : std::as_const(found))
                packet.Rows.append({i.Kind, i.Code, i.Text});
        });
        return TResultEnvelope::Success(Packet::ToJson(packet), QJsonArray{list.Normalised()});
    });
    return outcome;
}

CallOutcome ParamCtblObject::setCadAuto(const QJsonArray &params) {
    CHECK_PARAMS(u"setCadAuto"_s, Arg::Text, Arg::Text, Arg::Text, Arg::Object)
    CallOutcome outcome;
    outcome.Company = params.at(0).toString();
    outcome.Result = MethodCall::Guard([&] {
        const CompanyList list = requireList(params.at(0).toString());
        const bool periods = requireSwitch(params.at(1).toString(), u"Alteração de períodos"_s);
        const bool controls = requireSwitch(params.at(2).toString(), u"Alteração de controles"_s);
        if (!periods && !controls)
            fail(u"invalid_argument"_s,
                 u"Nada a alterar: informe a alteração de períodos e/ou de controles."_s);
        const BulkRequest request = requireBulkRequest(params.at(3));
        const QHash<QString, QVariant> columns = bulkColumns(request, periods, controls);
        const auto apply = [&](QSqlDatabase &db) {
            // The screen checked before asking; entries or balances may have moved since.
            const QDate end =
                periods ? QDate::fromString(columns.value(u"DTFINACONT"_s).toString(), Qt::ISODate)
                        : QDate();
            QVector<Inconsistency> found;
            checkCompanies(db, list, end, &found);
            if (!found.isEmpty()) {
                QStringList named;
                for (const Inconsistency &i : std::as_const(found)) {
                    if (!named.contains(i.Code) && named.size() < ListedInconsistencies)
                        named.append(i.Code);
                }
                fail(u"inconsistency"_s,
                     u"Foram encontradas inconsistências que deverão ser corrigidas antes do "
                     "cadastramento automático (empresas %1). Nada foi alterado."_s.arg(
                         named.join(u", "_s)));
            }
            // Every listed record kept aside before the apply: the history names each field it
            // changed, company by company, compared inside the database.
            const Scope scope = scopeOf(list, u"E.CDEMPRESA"_s);
            ChangeHistory history(u"setCadAuto"_s);
            history.CaptureBulk(db, m_database.Kind(), scope.Condition, scope.Binds);
            writeBulk(db, m_database.Kind(), list, columns);
            // New records start today: a company closed up to today or later refuses them too.
            const Scope closed = scopeOf(list, u"C.CDEMPRESA"_s);
            ClosedSpan::RequireRecordsAfter(db, closed.Condition, closed.Binds);
            history.WriteBulk(db, m_database.Kind());
        };
        // Alone: it writes every listed record, and would keep colliding with single writes.
        m_database.Transaction(Database::Access::Write, apply, Database::Turn::Alone);
        return TResultEnvelope::Success(QJsonValue(), QJsonArray{list.Normalised()});
    });
    return outcome;
}
