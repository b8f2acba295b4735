#include "historychain.h"

#include "serverlog.h"

#include <QCryptographicHash>
#include <QDateTime>

#include <algorithm>
#include <vector>

using namespace Qt::StringLiterals;

namespace HistoryChain {

namespace {

QString text(const QVariant &value) {
    return value.isNull() ? QString() : value.toString();
}

QByteArray hashText(const QVariant &value) {
    return value.isNull() ? QByteArray() : value.toString().toLatin1();
}

Head headOf(QSqlQuery &q) {
    Database::Exec(q);
    if (!q.next())
        throw CallFailure{u"internal"_s, u"Erro interno do servidor: a cadeia do histórico de "
                                         "alterações não tem registro (HISTCADEIA)."_s};
    const Head head{q.value(0).toLongLong(), hashText(q.value(1)), q.value(2).toLongLong(),
                    hashText(q.value(3))};
    q.finish(); // the session free for what the writer sends next (a COPY)
    return head;
}

bool postgres(const QSqlDatabase &db) {
    return db.driverName() == u"QPSQL"_s;
}

Break breakAt(const Row &row, QString reason) {
    return {row.Chain, row.Id, row.Company, row.Field, row.Time, std::move(reason)};
}

} // namespace

void AppendEscaped(QByteArray &out, const QString &text) {
    const QByteArray bytes = text.toUtf8();
    for (const char c : bytes) {
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        default:
            out += c;
        }
    }
}

QByteArray Link(const QByteArray &previous, const Row &row) {
    QByteArray line;
    line.reserve(320);
    line += previous;
    line += '\t';
    line += QByteArray::number(row.Chain);
    line += '\t';
    AppendEscaped(line, row.Id);
    line += '\t';
    line += QByteArray::number(row.Seq);
    for (const QString *field :
         {&row.Time, &row.Operator, &row.Verified, &row.Method, &row.Operation, &row.Company,
          &row.Field, &row.Type, &row.Before, &row.After}) {
        line += '\t';
        AppendEscaped(line, *field);
    }
    return QCryptographicHash::hash(line, QCryptographicHash::Sha256).toHex();
}

QString TimeText(const QVariant &stored) {
    if (stored.isNull())
        return {};
    // SQLite keeps the text the server bound: already the canonical form, and parsing a million
    // of them would be most of a check's time.
    if (stored.metaType().id() == QMetaType::QString) {
        const QString text = stored.toString();
        if (text.size() == 24 && text.at(10) == u'T' && text.at(19) == u'.' && text.endsWith(u'Z'))
            return text;
    }
    QDateTime time =
        stored.metaType().id() == QMetaType::QDateTime
            ? stored.toDateTime()
            : QDateTime::fromString(stored.toString().replace(u' ', u'T'), Qt::ISODateWithMs);
    if (!time.isValid())
        return stored.toString();
    if (time.timeSpec() == Qt::LocalTime)
        time.setTimeSpec(Qt::UTC); // stored without a zone: it was UTC
    return time.toUTC().toString(Qt::ISODateWithMs);
}

QString Columns() {
    return u"NRCADEIA, IDALTERACAO, NRSEQ, DTALTERACAO, NMOPERADOR, IDVERIFICADO, NMMETODO, "
           "IDOPERACAO, CDEMPRESA, NMCAMPO, TPCAMPO, VLANTERIOR, VLNOVO, CDHASH"_s;
}

Row FromQuery(const QSqlQuery &q, int first, QByteArray *hash) {
    Row row;
    row.Chain = q.value(first).isNull() ? 0 : q.value(first).toLongLong();
    row.Id = text(q.value(first + 1));
    row.Seq = q.value(first + 2).toLongLong();
    row.Time = TimeText(q.value(first + 3));
    row.Operator = text(q.value(first + 4));
    row.Verified = text(q.value(first + 5));
    row.Method = text(q.value(first + 6));
    row.Operation = text(q.value(first + 7));
    row.Company = text(q.value(first + 8));
    row.Field = text(q.value(first + 9));
    row.Type = text(q.value(first + 10));
    row.Before = text(q.value(first + 11));
    row.After = text(q.value(first + 12));
    if (hash)
        *hash = hashText(q.value(first + 13));
    return row;
}

