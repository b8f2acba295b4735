#pragma once

#include "packetwriter.h"
#include "paramrecord.h"

#include <QSqlDatabase>
#include <QString>
#include <QVector>

struct sqlite3;
struct sqlite3_stmt;

// A large read on SQLite straight from the engine into a packet's JSON: no variant per value,
// no copy of the row. The connection is the one Qt Sql opened (its handle), so the statement
// runs inside the call's transaction like any other.
// Every method that hands out whole tables on SQLite reads through here, so a text stored by
// other means as invalid UTF-8 reads alike through all of them: every byte that is no part of a
// well-formed character becomes one U+FFFD, as QString::fromUtf8 reads it (Qt Sql's driver lets
// SQLite convert, which turns some such bytes into other characters).
class SqliteReader final {
public:
    // Null when the connection is not SQLite's.
    static sqlite3 *Handle(QSqlDatabase &db);

    // Every row of `sql`, its columns written as `columns` say (dates as ISO text, the rest as
    // text), one packet row per row. Throws QSqlError on a failing statement.
    static void WriteRows(sqlite3 *handle, const QString &sql,
                          const QVector<ParamRecord::Column> &columns, TPacketWriter &out);
    // The same from a prepared statement (one the connection keeps, say), stepped to its end.
    static void WriteRows(sqlite3_stmt *statement, const QVector<ParamRecord::Column> &columns,
                          TPacketWriter &out);
};
