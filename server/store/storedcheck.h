#pragma once

#include <QList>
#include <QString>
#include <QStringList>

class Database;
class QSqlDatabase;

// Rows that a client cannot read back: a company code that is not two characters, a text longer
// than the size its packet declares, control characters, a flag other than S/N, invalid UTF-8.
// Rows written by the server always fit; these come from SQL typed by hand or other tools, and
// one of them is enough to make every desktop fail on the screen that lists it.
namespace StoredCheck {

struct Finding {
    QString Table;
    QString Company; // escaped for printing; empty for a table without companies
    QString Key;     // what tells the row apart inside its company, when anything does
    QString Column;
    QString Reason;      // Portuguese
    bool Orphan = false; // rows of a company EMPRESA does not hold
};

// One statement per table selects the suspects (length, a character outside printable ASCII,
// a flag outside S/N), so the cost grows with the tables' size only inside the database; the
// few suspects are then judged here. At most `limit` findings per table. Throws QSqlError or
// CallFailure like any other database work.
enum class Scope {
    Served, // what the desktops receive: at every start
    All     // with the entries and balances too: `ger-server check`
};
QList<Finding> Run(Database &database, Scope scope, int limit = 1000);

// The companies EMPRESA does not hold that rows of the tables referring to it name: one finding
// per table and company, with the count of its rows, at most `limit` per table. These rows keep
// PostgreSQL from taking a copy of the database. Throws like Run.
QList<Finding> Orphans(QSqlDatabase &db, int limit = 1000);

// Why a company code cannot be served; empty when it can.
QString CodeFault(const QString &code);

// The companies named by the findings, each once, in order ("parâmetro geral" for rows without
// one).
QStringList Companies(const QList<Finding> &findings);

// `ger-server check`: the same options as the server (--db, --config), prints each finding on
// stdout; 0 when nothing was found, 1 when something was or the database could not be read, 2
// on a wrong command line.
int Command(const QStringList &arguments);

} // namespace StoredCheck
