#include "sqlitereader.h"

#include <QSqlDriver>
#include <QSqlError>
#include <QVariant>

#include <sqlite3.h>

#include <memory>

using namespace Qt::StringLiterals;

sqlite3 *SqliteReader::Handle(QSqlDatabase &db) {
    // Qt's SQLite driver links the system's libsqlite3, the one this program links: the handle
    // is good for its functions.
    const QVariant handle = db.driver() ? db.driver()->handle() : QVariant();
    if (!handle.isValid() || qstrcmp(handle.typeName(), "sqlite3*") != 0)
        return nullptr;
    return *static_cast<sqlite3 *const *>(handle.constData());
}

void SqliteReader::WriteRows(sqlite3 *handle, const QString &sql,
                             const QVector<ParamRecord::Column> &columns, TPacketWriter &out) {
    sqlite3_stmt *raw = nullptr;
    const QByteArray text = sql.toUtf8();
    if (sqlite3_prepare_v2(handle, text.constData(), int(text.size()), &raw, nullptr) != SQLITE_OK)
        throw QSqlError(u"SqliteReader"_s, QString::fromUtf8(sqlite3_errmsg(handle)),
                        QSqlError::StatementError);
    const std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt *)> statement(raw, sqlite3_finalize);
    WriteRows(raw, columns, out);
}

void SqliteReader::WriteRows(sqlite3_stmt *statement, const QVector<ParamRecord::Column> &columns,
                             TPacketWriter &out) {
    const int count = int(columns.size());
    const ParamRecord::Column *const column = columns.constData();
    int rc = SQLITE_ROW;
    while ((rc = sqlite3_step(statement)) == SQLITE_ROW) {
        for (int i = 0; i < count; ++i) {
            // No text is a null value or memory the engine could not get; anything else reads
            // as empty.
            const auto *bytes = reinterpret_cast<const char *>(sqlite3_column_text(statement, i));
            if (!bytes) {
                if (sqlite3_column_type(statement, i) == SQLITE_NULL) {
                    out.Null();
                    continue;
                }
                sqlite3 *const handle = sqlite3_db_handle(statement);
                if (sqlite3_errcode(handle) == SQLITE_NOMEM)
                    throw QSqlError(u"SqliteReader"_s, QString::fromUtf8(sqlite3_errmsg(handle)),
                                    QSqlError::StatementError);
                bytes = "";
            }
            const QByteArrayView value(bytes, sqlite3_column_bytes(statement, i));
            if (column[i].ColumnKind == ParamRecord::Kind::Date) {
                // Kept as ISO text; anything else reads as the stored value always has.
                if (!out.IsoDate(value))
                    ParamRecord::WriteStored(out, column[i], QString::fromUtf8(value));
            } else {
                out.Utf8Text(value);
            }
        }
        out.EndRow();
    }
    if (rc != SQLITE_DONE)
        throw QSqlError(u"SqliteReader"_s,
                        QString::fromUtf8(sqlite3_errmsg(sqlite3_db_handle(statement))),
                        QSqlError::StatementError);
}
