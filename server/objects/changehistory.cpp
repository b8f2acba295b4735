#include "changehistory.h"

#include "historychain.h"
#include "paramrecord.h"
#include "rules/textcut.h"

#include <QSqlQuery>
#include <QUuid>

#include <atomic>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

std::atomic<bool> g_recording{true};

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

// The history's columns in the order every insert gives them.
constexpr char HistoryColumns[] = "IDALTERACAO, NRSEQ, DTALTERACAO, NMOPERADOR, IDVERIFICADO, "
                                  "NMMETODO, IDOPERACAO, CDEMPRESA, NMCAMPO, TPCAMPO, "
                                  "VLANTERIOR, VLNOVO, NRCADEIA, CDHASH";

// Rows go in batches: one statement per this many rows (a bulk apply writes thousands).
constexpr int RowsPerInsert = 200;
constexpr int ColumnsPerRow = 14;

} // namespace

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

void ChangeHistory::SetRecording(bool on) {
    g_recording = on;
}

bool ChangeHistory::Recording() {
    return g_recording;
}

// With recording off every snapshot is empty, so Compare finds nothing and Write has nothing.
ChangeHistory::Snapshot ChangeHistory::RecordOf(QSqlDatabase &db, const QString &code) {
    if (!g_recording)
        return {};
    QSqlQuery &q = Database::Statement(
        db, u"SELECT %1 FROM CONTOPECTBL WHERE CDEMPRESA = ?"_s.arg(storedColumnList()));
    q.bindValue(0, code);
    Database::Exec(q);
    return Database::Next(q) ? FromRow(q) : Snapshot();
}

ChangeHistory::Snapshot ChangeHistory::FromRow(const QSqlQuery &row) {
    Snapshot out;
    const auto &columns = ParamRecord::StoredColumns();
    for (int i = 0; i < columns.size(); ++i)
        out.insert(QString::fromLatin1(columns.at(i).Name), textOf(columns.at(i), row.value(i)));
    return out;
}

