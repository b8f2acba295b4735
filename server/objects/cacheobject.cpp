#include "cacheobject.h"

#include "database.h"
#include "methodcall.h"
#include "packet.h"
#include "packetwriter.h"
#include "paramrecord.h"
#include "rules/textcut.h"
#include "sqlitereader.h"

#include <QJsonObject>

using namespace Qt::StringLiterals;

namespace {

constexpr auto GetTabela = "GetTabela";
constexpr auto GetServidor = "GetServidor";

// The table's columns named in `list` ("CDEMPRESA,NMEMPRESA"), in the table's order. Names
// compare without case; an unknown name, or none at all, is refused. Linear in the list: each
// name is looked up among the table's few columns.
QVector<ParamRecord::Column> Chosen(const QVector<ParamRecord::Column> &all, const QString &list) {
    if (list.trimmed().isEmpty())
        throw CallFailure{u"invalid_argument"_s, u"Nenhuma coluna pedida."_s};
    QVector<bool> wanted(all.size(), false);
    for (QStringView name : QStringView(list).split(u',')) {
        name = name.trimmed();
        qsizetype found = -1;
        for (qsizetype i = 0; i < all.size() && found < 0; ++i)
            if (name.compare(QLatin1StringView(all.at(i).Name), Qt::CaseInsensitive) == 0)
                found = i;
        if (found < 0)
            throw CallFailure{
                u"invalid_argument"_s,
                u"Coluna '%1' não disponível para cópia local."_s.arg(TextCut::Left(name, 40))};
        wanted[found] = true;
    }
    QVector<ParamRecord::Column> chosen;
    for (qsizetype i = 0; i < all.size(); ++i)
        if (wanted.at(i))
            chosen.append(all.at(i));
    return chosen;
}

} // namespace

CacheObject::CacheObject(Database &database)
    : m_database(database) {}

QString CacheObject::Name() const {
    return u"Host.Cache"_s;
}

QStringList CacheObject::Methods() const {
    return {QString::fromLatin1(GetTabela), QString::fromLatin1(GetServidor)};
}

bool CacheObject::HasMethod(const QString &method) const {
    return method == QLatin1StringView(GetTabela) || method == QLatin1StringView(GetServidor);
}

CallOutcome CacheObject::Invoke(const QString &method, const QJsonArray &params) {
    CallOutcome outcome;
    if (!HasMethod(method)) {
        outcome.ProtocolError =
            JsonRpc::Error{JsonRpc::MethodNotFound, u"Método desconhecido: %1"_s.arg(method)};
        return outcome;
    }
    // What the host's About box shows: which server, over which database.
    if (method == QLatin1StringView(GetServidor)) {
        if (auto fault = MethodCall::CheckParams(method, params, {})) {
            outcome.ProtocolError = *fault;
            return outcome;
        }
        const bool sqlite = m_database.Kind() == Database::Dialect::Sqlite;
        outcome.Result = TResultEnvelope::Success(
            QJsonObject{{u"versao"_s, QStringLiteral(GER_VERSION)},
                        {u"banco"_s, sqlite ? u"SQLite"_s : u"PostgreSQL"_s}});
        return outcome;
    }
    // An optional second argument names the columns wanted: a local copy that keeps a few of
    // them need not receive, nor store, the rest.
    const QVector<MethodCall::Arg> expected =
        params.size() == 2 ? QVector<MethodCall::Arg>{MethodCall::Arg::Text, MethodCall::Arg::Text}
                           : QVector<MethodCall::Arg>{MethodCall::Arg::Text};
    if (auto fault = MethodCall::CheckParams(method, params, expected)) {
        outcome.ProtocolError = *fault;
        return outcome;
    }
    outcome.Result = MethodCall::Guard([&] {
        const QString table = params.at(0).toString().trimmed().toUpper();
        TFieldDefs defs;
        QVector<ParamRecord::Column> columns;
        if (table == u"EMPRESA"_s) {
            columns = {{"CDEMPRESA", ParamRecord::Kind::Text, 2},
                       {"NMEMPRESA", ParamRecord::Kind::Text, 40}};
        } else if (table == u"CONTOPECTBL"_s) {
            columns = ParamRecord::StoredColumns();
        } else {
            throw CallFailure{
                u"invalid_argument"_s,
                u"Tabela '%1' não disponível para cópia local."_s.arg(params.at(0).toString())};
        }
        if (params.size() == 2)
            columns = Chosen(columns, params.at(1).toString());
        QStringList names;
        for (const ParamRecord::Column &c : columns) {
            names.append(QString::fromLatin1(c.Name));
            defs.append(ParamRecord::FieldDef(c));
        }
        QByteArray payload;
        m_database.Transaction(Database::Access::SingleRead, [&](QSqlDatabase &db) {
            TPacketWriter packet(defs);
            const QString sql =
                u"SELECT %1 FROM %2 ORDER BY CDEMPRESA"_s.arg(names.join(u", "_s), table);
            // On SQLite the rows come from the engine as GetContOpe reads them, so that a text
            // stored by other means as invalid UTF-8 reads the same through both.
            if (sqlite3 *handle = SqliteReader::Handle(db)) {
                SqliteReader::WriteRows(handle, sql, columns, packet);
            } else {
                QSqlQuery &q = Database::Statement(db, sql);
                Database::Exec(q);
                while (Database::Next(q)) {
                    for (int i = 0; i < columns.size(); ++i)
                        ParamRecord::WriteStored(packet, columns.at(i), q.value(i));
                    packet.EndRow();
                }
            }
            payload = packet.Finish();
        });
        return TResultEnvelope::SuccessRaw(std::move(payload));
    });
    return outcome;
}
