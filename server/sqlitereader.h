#pragma once

#include "packetwriter.h"
#include "paramrecord.h"

#include <QSqlDatabase>
#include <QString>
#include <QVector>

struct sqlite3;

// A large read on SQLite straight from the engine into a packet's JSON: no variant per value,
// no copy of the row. The connection is the one Qt Sql opened (its handle), so the statement
// runs inside the call's transaction like any other.
class SqliteReader final {
public:
    // Null when the connection is not SQLite's.
    static sqlite3 *Handle(QSqlDatabase &db);

    // Every row of `sql`, its columns written as `columns` say (dates as ISO text, the rest as
    // text), one packet row per row. Throws QSqlError on a failing statement.
    static void WriteRows(sqlite3 *handle, const QString &sql,
                          const QVector<ParamRecord::Column> &columns, TPacketWriter &out);
};