ChangeHistory::Snapshot ChangeHistory::GeneralOf(QSqlDatabase &db) {
    if (!g_recording)
        return {};
    QSqlQuery &q =
        Database::Statement(db, u"SELECT IDCONTAJUDTCOMP FROM PARAMGERAL WHERE IDPARAMGERAL = 1"_s);
    Database::Exec(q);
    Snapshot out;
    if (Database::Next(q))
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

void ChangeHistory::AddClosing(const QString &code, const QString &isoDate) {
    if (g_recording)
        m_rows.append({u"I"_s, code, u"FECHAMENTO"_s, u"date"_s, QString(), isoDate, false, true});
}

void ChangeHistory::AddException(const QString &code, const QString &before, const QString &after) {
    if (g_recording)
        m_rows.append({before.isEmpty() ? u"I"_s : u"A"_s, code, u"EXCECAO"_s, u"string"_s,
                       TextCut::Left(before, 60), TextCut::Left(after, 60), !before.isEmpty(),
                       true});
}

void ChangeHistory::AddFinalClose(const QString &code, const QString &previousIso,
                                  const QString &isoDate, const QString &reason) {
    if (!g_recording)
        return;
    const QString after = TextCut::Left(u"%1 (%2)"_s.arg(isoDate, reason), 60);
    m_rows.append({previousIso.isEmpty() ? u"I"_s : u"A"_s, code, u"ENCERRAMENTO"_s, u"string"_s,
                   previousIso, after, !previousIso.isEmpty(), true});
}

Database::Turn ChangeHistory::Turn() {
    return g_recording ? Database::Turn::Alone : Database::Turn::Shared;
}

namespace {

// Below this, a multi-row INSERT costs no more than a COPY's extra round trips.
constexpr qsizetype RowsForCopy = 64;

} // namespace

void ChangeHistory::Write(QSqlDatabase &db) {
    if (m_rows.isEmpty())
        return;
    const bool postgres = db.driverName() == u"QPSQL"_s;
    HistoryChain::Head head =
        HistoryChain::Lock(db, postgres ? Database::Dialect::Postgres : Database::Dialect::Sqlite);
    HistoryChain::Row link;
    link.Id = m_id;
    link.Time = m_time.toUTC().toString(Qt::ISODateWithMs);
    link.Operator = TextCut::Left(m_caller.Operator, 60);
    link.Verified = m_caller.Verified ? u"S"_s : u"N"_s;
    link.Method = m_method;

    // Numbered and hashed in order first: each row's hash is the next one's start.
    struct Sealed {
        qint64 Seq;
        qint64 Chain;
        QByteArray Hash;
    };
    std::vector<Sealed> sealed;
    sealed.reserve(size_t(m_rows.size()));
    int numbered = 0;
    for (const Row &row : std::as_const(m_rows)) {
        link.Chain = ++head.Last;
        link.Seq = row.Seq > 0 ? row.Seq : m_written + ++numbered;
        link.Operation = row.Operation;
        link.Company = row.Company;
        link.Field = row.Field;
        link.Type = row.Type;
        link.Before = row.HasBefore ? row.Before : QString();
        link.After = row.HasAfter ? row.After : QString();
        head.LastHash = HistoryChain::Link(head.LastHash, link);
        sealed.push_back({link.Seq, link.Chain, head.LastHash});
    }

    const QString columns = QString::fromLatin1(HistoryColumns);
    bool copied = false;
    if (postgres && m_rows.size() >= RowsForCopy) {
        // A bulk apply's thousands of rows: one COPY instead of a statement per batch.
        QByteArray text;
        text.reserve(m_rows.size() * 200);
        QByteArray common;
        HistoryChain::AppendEscaped(common, m_id);
        const QByteArray time = m_time.toUTC().toString(u"yyyy-MM-dd HH:mm:ss.zzz"_s).toLatin1();
        QByteArray caller;
        HistoryChain::AppendEscaped(caller, link.Operator);
        caller += '\t' + link.Verified.toLatin1() + '\t';
        HistoryChain::AppendEscaped(caller, m_method);
        const auto field = [&text](bool has, const QString &value) {
            text += '\t';
            if (has)
                HistoryChain::AppendEscaped(text, value);
            else
                text += "\\N";
        };
        for (qsizetype i = 0; i < m_rows.size(); ++i) {
            const Row &row = m_rows.at(i);
            const Sealed &s = sealed[size_t(i)];
            text += common + '\t' + QByteArray::number(s.Seq) + '\t' + time + '\t' + caller;
            field(true, row.Operation);
            field(!row.Company.isEmpty(), row.Company);
            field(true, row.Field);
            field(true, row.Type);
            field(row.HasBefore, row.Before);
            field(row.HasAfter, row.After);
            text += '\t' + QByteArray::number(s.Chain) + '\t' + s.Hash + '\n';
        }
        copied = Database::CopyIn(db, u"HISTALTERACAO"_s, columns, text);
    }
    if (!copied) {
        const QVariant time(m_time), id(m_id), who(link.Operator), verified(link.Verified),
            method(m_method);
        const QString oneRow = u"(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"_s;
        for (qsizetype first = 0; first < m_rows.size(); first += RowsPerInsert) {
            const qsizetype count = std::min<qsizetype>(RowsPerInsert, m_rows.size() - first);
            QStringList rows(count, oneRow);
            QSqlQuery &insert = Database::Statement(
                db, u"INSERT INTO HISTALTERACAO (%1) VALUES %2"_s.arg(columns, rows.join(u", "_s)));
            int at = 0;
            for (qsizetype i = first; i < first + count; ++i) {
                const Row &row = m_rows.at(i);
                const Sealed &s = sealed[size_t(i)];
                insert.bindValue(at++, id);
                insert.bindValue(at++, s.Seq);
                insert.bindValue(at++, time);
                insert.bindValue(at++, who);
                insert.bindValue(at++, verified);
                insert.bindValue(at++, method);
                insert.bindValue(at++, row.Operation);
                insert.bindValue(at++, row.Company.isEmpty() ? QVariant() : QVariant(row.Company));
                insert.bindValue(at++, row.Field);
                insert.bindValue(at++, row.Type);
                insert.bindValue(at++, row.HasBefore ? QVariant(row.Before) : QVariant());
                insert.bindValue(at++, row.HasAfter ? QVariant(row.After) : QVariant());
                insert.bindValue(at++, s.Chain);
                insert.bindValue(at++, QString::fromLatin1(s.Hash));
            }
            Q_ASSERT(at == count * ColumnsPerRow);
            Database::Exec(insert);
        }
    }
    HistoryChain::Advance(db, head.Last, head.LastHash);
    m_written += numbered;
    m_rows.clear();
}

namespace {

// A stored column as the history's text: dates as 2026-12-31, whatever the database keeps.
QString historyText(Database::Dialect dialect, const ParamRecord::Column &column,
                    const QString &table) {
    const QString name = table + u'.' + QLatin1StringView(column.Name);
    if (column.ColumnKind != ParamRecord::Kind::Date)
        return dialect == Database::Dialect::Postgres ? u"CAST(%1 AS VARCHAR)"_s.arg(name) : name;
    return dialect == Database::Dialect::Postgres ? u"to_char(%1, 'YYYY-MM-DD')"_s.arg(name)
                                                  : u"substr(%1, 1, 10)"_s.arg(name);
}

} // namespace

void ChangeHistory::CaptureBulk(QSqlDatabase &db, Database::Dialect dialect,
                                const QString &condition, const QVariantList &binds) {
    if (!g_recording)
        return;
    const QString records = storedColumnList().replace(u", "_s, u", A."_s).prepend(u"A."_s);
    // A temporary table is the connection's own: two calls never see each other's. Each listed
    // company, with its record or without one, and its place in code order.
    Database::ExecDirect(
        db, u"CREATE TEMP TABLE IF NOT EXISTS HISTANTES AS SELECT 0 AS ORDEM, E.CDEMPRESA AS "
            "EMPRESA, %1 FROM EMPRESA E LEFT JOIN CONTOPECTBL A ON A.CDEMPRESA = E.CDEMPRESA "
            "WHERE 1 = 0"_s.arg(records));
    Database::ExecDirect(db, u"DELETE FROM HISTANTES"_s);
    // Not from the statement cache: the table may be new since the last call.
    QSqlQuery q = Database::Prepare(
        db, u"INSERT INTO HISTANTES SELECT ROW_NUMBER() OVER (ORDER BY E.CDEMPRESA%1), "
            "E.CDEMPRESA, %2 FROM EMPRESA E LEFT JOIN CONTOPECTBL A ON A.CDEMPRESA = "
            "E.CDEMPRESA%3"_s.arg(
                dialect == Database::Dialect::Postgres ? u" COLLATE \"C\""_s : QString(), records,
                condition.isEmpty() ? QString() : u" WHERE "_s + condition));
    for (int i = 0; i < binds.size(); ++i)
        q.bindValue(i, binds.at(i));
    Database::Exec(q);
    m_captured = q.numRowsAffected();
}

void ChangeHistory::WriteBulk(QSqlDatabase &db, Database::Dialect dialect) {
    if (!g_recording)
        return;
    QStringList fields, before, after;
    int n = 0;
    for (const ParamRecord::Column &c : ParamRecord::StoredColumns()) {
        if (qstrcmp(c.Name, "CDEMPRESA") == 0)
            continue;
        ++n;
        const bool date = c.ColumnKind == ParamRecord::Kind::Date;
        fields.append(u"(%1, '%2', '%3')"_s.arg(n).arg(QLatin1StringView(c.Name),
                                                       date ? u"date"_s : u"string"_s));
        before.append(u"WHEN %1 THEN %2"_s.arg(n).arg(historyText(dialect, c, u"B"_s)));
        after.append(u"WHEN %1 THEN %2"_s.arg(n).arg(historyText(dialect, c, u"A"_s)));
    }
    // Every value's text against its text before, as Compare does: no value and "" are alike.
    // A company's rows are numbered from its place in code order, field by field. They come
    // back here to be hashed into the chain in that order, and go in like any call's rows.
    const int stride = int(ParamRecord::StoredColumns().size());
    const QString sql =
        u"SELECT X.ORDEM, X.N, X.OP, X.CDEMPRESA, X.NOME, X.TIPO, X.ANTES, X.DEPOIS FROM ("
        "SELECT B.ORDEM AS ORDEM, A.CDEMPRESA AS CDEMPRESA, F.column1 AS N, F.column2 AS NOME, "
        "F.column3 AS TIPO, CASE WHEN B.CDEMPRESA IS NULL THEN 'I' ELSE 'A' END AS OP, "
        "COALESCE(CASE F.column1 %1 END, '') AS ANTES, "
        "COALESCE(CASE F.column1 %2 END, '') AS DEPOIS "
        "FROM HISTANTES B JOIN CONTOPECTBL A ON A.CDEMPRESA = B.EMPRESA "
        "CROSS JOIN (VALUES %3) AS F) X WHERE X.ANTES <> X.DEPOIS ORDER BY X.ORDEM, X.N"_s.arg(
            before.join(u' '), after.join(u' '), fields.join(u", "_s));
    QSqlQuery q = Database::Prepare(db, sql);
    // Not row by row on PostgreSQL: a result read in single rows leaves the session busy, and the
    // rows' COPY below could not start.
    q.setForwardOnly(dialect != Database::Dialect::Postgres);
    Database::Exec(q);
    while (Database::Next(q)) {
        const QString was = q.value(6).toString(), now = q.value(7).toString();
        Row row{q.value(2).toString(),
                q.value(3).toString(),
                q.value(4).toString(),
                q.value(5).toString(),
                was,
                now,
                !was.isEmpty(),
                !now.isEmpty()};
        row.Seq = m_written + (q.value(0).toLongLong() - 1) * stride + q.value(1).toLongLong();
        m_rows.append(std::move(row));
    }
    q.finish();
    const int written = m_written;
    Write(db);
    m_written = written;
    m_written += m_captured * stride;
    Database::ExecDirect(db, u"DELETE FROM HISTANTES"_s);
}
