#include "cacheobject.h"

#include "database.h"
#include "methodcall.h"
#include "packet.h"
#include "paramrecord.h"

using namespace Qt::StringLiterals;

namespace {

constexpr auto GetTabela = "GetTabela";

} // namespace

CacheObject::CacheObject(Database &database)
    : m_database(database) {}

QString CacheObject::Name() const {
    return u"Host.Cache"_s;
}

bool CacheObject::HasMethod(const QString &method) const {
    return method == QLatin1StringView(GetTabela);
}

CallOutcome CacheObject::Invoke(const QString &method, const QJsonArray &params) {
    CallOutcome outcome;
    if (!HasMethod(method)) {
        outcome.ProtocolError =
            JsonRpc::Error{JsonRpc::MethodNotFound, u"Método desconhecido: %1"_s.arg(method)};
        return outcome;
    }
    if (auto fault = MethodCall::CheckParams(method, params, {MethodCall::Arg::Text})) {
        outcome.ProtocolError = *fault;
        return outcome;
    }
    outcome.Result = MethodCall::Guard([&] {
        const QString table = params.at(0).toString().trimmed().toUpper();
        TTablePacket packet;
        QString sql;
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
        QStringList names;
        for (const ParamRecord::Column &c : columns) {
            names.append(QString::fromLatin1(c.Name));
            packet.Fields.append(ParamRecord::FieldDef(c));
        }
        m_database.Transaction(Database::Access::Read, [&](QSqlDatabase &db) {
            QSqlQuery q = Database::Prepare(
                db, u"SELECT %1 FROM %2 ORDER BY CDEMPRESA"_s.arg(names.join(u", "_s), table));
            Database::Exec(q);
            while (q.next()) {
                TRowValues row;
                row.reserve(columns.size());
                for (int i = 0; i < columns.size(); ++i)
                    row.append(ParamRecord::FromStorage(columns.at(i), q.value(i)));
                packet.Rows.append(row);
            }
        });
        return TResultEnvelope::Success(Packet::ToJson(packet));
    });
    return outcome;
}
