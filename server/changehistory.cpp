#include "changehistory.h"

#include "paramrecord.h"

#include <QSqlQuery>
#include <QUuid>

using namespace Qt::StringLiterals;

namespace {

thread_local Caller t_caller;

QString textOf(const ParamRecord::Column &column, const QVariant &stored) {
    if (stored.isNull())
        return {};
    if (column.ColumnKind == ParamRecord::Kind::Date) {
        const QDate date = ParamRecord::StoredDate(stored);
        return date.isValid() ? date.toString(Qt::ISODate) : QString();
    }
    return stored.toString();
}

QString storedColumnList() {
    QStringList names;
    for (const ParamRecord::Column &c : ParamRecord::StoredColumns())
        names.append(QString::fromLatin1(c.Name));
    return names.join(u", "_s);
}

// Rows go in batches: one statement per this many rows.
constexpr int RowsPerInsert = 50;
constexpr int ColumnsPerRow = 12;

} // namespace

namespace CallerContext {

void Set(const Caller &caller) {
    t_caller = caller;
}

const Caller &Current() {
    return t_caller;
}

} // namespace CallerContext

ChangeHistory::ChangeHistory(QString method)
    : m_id(QUuid::createUuid().toString(QUuid::WithoutBraces))
    , m_time(QDateTime::currentDateTimeUtc())
    , m_method(std::move(method))
    , m_caller(CallerContext::Current()) {
    if (m_caller.Operator.isEmpty()) {
        m_caller.Operator = u"anônimo"_s;
        m_caller.Verified = false;
    }
}

ChangeHistory::Snapshot ChangeHistory::RecordOf(QSqlDatabase &db, const QString &code) {
    QSqlQuery &q = Database::Statement(
        db, u"SELECT %1 FROM CONTOPECTBL WHERE CDEMPRESA = ?"_s.arg(storedColumnList()));
    q.bindValue(0, code);
    Database::Exec(q);
    Snapshot out;
    if (!q.next())
        return out;
    const auto &columns = ParamRecord::StoredColumns();
    for (int i = 0; i < columns.size(); ++i)
        out.insert(QString::fromLatin1(columns.at(i).Name), textOf(columns.at(i), q.value(i)));
    return out;
}

QHash<QString, ChangeHistory::Snapshot>
ChangeHistory::RecordsOf(QSqlDatabase &db, const QString &condition, const QVariantList &binds) {
    QSqlQuery &q = Database::Statement(
        db, u"SELECT %1 FROM CONTOPECTBL%2"_s.arg(
                storedColumnList(), condition.isEmpty() ? QString() : u" WHERE "_s + condition));
    for (int i = 0; i < binds.size(); ++i)
        q.bindValue(i, binds.at(i));
    Database::Exec(q);
    QHash<QString, Snapshot> out;
    const auto &columns = ParamRecord::StoredColumns();
    while (q.next()) {
        Snapshot record;
        for (int i = 0; i < columns.size(); ++i)
            record.insert(QString::fromLatin1(columns.at(i).Name),
                          textOf(columns.at(i), q.value(i)));
        out.insert(record.value(u"CDEMPRESA"_s), record);
    }
    return out;
}

ChangeHistory::Snapshot ChangeHistory::GeneralOf(QSqlDatabase &db) {
    QSqlQuery &q =
        Database::Statement(db, u"SELECT IDCONTAJUDTCOMP FROM PARAMGERAL WHERE IDPARAMGERAL = 1"_s);
    Database::Exec(q);
    Snapshot out;
    if (q.next())
        out.insert(u"IDCONTAJUDTCOMP"_s, q.value(0).isNull() ? QString() : q.value(0).toString());
    return out;
}

void ChangeHistory::Compare(const QString &code, const Snapshot &before, const Snapshot &after) {
    if (before.isEmpty() && after.isEmpty())
        return;
    const QString operation = before.isEmpty() ? u"I"_s : after.isEmpty() ? u"E"_s : u"A"_s;
    auto record = [&](const QString &field, bool date) {
        const QString was = before.value(field), now = after.value(field);
        if (was == now)
            return;
        m_rows.append({operation, code, field, date ? u"date"_s : u"string"_s, was, now,
                       !was.isEmpty(), !now.isEmpty()});
    };
    if (code.isEmpty()) {
        record(u"IDCONTAJUDTCOMP"_s, false);
        return;
    }
    for (const ParamRecord::Column &c : ParamRecord::StoredColumns()) {
        if (qstrcmp(c.Name, "CDEMPRESA") != 0)
            record(QString::fromLatin1(c.Name), c.ColumnKind == ParamRecord::Kind::Date);
    }
}

void ChangeHistory::Write(QSqlDatabase &db) {
    const QString columns =
        u"IDALTERACAO, NRSEQ, DTALTERACAO, NMOPERADOR, IDVERIFICADO, NMMETODO, IDOPERACAO, "
        "CDEMPRESA, NMCAMPO, TPCAMPO, VLANTERIOR, VLNOVO"_s;
    const QString oneRow = u"(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"_s;
    for (qsizetype first = 0; first < m_rows.size(); first += RowsPerInsert) {
        const qsizetype count = std::min<qsizetype>(RowsPerInsert, m_rows.size() - first);
        QStringList rows(count, oneRow);
        QSqlQuery &insert = Database::Statement(
            db, u"INSERT INTO HISTALTERACAO (%1) VALUES %2"_s.arg(columns, rows.join(u", "_s)));
        int at = 0;
        for (qsizetype i = first; i < first + count; ++i) {
            const Row &row = m_rows.at(i);
            insert.bindValue(at++, m_id);
            insert.bindValue(at++, int(i + 1));
            insert.bindValue(at++, m_time);
            insert.bindValue(at++, m_caller.Operator.left(60));
            insert.bindValue(at++, m_caller.Verified ? u"S"_s : u"N"_s);
            insert.bindValue(at++, m_method);
            insert.bindValue(at++, row.Operation);
            insert.bindValue(at++, row.Company.isEmpty() ? QVariant() : QVariant(row.Company));
            insert.bindValue(at++, row.Field);
            insert.bindValue(at++, row.Type);
            insert.bindValue(at++, row.HasBefore ? QVariant(row.Before) : QVariant());
            insert.bindValue(at++, row.HasAfter ? QVariant(row.After) : QVariant());
        }
        Q_ASSERT(at == count * ColumnsPerRow);
        Database::Exec(insert);
    }
    m_rows.clear();
}
