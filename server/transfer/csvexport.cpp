#include "csvexport.h"

#include "csvimport.h"
#include "database.h"
#include "historychain.h"
#include "paramrecord.h"

#include <QDateTime>
#include <QFile>

#include <cstdio>

using namespace Qt::StringLiterals;

namespace {

// UtcTime: the history's moment exactly as its chain hashes it (UTC, milliseconds).
enum class Type { Text, Date, Timestamp, Amount, UtcTime };

struct Column {
    Column(QString name, Type type = Type::Text, QString expr = {})
        : Name(std::move(name))
        , ColumnType(type)
        , Expr(std::move(expr)) {}
    QString Name;
    Type ColumnType = Type::Text;
    QString Expr; // what is selected, when it is not the column itself
};

struct KindDef {
    QString Table;
    QString Order;
    QVector<Column> Columns;
};

KindDef Find(const QString &kind) {
    if (kind == u"empresas"_s)
        return {u"EMPRESA"_s, u"CDEMPRESA"_s, {{u"CDEMPRESA"_s}, {u"NMEMPRESA"_s}}};
    if (kind == u"saldos"_s)
        return {u"SALDEMPR"_s,
                u"CDEMPRESA, DTSALDEMPR, CDCONTA"_s,
                {{u"CDEMPRESA"_s},
                 {u"DTSALDEMPR"_s, Type::Date},
                 {u"CDCONTA"_s},
                 {u"VRSALDODEB"_s, Type::Amount},
                 {u"VRSALDOCRED"_s, Type::Amount}}};
    if (kind == u"lancamentos"_s)
        return {u"LANCCONT"_s,
                u"NRLANC"_s,
                {{u"NRLANC"_s},
                 {u"CDEMPRESA"_s},
                 {u"DTLANC"_s, Type::Date},
                 {u"CDCONTA"_s},
                 {u"VRLANC"_s, Type::Amount},
                 {u"IDEVOLUIDO"_s},
                 {u"IDRECALCFISC"_s}}};
    if (kind == u"parametros"_s) {
        KindDef def{u"CONTOPECTBL"_s, u"CDEMPRESA"_s, {}};
        for (const ParamRecord::Column &c : ParamRecord::StoredColumns())
            def.Columns.append({QString::fromLatin1(c.Name),
                                c.ColumnKind == ParamRecord::Kind::Date ? Type::Date : Type::Text});
        return def;
    }
    if (kind == u"paramgeral"_s)
        return {u"PARAMGERAL"_s, u"IDPARAMGERAL"_s, {{u"IDCONTAJUDTCOMP"_s}}};
    if (kind == u"fechamentos"_s)
        return {u"FECHAPERIODO"_s,
                u"DTREGISTRO, CDEMPRESA"_s,
                {{u"CDEMPRESA"_s},
                 {u"DSDATA"_s},
                 {u"NMOPERADOR"_s},
                 {u"DTREGISTRO"_s, Type::Timestamp}}};
    // In the chain's order, each row with the hash it follows, so the file verifies on its own
    // (the first row follows the chain's anchor); rows outside the chain last.
    if (kind == u"historico"_s)
        return {u"HISTALTERACAO"_s,
                u"NRCADEIA IS NULL, NRCADEIA, DTALTERACAO, IDALTERACAO, NRSEQ"_s,
                {{u"NRCADEIA"_s},
                 {u"IDALTERACAO"_s},
                 {u"NRSEQ"_s},
                 {u"DTALTERACAO"_s, Type::UtcTime},
                 {u"NMOPERADOR"_s},
                 {u"IDVERIFICADO"_s},
                 {u"NMMETODO"_s},
                 {u"IDOPERACAO"_s},
                 {u"CDEMPRESA"_s},
                 {u"NMCAMPO"_s},
                 {u"TPCAMPO"_s},
                 {u"VLANTERIOR"_s},
                 {u"VLNOVO"_s},
                 {u"CDHASHANTERIOR"_s, Type::Text,
                  u"CASE WHEN NRCADEIA IS NULL THEN NULL ELSE COALESCE(LAG(CDHASH) OVER (ORDER "
                  "BY NRCADEIA IS NULL, NRCADEIA), (SELECT CDANCORA FROM HISTCADEIA)) END"_s},
                 {u"CDHASH"_s}}};
    return {};
}

QString Formatted(const Column &column, const QVariant &value) {
    if (value.isNull())
        return {};
    switch (column.ColumnType) {
    case Type::Date: {
        const QDate date = ParamRecord::StoredDate(value);
        return date.isValid() ? date.toString(u"dd/MM/yyyy"_s) : QString();
    }
    case Type::Timestamp: {
        QDateTime time = value.toDateTime();
        if (value.metaType().id() != QMetaType::QDateTime)
            time = QDateTime::fromString(value.toString().replace(u' ', u'T'), Qt::ISODate);
        return time.isValid() ? time.toString(u"dd/MM/yyyy HH:mm:ss"_s) : value.toString();
    }
    case Type::Amount:
        return CsvImport::CentsText(CsvImport::StoredCents(value.toString()), u',');
    case Type::UtcTime:
        return HistoryChain::TimeText(value);
    case Type::Text:
        break;
    }
    return value.toString();
}

// Quotes only where the reader needs them, so a plain file stays plain.
void Append(QByteArray &out, const QString &field) {
    const QByteArray bytes = field.toUtf8();
    const bool quote = bytes.contains(';') || bytes.contains('"') || bytes.contains('\n') ||
                       bytes.contains('\r') || bytes.startsWith(' ') || bytes.endsWith(' ');
    if (!quote) {
        out += bytes;
        return;
    }
    out += '"';
    for (const char c : bytes) {
        if (c == '"')
            out += '"';
        out += c;
    }
    out += '"';
}

} // namespace

