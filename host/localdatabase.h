#pragma once

#include <QSqlDatabase>
#include <QString>
#include <QStringList>

struct TTablePacket;
class TNetConnection;

// The host's data module dtmDBGeral: a local SQLite file holding copies of the server tables that
// screens read by query (EMPRESA, CONTOPECTBL). The copies are refreshed from the server's cache
// object; screens never write them.
class LocalDatabase final {
public:
    static constexpr const char *ConnectionName = "dtmDBGeral";

    LocalDatabase() = default;
    ~LocalDatabase();
    LocalDatabase(const LocalDatabase &) = delete;
    LocalDatabase &operator=(const LocalDatabase &) = delete;

    // Throws Exception when the file cannot be opened.
    void Open(const QString &path);
    void Close();
    QSqlDatabase Connection() const;

    // Replaces the table's whole content (and shape) with the packet, in one transaction, so a
    // reader sees the old copy or the new one, never a half-written one. A packet the same as
    // the one the copy was last made from leaves the copy alone. Throws on failure.
    void ReplaceTable(const QString &name, const TTablePacket &packet);

    // Asks the server's cache object for each table and replaces the local copy.
    void Refresh(const QStringList &tables, TNetConnection &cache);

    static QStringList CachedTables() {
        return {QStringLiteral("EMPRESA"), QStringLiteral("CONTOPECTBL")};
    }
    // The columns the screens' queries read from a copy: only these are fetched and kept, so a
    // refresh after every save stays cheap however wide the server's table is.
    static QString CachedColumns(const QString &table);

private:
    QString m_path;
};
