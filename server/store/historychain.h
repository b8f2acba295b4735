#pragma once

#include "database.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QVariant>

#include <optional>

// The change history as a hash chain: each row carries the SHA-256 of the row before it and of
// its own contents, so a row edited, removed, inserted or moved by hand (sqlite3, psql) breaks
// the chain at that row. The chain's head (last number and hash) and its anchor (the last row
// pruned away, or the start) live in HISTCADEIA.
//
// Canonical form of a row, hashed as UTF-8 with nothing after it:
//   PREVIOUS TAB NRCADEIA TAB IDALTERACAO TAB NRSEQ TAB DTALTERACAO TAB NMOPERADOR TAB
//   IDVERIFICADO TAB NMMETODO TAB IDOPERACAO TAB CDEMPRESA TAB NMCAMPO TAB TPCAMPO TAB
//   VLANTERIOR TAB VLNOVO
// PREVIOUS is the previous row's hash in lower-case hex (Start for the first row); numbers in
// decimal; DTALTERACAO in UTC as 2026-12-08T14:03:27.120Z; a null as the empty text; in texts a
// backslash, tab, line feed and carriage return are written \\, \t, \n and \r.
namespace HistoryChain {

// What the first row chains from.
inline constexpr char Start[] = "0000000000000000000000000000000000000000000000000000000000000000";

struct Row {
    qint64 Chain = 0; // NRCADEIA
    QString Id;       // IDALTERACAO
    qint64 Seq = 0;   // NRSEQ
    QString Time;     // canonical, see TimeText
    QString Operator;
    QString Verified;
    QString Method;
    QString Operation;
    QString Company; // empty for null
    QString Field;
    QString Type;
    QString Before; // empty for null
    QString After;  // empty for null
};

// `text` as UTF-8 with a backslash, tab, line feed and carriage return written \\, \t, \n and
// \r: the canonical form's texts, and also PostgreSQL's COPY text form.
void AppendEscaped(QByteArray &out, const QString &text);

// The hash of `row` after `previous`, in lower-case hex.
QByteArray Link(const QByteArray &previous, const Row &row);

// A stored DTALTERACAO, in whatever form the driver gives it, as UTC with milliseconds.
QString TimeText(const QVariant &stored);

// The columns, in Row's order, for reading rows back: "NRCADEIA, IDALTERACAO, ..., CDHASH".
QString Columns();
// A row read with Columns() from `first`; the stored hash in *hash when given.
Row FromQuery(const QSqlQuery &q, int first, QByteArray *hash = nullptr);

struct Head {
    qint64 Last = 0;       // NRULTIMO: the last row's number
    QByteArray LastHash;   // CDULTIMO
    qint64 Anchor = 0;     // NRANCORA: the last row pruned away (0: none)
    QByteArray AnchorHash; // CDANCORA
};

// The head, locked against other writers until the transaction ends (PostgreSQL; SQLite's write
// lock already is). REQUIRES: in a writing transaction.
Head Lock(QSqlDatabase &db, Database::Dialect dialect);
// REQUIRES: in the transaction that took Lock.
void Advance(QSqlDatabase &db, qint64 last, const QByteArray &hash);
// The head as it stands, unlocked.
Head Read(QSqlDatabase &db);

// Numbers and hashes, in (DTALTERACAO, IDALTERACAO, NRSEQ) order, every row the history holds
// without one: done once by the migration that brings the chain.
// REQUIRES: in a writing transaction.
void ChainUnchained(QSqlDatabase &db);

struct Break {
    qint64 Chain = 0; // the row's number; 0 for a row outside the chain
    QString Id;
    QString Company;
    QString Field;
    QString Time;
    QString Reason; // Portuguese
    QString Text() const;
};

struct Verdict {
    // Rows listed by number; the rest only counted.
    static constexpr qsizetype MostListed = 100;

    qint64 Rows = 0; // rows checked
    Head At;         // the head as read
    std::optional<Break> First;
    QList<Break> Breaks; // every row that does not verify, up to MostListed, First among them
    qint64 BreakCount = 0;
    // Rows that verify only as an earlier release hashed a text it had cut through a character
    // (see OldCutForm): its own writes, not a tampering. Numbers up to MostListed.
    QList<qint64> OldCut;
    qint64 OldCutCount = 0;
};

// An earlier release cut the operator's name and the history's values to 60 UTF-16 units
// without regard to characters: half a pair was hashed as '?' and read back from SQLite as
// U+FFFD. The text as that release hashed it, when `stored` is such a text; else empty.
QString OldCutForm(const QString &stored);

// Follows the chain from its anchor (`tail` 0) or over its last `tail` rows, past every row that
// does not match, so a real edit behind a first break is still seen. Rows outside the chain
// (without a number) are found as well.
// REQUIRES: in a reading transaction.
Verdict Verify(QSqlDatabase &db, qint64 tail = 0);

} // namespace HistoryChain