namespace CsvExport {

QStringList Kinds() {
    return {u"empresas"_s,   u"saldos"_s,      u"lancamentos"_s, u"parametros"_s,
            u"paramgeral"_s, u"fechamentos"_s, u"historico"_s};
}

bool Run(Database &database, const QString &kind, const QString &path, qint64 *rows,
         QString *error, const QString &condition) {
    const KindDef def = Find(kind);
    QFile file;
    const bool opened = path == u"-"_s ? file.open(stdout, QIODevice::WriteOnly)
                                       : (file.setFileName(path),
                                          file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    if (!opened) {
        *error = u"não foi possível escrever em %1: %2"_s.arg(path, file.errorString());
        return false;
    }
    *rows = 0;
    QStringList names, selected;
    for (const Column &c : def.Columns) {
        names << c.Name;
        selected << (c.Expr.isEmpty() ? c.Name : c.Expr);
    }
    QByteArray buffer;
    const auto flush = [&] {
        if (file.write(buffer) != buffer.size())
            throw CallFailure{u"io"_s,
                              u"falha ao escrever em %1: %2"_s.arg(path, file.errorString())};
        buffer.clear();
    };
    try {
        // One read transaction: the file is one moment of the database.
        database.Transaction(Database::Access::Read, [&](QSqlDatabase &db) {
            *rows = 0;
            buffer = names.join(u';').toUtf8() + "\r\n";
            QSqlQuery q(db);
            q.setForwardOnly(true);
            q.setNumericalPrecisionPolicy(QSql::HighPrecision);
            if (!q.exec(u"SELECT %1 FROM %2%3 ORDER BY %4"_s.arg(
                    selected.join(u", "_s), def.Table,
                    condition.isEmpty() ? QString() : u" WHERE "_s + condition, def.Order)))
                throw q.lastError();
            while (q.next()) {
                for (qsizetype i = 0; i < def.Columns.size(); ++i) {
                    if (i > 0)
                        buffer += ';';
                    Append(buffer, Formatted(def.Columns[i], q.value(int(i))));
                }
                buffer += "\r\n";
                ++*rows;
                if (buffer.size() > 64 * 1024)
                    flush();
            }
            flush();
        });
    } catch (const CallFailure &failure) {
        *error = failure.Message;
        return false;
    }
    if (!file.flush()) {
        *error = u"falha ao escrever em %1: %2"_s.arg(path, file.errorString());
        return false;
    }
    return true;
}

} // namespace CsvExport
