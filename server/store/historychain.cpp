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
    if (!Database::Next(q))
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
        while (Database::Next(q)) {
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

QString OldCutForm(const QString &stored) {
    // What that cut left: 59 units and the half pair, which SQLite gives back as U+FFFD (one,
    // or more through a reader that decodes its bytes one by one).
    constexpr qsizetype Width = 60;
    qsizetype stem = stored.size();
    while (stem > 0 && stored.at(stem - 1) == QChar::ReplacementCharacter)
        --stem;
    if (stem == stored.size() || stem != Width - 1)
        return {};
    return stored.left(stem) + u'?';
}

namespace {

// Whether `row` hashes to `stored` after `previous` as the earlier release wrote it: every
// combination of its cut texts in their old form.
bool MatchesOldCut(const QByteArray &previous, const Row &row, const QByteArray &stored) {
    QString Row::*const texts[] = {&Row::Operator, &Row::Before, &Row::After};
    QList<std::pair<QString Row::*, QString>> cut;
    for (QString Row::*text : texts) {
        if (QString old = OldCutForm(row.*text); !old.isEmpty())
            cut.append({text, std::move(old)});
    }
    for (int mask = 1; mask < (1 << cut.size()); ++mask) {
        Row old = row;
        for (int i = 0; i < cut.size(); ++i) {
            if (mask & (1 << i))
                old.*(cut.at(i).first) = cut.at(i).second;
        }
        if (Link(previous, old) == stored)
            return true;
    }
    return false;
}

void noteBreak(Verdict &v, Break found) {
    ++v.BreakCount;
    if (!v.First)
        v.First = found;
    if (v.Breaks.size() < Verdict::MostListed)
        v.Breaks.append(std::move(found));
}

Break headBreak(qint64 chain, QString reason) {
    return Break{chain, {}, {}, {}, {}, std::move(reason)};
}

} // namespace

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
        if (!Database::Next(before)) {
            noteBreak(v, headBreak(from - 1, u"a linha não está no histórico (foi removida)"_s));
            previous.clear(); // unknown: the first row's link is not judged
        } else {
            FromQuery(before, 0, &previous);
        }
    }

    QSqlQuery q = Database::Prepare(
        db, u"SELECT %1 FROM HISTALTERACAO WHERE NRCADEIA >= ? ORDER BY NRCADEIA"_s.arg(Columns()));
    q.setForwardOnly(true);
    q.bindValue(0, from);
    Database::Exec(q);
    qint64 expected = from;
    QByteArray stored;
    // Past a break the chain goes on from the stored hash: each tampered place is named once,
    // and every row after it is still judged against its own link.
    while (Database::Next(q)) {
        const Row row = FromQuery(q, 0, &stored);
        ++v.Rows;
        if (row.Chain > head.Last) {
            // Not part of the chain the head closes: the rows before it are judged without it.
            noteBreak(v, breakAt(row, u"está além do fim registrado da cadeia (%1): foi incluída "
                                      "por fora do servidor"_s.arg(head.Last)));
            continue;
        }
        if (row.Chain != expected) {
            noteBreak(v, breakAt(row, expected + 1 == row.Chain
                                          ? u"a linha %1, anterior a ela, não está no histórico "
                                            "(foi removida)"_s.arg(expected)
                                          : u"as linhas %1 a %2, anteriores a ela, não estão no "
                                            "histórico (foram removidas)"_s.arg(expected)
                                                .arg(row.Chain - 1)));
        } else if (!previous.isEmpty() && Link(previous, row) != stored) {
            if (MatchesOldCut(previous, row, stored)) {
                if (v.OldCut.size() < Verdict::MostListed)
                    v.OldCut.append(row.Chain);
                ++v.OldCutCount;
            } else {
                noteBreak(v, breakAt(row, u"o conteúdo ou o encadeamento não confere com o hash "
                                          "gravado (foi alterada, trocada de lugar ou "
                                          "incluída)"_s));
            }
        }
        previous = stored;
        expected = std::max(expected, row.Chain) + 1;
    }
    if (expected - 1 < head.Last) {
        noteBreak(v, headBreak(expected, u"faltam as linhas %1 a %2, do fim da cadeia (foram "
                                         "removidas)"_s.arg(expected)
                                             .arg(head.Last)));
    } else if (!previous.isEmpty() && previous != head.LastHash) {
        noteBreak(v, headBreak(head.Last, u"o fim registrado da cadeia (HISTCADEIA) não confere "
                                          "com a última linha"_s));
    }
    // Rows the server never numbered, and rows left behind the anchor by hand.
    QSqlQuery outside = Database::Prepare(
        db, u"SELECT %1 FROM HISTALTERACAO WHERE NRCADEIA IS NULL OR NRCADEIA <= ? "
            "ORDER BY NRCADEIA"_s.arg(Columns()));
    outside.setForwardOnly(true);
    outside.bindValue(0, head.Anchor);
    Database::Exec(outside);
    while (Database::Next(outside)) {
        const Row row = FromQuery(outside, 0);
        noteBreak(v, breakAt(row, row.Chain == 0
                                      ? u"a linha não tem número na cadeia: foi incluída por fora "
                                        "do servidor"_s
                                      : u"a linha é anterior à âncora da cadeia (%1): deveria ter "
                                        "sido removida com as anteriores"_s.arg(head.Anchor)));
    }
    return v;
}

} // namespace HistoryChain