Head Lock(QSqlDatabase &db, Database::Dialect dialect) {
    // PostgreSQL: the row lock makes a second writer of history wait for this transaction, and
    // the writers' turn (taken before BEGIN) has it start after this one committed.
    QSqlQuery &q = Database::Statement(
        db,
        u"SELECT NRULTIMO, CDULTIMO, NRANCORA, CDANCORA FROM HISTCADEIA WHERE IDCADEIA = 1%1"_s.arg(
            dialect == Database::Dialect::Postgres ? u" FOR UPDATE"_s : QString()));
    return headOf(q);
}

void Advance(QSqlDatabase &db, qint64 last, const QByteArray &hash) {
    QSqlQuery &q = Database::Statement(
        db, u"UPDATE HISTCADEIA SET NRULTIMO = ?, CDULTIMO = ? WHERE IDCADEIA = 1"_s);
    q.bindValue(0, last);
    q.bindValue(1, QString::fromLatin1(hash));
    Database::Exec(q);
}

Head Read(QSqlDatabase &db) {
    QSqlQuery q = Database::Prepare(
        db, u"SELECT NRULTIMO, CDULTIMO, NRANCORA, CDANCORA FROM HISTCADEIA WHERE IDCADEIA = 1"_s);
    return headOf(q);
}

void ChainUnchained(QSqlDatabase &db) {
    Head head = Lock(db, postgres(db) ? Database::Dialect::Postgres : Database::Dialect::Sqlite);
    struct Sealed {
        QString Id;
        qint64 Seq;
        qint64 Chain;
        QByteArray Hash;
    };
    std::vector<Sealed> sealed;
    {
        // Read whole before writing: a cursor over the rows being numbered could meet them again.
        QSqlQuery q =
            Database::Prepare(db, u"SELECT %1 FROM HISTALTERACAO WHERE NRCADEIA IS NULL "
                                  "ORDER BY DTALTERACAO, IDALTERACAO, NRSEQ"_s.arg(Columns()));
        q.setForwardOnly(true);
        Database::Exec(q);
        while (q.next()) {
            Row row = FromQuery(q, 0);
            row.Chain = ++head.Last;
            head.LastHash = Link(head.LastHash, row);
            sealed.push_back({row.Id, row.Seq, row.Chain, head.LastHash});
        }
    }
    if (sealed.empty())
        return;
    // On PostgreSQL a statement per row costs a round trip each: a history of a million rows took
    // minutes. There the numbers go in by COPY and join the history in one update.
    if (postgres(db)) {
        Database::ExecDirect(db, u"CREATE TEMP TABLE HISTCADEIANOVA (I VARCHAR(36), S INTEGER, "
                                 "N BIGINT, H VARCHAR(64)) ON COMMIT DROP"_s);
        QByteArray rows;
        rows.reserve(qsizetype(sealed.size()) * 120);
        for (const Sealed &row : sealed) {
            AppendEscaped(rows, row.Id); // COPY's text form escapes as the canonical one does
            rows += '\t' + QByteArray::number(row.Seq) + '\t' + QByteArray::number(row.Chain) +
                    '\t' + row.Hash + '\n';
        }
        if (Database::CopyIn(db, u"HISTCADEIANOVA"_s, u"I, S, N, H"_s, rows)) {
            Database::ExecDirect(db, u"UPDATE HISTALTERACAO SET NRCADEIA = V.N, CDHASH = V.H FROM "
                                     "HISTCADEIANOVA V WHERE HISTALTERACAO.IDALTERACAO = V.I AND "
                                     "HISTALTERACAO.NRSEQ = V.S"_s);
            Advance(db, head.Last, head.LastHash);
            return;
        }
    }
    // SQLite does a statement in microseconds, without a round trip: one per row is the fastest
    // way there (a million rows in about 13 s; a joined update of batches took 36).
    QSqlQuery update = Database::Prepare(db, u"UPDATE HISTALTERACAO SET NRCADEIA = ?, CDHASH = ? "
                                             "WHERE IDALTERACAO = ? AND NRSEQ = ?"_s);
    for (const Sealed &row : sealed) {
        update.bindValue(0, row.Chain);
        update.bindValue(1, QString::fromLatin1(row.Hash));
        update.bindValue(2, row.Id);
        update.bindValue(3, row.Seq);
        Database::Exec(update);
    }
    Advance(db, head.Last, head.LastHash);
}

