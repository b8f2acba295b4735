#include "components/adoibquery.h"

#include "components/hostinterface.h"
#include "dataset/exceptions.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>

using namespace Qt::StringLiterals;

namespace {

bool IsNameChar(QChar c) {
    return c.isLetterOrNumber() || c == u'_';
}

// Splits the text into the SQL the driver receives (each ":NAME" becomes "?") and the names in
// order of appearance. Quoted text and "::" are left alone.
QString Positional(const QString &sql, QStringList *names) {
    QString out;
    out.reserve(sql.size());
    QChar quote;
    for (qsizetype i = 0; i < sql.size(); ++i) {
        const QChar c = sql[i];
        if (!quote.isNull()) {
            out += c;
            if (c == quote)
                quote = QChar();
            continue;
        }
        if (c == u'\'' || c == u'"') {
            quote = c;
            out += c;
            continue;
        }
        if (c == u':' && i + 1 < sql.size() && sql[i + 1] == u':') {
            out += u"::"_s;
            ++i;
            continue;
        }
        if (c == u':' && i + 1 < sql.size() && IsNameChar(sql[i + 1])) {
            qsizetype end = i + 1;
            while (end < sql.size() && IsNameChar(sql[end]))
                ++end;
            if (names)
                names->append(sql.mid(i + 1, end - i - 1));
            out += u'?';
            i = end - 1;
            continue;
        }
        out += c;
    }
    return out;
}

QVariant Convert(const QVariant &raw, TFieldType type) {
    if (raw.isNull())
        return {};
    switch (type) {
    case TFieldType::String:
        return raw.toString();
    case TFieldType::Integer:
        return raw.toLongLong();
    case TFieldType::Float:
        return raw.toDouble();
    case TFieldType::Date: {
        if (raw.typeId() == QMetaType::Double || raw.typeId() == QMetaType::LongLong ||
            raw.typeId() == QMetaType::Int)
            return raw.toDouble();
        const QString text = raw.toString();
        if (auto iso = DateTimeUtil::FromIso(text))
            return *iso;
        if (auto shown = DateTimeUtil::ParseDate(text))
            return *shown;
        return {};
    }
    }
    return {};
}

} // namespace

TADOIBQuery::TADOIBQuery(QObject *parent)
    : TClientDataSet(parent) {}

TADOIBQuery::TADOIBQuery(const QString &name, QObject *parent)
    : TClientDataSet(parent) {
    setObjectName(name);
}

void TADOIBQuery::SetDatabase(const QSqlDatabase &database) {
    m_database = database;
    m_hasDatabase = true;
}

QSqlDatabase TADOIBQuery::Database() const {
    return m_hasDatabase ? m_database : Host()->LocalDatabase();
}

void TADOIBQuery::SetSQL(const QString &sql) {
    Close();
    m_sql = sql;
    QStringList names;
    Positional(sql, &names);
    std::deque<TParam> params;
    for (const QString &name : names) {
        bool seen = false;
        for (const TParam &param : params)
            seen = seen || param.Name().compare(name, Qt::CaseInsensitive) == 0;
        if (seen)
            continue;
        params.emplace_back(name);
        if (TParam *old = FindParam(name))
            params.back().SetValue(old->Value());
    }
    m_params = std::move(params);
}

TParam &TADOIBQuery::Params(int index) {
    if (index < 0 || index >= ParamCount())
        throw EDatabaseError(u"Parâmetro %1 fora da faixa."_s.arg(index));
    return m_params[size_t(index)];
}

TParam *TADOIBQuery::FindParam(const QString &name) {
    for (TParam &param : m_params)
        if (param.Name().compare(name, Qt::CaseInsensitive) == 0)
            return &param;
    return nullptr;
}

TParam &TADOIBQuery::ParamByName(const QString &name) {
    if (TParam *param = FindParam(name))
        return *param;
    throw EDatabaseError(u"Parâmetro '%1' não encontrado."_s.arg(name));
}

void TADOIBQuery::SetFieldDef(const QString &name, TFieldType type, int size, const QString &label,
                              bool required, bool visible) {
    for (ColumnDef &def : m_columnDefs) {
        if (def.Name.compare(name, Qt::CaseInsensitive) == 0) {
            def = {name, type, size, label, required, visible};
            return;
        }
    }
    m_columnDefs.append({name, type, size, label, required, visible});
}

void TADOIBQuery::Open() {
    QStringList names;
    const QString sql = Positional(m_sql, &names);
    QSqlQuery query(Database());
    query.setForwardOnly(true);
    if (!query.prepare(sql))
        throw EDatabaseError(
            u"Erro na consulta '%1': %2"_s.arg(objectName(), query.lastError().text()));
    for (int i = 0; i < names.size(); ++i) {
        const TParam &param = ParamByName(names[i]);
        query.bindValue(i,
                        param.IsNull() ? QVariant(QMetaType(QMetaType::QString)) : param.Value());
    }
    if (!query.exec())
        throw EDatabaseError(
            u"Erro na consulta '%1': %2"_s.arg(objectName(), query.lastError().text()));

    const QSqlRecord record = query.record();
    const int columns = record.count();
    QVector<QVector<QVariant>> raw;
    while (query.next()) {
        QVector<QVariant> row(columns);
        for (int c = 0; c < columns; ++c)
            row[c] = query.value(c);
        raw.append(row);
    }

    TTablePacket packet;
    QVector<const ColumnDef *> declared(columns, nullptr);
    for (int c = 0; c < columns; ++c) {
        TFieldDef def;
        def.Name = record.fieldName(c);
        for (const ColumnDef &column : m_columnDefs)
            if (column.Name.compare(def.Name, Qt::CaseInsensitive) == 0)
                declared[c] = &column;
        if (declared[c]) {
            def.DataType = declared[c]->Type;
            def.Size = declared[c]->Size;
            def.Required = declared[c]->Required;
        } else {
            // Undeclared: the values decide (SQLite columns carry no reliable type).
            bool allInt = true, allNumber = true, any = false;
            int width = 1;
            for (const auto &row : raw) {
                const QVariant &value = row[c];
                if (value.isNull())
                    continue;
                any = true;
                const int id = value.typeId();
                allInt = allInt && (id == QMetaType::LongLong || id == QMetaType::Int);
                allNumber = allNumber && (allInt || id == QMetaType::Double);
                width = std::max(width, int(value.toString().size()));
            }
            def.DataType = !any || !allNumber ? TFieldType::String
                           : allInt           ? TFieldType::Integer
                                              : TFieldType::Float;
            def.Size = def.DataType == TFieldType::String ? width : 0;
        }
        packet.Fields.append(def);
    }
    for (const auto &row : raw) {
        TRowValues values(columns);
        for (int c = 0; c < columns; ++c)
            values[c] = Convert(row[c], packet.Fields[c].DataType);
        packet.Rows.append(values);
    }
    query.finish();

    SetData(packet);
    for (int c = 0; c < columns; ++c) {
        if (!declared[c])
            continue;
        TField *field = Fields(c);
        if (!declared[c]->Label.isEmpty())
            field->SetDisplayLabel(declared[c]->Label);
        field->SetVisible(declared[c]->Visible);
    }
}

void TADOIBQuery::Close() {
    TClientDataSet::Close();
}
