#pragma once

#include <QString>
#include <QStringList>

#include <functional>

class Database;

// Companies, balances and entries from CSV files into the database: every row checked as the
// server checks what clients send and made ready to bind, then the whole file applied in one
// transaction, each row inserted or updated by its key. A file with any bad row writes nothing.
namespace CsvImport {

QStringList Kinds(); // "empresas", "saldos", "lancamentos"

struct Progress {
    // Called now and then while rows are applied: rows done, rows in all.
    std::function<void(qint64, qint64)> Step;
    // Called now and then while the file is checked: rows read, bytes read, the file's bytes.
    std::function<void(qint64, qint64, qint64)> Checking;
};

struct Outcome {
    bool Ok = false;
    QStringList Errors;    // "linha N, coluna X: motivo", the first MaxListedErrors
    qint64 ErrorCount = 0; // all of them
    qint64 Rows = 0;       // keys: a key the file repeats counts once
    qint64 Inserted = 0, Updated = 0, Unchanged = 0, Removed = 0;
    qint64 WriteMs = 0;      // how long the writing pass held the database's write lock
    QString Summary() const; // "1.000 empresas: 12 novas, 988 alteradas, 0 iguais"
    QString Noun;
    bool Feminine = false;
};

constexpr int MaxListedErrors = 100;

// An amount as the database hands it out ("1234.5", "100", "-0.125") in cents, rounded half
// away from zero as NUMERIC(15,2) rounds: a SQLite file may hold more decimals than the column
// declares.
qint64 StoredCents(const QString &stored);
// Cents as text with `mark` before the two decimals: "-1234,50".
QString CentsText(qint64 cents, QChar mark);

// REQUIRES: `kind` one of Kinds(); the schema in place. `dryRun`: the checking pass alone, and
// the counts the writing pass would give, from the database as it is; nothing written.
Outcome Run(Database &database, const QString &kind, const QString &path, const Progress &progress,
            bool dryRun = false);

} // namespace CsvImport