QString Break::Text() const {
    if (Id.isEmpty() && Field.isEmpty())
        return u"linha %1 da cadeia: %2"_s.arg(Chain).arg(Reason);
    const QString where =
        u"empresa %1, campo %2, %3"_s.arg(Company.isEmpty() ? u"-"_s : ServerLog::Escape(Company),
                                          ServerLog::Escape(Field), ServerLog::Escape(Time));
    if (Chain == 0)
        return u"linha fora da cadeia (alteração %1, %2): %3"_s.arg(ServerLog::Escape(Id), where,
                                                                    Reason);
    return u"linha %1 da cadeia (%2): %3"_s.arg(Chain).arg(where, Reason);
}

Verdict Verify(QSqlDatabase &db, qint64 tail) {
    Verdict v;
    v.At = Read(db);
    const Head &head = v.At;
    qint64 from = head.Anchor + 1;
    QByteArray previous = head.AnchorHash;
    if (tail > 0 && head.Last - tail > head.Anchor) {
        from = head.Last - tail + 1;
        QSqlQuery before = Database::Prepare(
            db, u"SELECT %1 FROM HISTALTERACAO WHERE NRCADEIA = ?"_s.arg(Columns()));
        before.bindValue(0, from - 1);
        Database::Exec(before);
        if (!before.next()) {
            v.First =
                Break{from - 1, {}, {}, {}, {}, u"a linha não está no histórico (foi removida)"_s};
            return v;
        }
        FromQuery(before, 0, &previous);
    }

    QSqlQuery q = Database::Prepare(
        db, u"SELECT %1 FROM HISTALTERACAO WHERE NRCADEIA >= ? ORDER BY NRCADEIA"_s.arg(Columns()));
    q.setForwardOnly(true);
    q.bindValue(0, from);
    Database::Exec(q);
    qint64 expected = from;
    QByteArray stored;
    while (q.next()) {
        const Row row = FromQuery(q, 0, &stored);
        ++v.Rows;
        if (row.Chain > head.Last) {
            v.First = breakAt(row, u"está além do fim registrado da cadeia (%1): foi incluída "
                                   "por fora do servidor"_s.arg(head.Last));
            return v;
        }
        if (row.Chain != expected) {
            v.First = breakAt(row, u"a linha %1, anterior a ela, não está no histórico (foi "
                                   "removida)"_s.arg(expected));
            return v;
        }
        if (Link(previous, row) != stored) {
            v.First = breakAt(row, u"o conteúdo ou o encadeamento não confere com o hash "
                                   "gravado (foi alterada, trocada de lugar ou incluída)"_s);
            return v;
        }
        previous = stored;
        ++expected;
    }
    if (expected - 1 != head.Last) {
        v.First = Break{
            expected,
            {},
            {},
            {},
            {},
            u"faltam as linhas %1 a %2, do fim da cadeia (foram removidas)"_s.arg(expected).arg(
                head.Last)};
        return v;
    }
    if (previous != head.LastHash) {
        v.First = Break{head.Last,
                        {},
                        {},
                        {},
                        {},
                        u"o fim registrado da cadeia (HISTCADEIA) não confere com a última "
                        "linha"_s};
        return v;
    }
    // Rows the server never numbered, and rows left behind the anchor by hand.
    QSqlQuery outside = Database::Prepare(
        db, u"SELECT %1 FROM HISTALTERACAO WHERE NRCADEIA IS NULL OR NRCADEIA <= ? "
            "ORDER BY NRCADEIA LIMIT 1"_s.arg(Columns()));
    outside.bindValue(0, head.Anchor);
    Database::Exec(outside);
    if (outside.next()) {
        const Row row = FromQuery(outside, 0);
        v.First = breakAt(row, row.Chain == 0
                                   ? u"a linha não tem número na cadeia: foi incluída por fora "
                                     "do servidor"_s
                                   : u"a linha é anterior à âncora da cadeia (%1): deveria ter "
                                     "sido removida com as anteriores"_s.arg(head.Anchor));
    }
    return v;
}

} // namespace HistoryChain
