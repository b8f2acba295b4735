#include "localdatabase.h"

#include "dataset/datetime.h"
#include "dataset/exceptions.h"
#include "dataset/packet.h"
#include "rpc/netconnection.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QSqlError>
#include <QSqlQuery>

using namespace Qt::StringLiterals;

namespace {

QString ConnName() {
    return QString::fromLatin1(LocalDatabase::ConnectionName);
}

// Table names come from the host's own list, but they are spliced into DDL: refuse anything
// that is not a plain identifier.
bool IsIdentifier(const QString &name) {
    if (name.isEmpty())
        return false;
    for (const QChar c : name) {
        if (!(c.isLetterOrNumber() || c == u'_') || c.unicode() > 127)
            return false;
    }
    return !name.front().isDigit();
}

QString SqlType(TFieldType type) {
    switch (type) {
    case TFieldType::Integer:
        return u"INTEGER"_s;
    case TFieldType::Float:
        return u"REAL"_s;
    case TFieldType::String:
    case TFieldType::Date:
        break;
    }
    return u"TEXT"_s; // dates kept as ISO text, like on the wire
}

QVariant SqlValue(const TFieldDef &def, const QVariant &value) {
    if (value.isNull())
        return QVariant(QMetaType::fromType<QString>());
    if (def.DataType == TFieldType::Date)
        return DateTimeUtil::ToIso(value.toDouble());
    return value;
}

void Fail(const QString &what, const QSqlError &error) {
    throw Exception(u"Banco local: %1 (%2)"_s.arg(what, error.text()));
}

// What a packet holds, shape and values, as a short digest: a copy made from the same packet
// need not be written again.
QByteArray Digest(const TTablePacket &packet) {
    QCryptographicHash hash(QCryptographicHash::Sha256);
    auto add = [&hash](const QString &text) {
        const qint64 size = text.size();
        hash.addData(QByteArrayView(reinterpret_cast<const char *>(&size), sizeof size));
        hash.addData(QByteArrayView(reinterpret_cast<const char *>(text.constData()),
                                    text.size() * qsizetype(sizeof(QChar))));
    };
    for (const TFieldDef &def : packet.Fields) {
        add(def.Name);
        add(Packet::TypeName(def.DataType));
    }
    for (const TRowValues &row : packet.Rows)
        for (const QVariant &value : row)
            add(value.isNull() ? u"\x01null"_s : value.toString());
    return hash.result().toHex();
}

} // namespace

LocalDatabase::~LocalDatabase() {
    Close();
}

void LocalDatabase::Open(const QString &path) {
    Close();
    m_path = path;
    QSqlDatabase db = QSqlDatabase::addDatabase(u"QSQLITE"_s, ConnName());
    db.setDatabaseName(path);
    if (!db.open())
        Fail(u"não foi possível abrir %1"_s.arg(path), db.lastError());
    QSqlQuery q(db);
    // The copies are refilled from the server at every start: a commit need not wait for the
    // disk, but the file must stay whole after a power cut (the write-ahead log sees to both).
    q.exec(u"PRAGMA journal_mode = WAL"_s);
    q.exec(u"PRAGMA synchronous = NORMAL"_s);
    // Screens query the copies before the first refresh may have run: make sure both exist.
    if (!q.exec(u"CREATE TABLE IF NOT EXISTS EMPRESA (CDEMPRESA TEXT NOT NULL PRIMARY KEY, "
                u"NMEMPRESA TEXT)"_s) ||
        !q.exec(u"CREATE TABLE IF NOT EXISTS CONTOPECTBL (CDEMPRESA TEXT NOT NULL PRIMARY KEY)"_s) ||
        // The digest of the packet each copy was made from.
        !q.exec(u"CREATE TABLE IF NOT EXISTS COPIAS (TABELA TEXT NOT NULL PRIMARY KEY, "
                "RESUMO TEXT NOT NULL)"_s))
        Fail(u"não foi possível criar as tabelas"_s, q.lastError());
}

void LocalDatabase::Close() {
    if (!QSqlDatabase::contains(ConnName()))
        return;
    {
        QSqlDatabase db = QSqlDatabase::database(ConnName(), false);
        db.close();
    }
    QSqlDatabase::removeDatabase(ConnName());
}

QSqlDatabase LocalDatabase::Connection() const {
    return QSqlDatabase::database(ConnName(), false);
}

void LocalDatabase::ReplaceTable(const QString &name, const TTablePacket &packet) {
    if (!IsIdentifier(name))
        throw Exception(u"Banco local: nome de tabela inválido: %1"_s.arg(name));
    if (packet.Fields.isEmpty())
        throw Exception(u"Banco local: a tabela %1 veio sem campos"_s.arg(name));
    QStringList columns, placeholders;
    for (const TFieldDef &def : packet.Fields) {
        if (!IsIdentifier(def.Name))
            throw Exception(u"Banco local: nome de campo inválido: %1"_s.arg(def.Name));
        columns << u"%1 %2"_s.arg(def.Name, SqlType(def.DataType));
        placeholders << u"?"_s;
    }

    QSqlDatabase db = Connection();
    const QByteArray digest = Digest(packet);
    {
        QSqlQuery known(db);
        known.prepare(u"SELECT RESUMO FROM COPIAS WHERE TABELA = ?"_s);
        known.addBindValue(name);
        if (known.exec() && known.next() && known.value(0).toByteArray() == digest)
            return;
    }
    if (!db.transaction())
        Fail(u"não foi possível iniciar a transação"_s, db.lastError());
    try {
        QSqlQuery q(db);
        if (!q.exec(u"DROP TABLE IF EXISTS %1"_s.arg(name)))
            Fail(u"DROP %1"_s.arg(name), q.lastError());
        if (!q.exec(u"CREATE TABLE %1 (%2)"_s.arg(name, columns.join(u", "_s))))
            Fail(u"CREATE %1"_s.arg(name), q.lastError());
        if (!q.prepare(u"INSERT INTO %1 VALUES (%2)"_s.arg(name, placeholders.join(u", "_s))))
            Fail(u"INSERT %1"_s.arg(name), q.lastError());
        for (const TRowValues &row : packet.Rows) {
            for (int i = 0; i < packet.Fields.size(); ++i)
                q.bindValue(i, SqlValue(packet.Fields[i], row.value(i)));
            if (!q.exec())
                Fail(u"INSERT %1"_s.arg(name), q.lastError());
        }
        if (!q.prepare(u"INSERT OR REPLACE INTO COPIAS (TABELA, RESUMO) VALUES (?, ?)"_s))
            Fail(u"INSERT COPIAS"_s, q.lastError());
        q.addBindValue(name);
        q.addBindValue(digest);
        if (!q.exec())
            Fail(u"INSERT COPIAS"_s, q.lastError());
        if (!db.commit())
            Fail(u"COMMIT"_s, db.lastError());
    } catch (...) {
        db.rollback();
        throw;
    }
}

QString LocalDatabase::CachedColumns(const QString &table) {
    if (table.compare(u"EMPRESA"_s, Qt::CaseInsensitive) == 0)
        return u"CDEMPRESA,NMEMPRESA"_s;
    if (table.compare(u"CONTOPECTBL"_s, Qt::CaseInsensitive) == 0)
        return u"CDEMPRESA"_s;
    return {};
}

void LocalDatabase::Refresh(const QStringList &tables, TNetConnection &cache) {
    for (const QString &table : tables) {
        const QString columns = CachedColumns(table);
        const TResultEnvelope result = cache.Call(
            u"GetTabela"_s, columns.isEmpty() ? QJsonArray{table} : QJsonArray{table, columns});
        if (!result.Ok)
            throw Exception(result.ErrorMessage);
        TTablePacket packet;
        QString error;
        if (!result.PayloadPacket(packet, &error))
            throw Exception(u"Tabela %1 recebida inválida: %2"_s.arg(table, error));
        ReplaceTable(table.toUpper(), packet);
    }
}
