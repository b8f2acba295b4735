#include "storedcheck.h"

#include "database.h"
#include "historychain.h"
#include "paramrecord.h"
#include "serverlog.h"
#include "serveroptions.h"

#include "rules/controlchars.h"

#include <QElapsedTimer>
#include <QFile>
#include <QLocale>
#include <QSqlError>
#include <QStringDecoder>

#include <cstdio>

using namespace Qt::StringLiterals;

namespace StoredCheck {

namespace {

enum class Rule { Code, Text, Flag };

struct ColumnRule {
    QString Name;
    Rule Kind;
    int Size;
};

struct TableRule {
    QString Table;
    QString Key; // SQL giving what tells a row apart inside its company; empty when nothing does
    QList<ColumnRule> Columns;
    bool HasCompany = true;
    bool Served = true; // sent to the desktops; the others are only read inside the server
};

// The sizes are the ones the packets declare, since a client refuses a value above them. The
// entries and balances never reach a desktop (only dates computed from them do), and their
// company codes must be EMPRESA's; they are checked by `ger-server check`, not at each start,
// where scanning millions of entries would cost seconds.
QList<TableRule> Tables() {
    const ColumnRule company{u"CDEMPRESA"_s, Rule::Code, 2};
    QList<ColumnRule> record{company};
    for (const ParamRecord::Column &c : ParamRecord::StoredColumns()) {
        const QString name = QLatin1StringView(c.Name);
        if (name == company.Name || c.ColumnKind == ParamRecord::Kind::Date)
            continue;
        record.append(
            {name, c.ColumnKind == ParamRecord::Kind::Flag ? Rule::Flag : Rule::Text, c.Size});
    }
    return {
        {u"EMPRESA"_s, {}, {company, {u"NMEMPRESA"_s, Rule::Text, 40}}},
        {u"CONTOPECTBL"_s, {}, record},
        {u"PARAMGERAL"_s, {}, {{u"IDCONTAJUDTCOMP"_s, Rule::Flag, 1}}, false},
        {u"FECHAPERIODO"_s,
         u"CAST(DTREGISTRO AS VARCHAR(30))"_s,
         {company, {u"DSDATA"_s, Rule::Text, 10}, {u"NMOPERADOR"_s, Rule::Text, 60}}},
        {u"ENCERRAMENTO"_s,
         QString(),
         {company, {u"DSMOTIVO"_s, Rule::Text, 200}, {u"NMOPERADOR"_s, Rule::Text, 60}},
         true,
         false},
        {u"SALDEMPR"_s,
         u"CAST(DTSALDEMPR AS VARCHAR(30))"_s,
         {company, {u"CDCONTA"_s, Rule::Text, 20}},
         true,
         false},
        {u"LANCCONT"_s,
         u"CAST(NRLANC AS VARCHAR(20))"_s,
         {company,
          {u"CDCONTA"_s, Rule::Text, 20},
          {u"IDEVOLUIDO"_s, Rule::Flag, 1},
          {u"IDRECALCFISC"_s, Rule::Flag, 1}},
         true,
         false},
    };
}

// The suspects only: a length that cannot fit, or any character outside printable ASCII
// (control characters, and every byte of a broken UTF-8 sequence, which SQLite stores as given).
// Accented names are suspects too and are cleared below; they are few.
QString Suspect(const ColumnRule &column, Database::Dialect dialect) {
    const QString &c = column.Name;
    if (column.Kind == Rule::Flag)
        return u"%1 NOT IN ('S', 'N')"_s.arg(c);
    const QString outside = dialect == Database::Dialect::Sqlite ? u"%1 GLOB '*[^ -~]*'"_s.arg(c)
                                                                 : u"%1 ~ '[^ -~]'"_s.arg(c);
    return column.Kind == Rule::Code
               ? u"length(%1) <> %2 OR %3"_s.arg(c).arg(column.Size).arg(outside)
               : u"length(%1) > %2 OR %3"_s.arg(c).arg(column.Size).arg(outside);
}

// The value as stored: SQLite hands text back decoded, so the bytes are asked for instead.
QString Raw(const QString &column, Database::Dialect dialect) {
    return dialect == Database::Dialect::Sqlite ? u"CAST(%1 AS BLOB)"_s.arg(column) : column;
}

QByteArray Bytes(const QVariant &value) {
    return value.typeId() == QMetaType::QByteArray ? value.toByteArray()
                                                   : value.toString().toUtf8();
}

QString Judge(const ColumnRule &column, const QByteArray &bytes) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringConverter::Flag::Stateless);
    const QString text = decoder(bytes);
    if (decoder.hasError())
        return u"UTF-8 inválido"_s;
    const qsizetype chars = text.toUcs4().size();
    for (const char32_t ch : text.toUcs4()) {
        if (ControlChars::IsControl(ch))
            return u"caractere de controle (U+%1)"_s.arg(
                u"%1"_s.arg(uint(ch), 4, 16, QChar(u'0')).toUpper());
    }
    switch (column.Kind) {
    case Rule::Code:
        if (chars != column.Size)
            return u"o código tem %1 caracteres; deve ter %2"_s.arg(chars).arg(column.Size);
        break;
    case Rule::Text:
        if (chars > column.Size)
            return u"o texto tem %1 caracteres e o campo admite %2"_s.arg(chars).arg(column.Size);
        break;
    case Rule::Flag:
        if (text != u"S"_s && text != u"N"_s)
            return u"o indicador é '%1'; deve ser S ou N"_s.arg(ServerLog::Escape(text, 20));
        break;
    }
    return {};
}

QString Shown(const QByteArray &bytes) {
    return u"\"%1\""_s.arg(ServerLog::Escape(QString::fromUtf8(bytes), 40));
}

} // namespace

QString CodeFault(const QString &code) {
    return Judge({u"CDEMPRESA"_s, Rule::Code, 2}, code.toUtf8());
}

QList<Finding> Orphans(QSqlDatabase &db, int limit) {
    QList<Finding> findings;
    const QLocale br(QLocale::Portuguese, QLocale::Brazil);
    for (const char *table :
         {"CONTOPECTBL", "SALDEMPR", "LANCCONT", "FECHAPERIODO", "ENCERRAMENTO", "EXCECAO"}) {
        const QString name = QLatin1StringView(table);
        QSqlQuery q = Database::Prepare(
            db,
            u"SELECT CDEMPRESA, COUNT(*) FROM %1 t WHERE NOT EXISTS (SELECT 1 FROM EMPRESA e "
            "WHERE e.CDEMPRESA = t.CDEMPRESA) GROUP BY CDEMPRESA ORDER BY CDEMPRESA"_s.arg(name));
        q.setForwardOnly(true);
        Database::Exec(q);
        for (int found = 0; found < limit && Database::Next(q); ++found) {
            const qint64 rows = q.value(1).toLongLong();
            findings.append({name, Shown(q.value(0).toString().toUtf8()), QString(), u"CDEMPRESA"_s,
                             u"empresa que EMPRESA não tem (%1 %2)"_s.arg(
                                 br.toString(rows), rows == 1 ? u"linha"_s : u"linhas"_s),
                             true});
        }
    }
    return findings;
}

QList<Finding> Run(Database &database, Scope scope, int limit) {
    QList<Finding> findings;
    const Database::Dialect dialect = database.Kind();
    for (const TableRule &table : Tables()) {
        if (scope == Scope::Served && !table.Served)
            continue;
        QStringList selected{table.HasCompany ? Raw(u"CDEMPRESA"_s, dialect) : u"NULL"_s,
                             table.Key.isEmpty() ? u"NULL"_s : table.Key};
        QStringList suspects;
        for (const ColumnRule &column : table.Columns) {
            selected << Raw(column.Name, dialect);
            suspects << u"(%1)"_s.arg(Suspect(column, dialect));
        }
        const QString sql = u"SELECT %1 FROM %2 WHERE %3"_s.arg(selected.join(u", "_s), table.Table,
                                                                suspects.join(u" OR "_s));
        database.Transaction(Database::Access::SingleRead, [&](QSqlDatabase &db) {
            QSqlQuery q = Database::Prepare(db, sql);
            q.setForwardOnly(true);
            Database::Exec(q);
            int found = 0;
            while (found < limit && Database::Next(q)) {
                for (qsizetype i = 0; i < table.Columns.size(); ++i) {
                    const QVariant value = q.value(int(i) + 2);
                    if (value.isNull())
                        continue;
                    const QString reason = Judge(table.Columns.at(i), Bytes(value));
                    if (reason.isEmpty())
                        continue;
                    findings.append({table.Table,
                                     table.HasCompany ? Shown(Bytes(q.value(0))) : QString(),
                                     q.value(1).isNull() ? QString() : q.value(1).toString(),
                                     table.Columns.at(i).Name, reason});
                    ++found;
                }
            }
        });
    }
    if (scope == Scope::All) {
        database.Transaction(Database::Access::SingleRead,
                             [&](QSqlDatabase &db) { findings += Orphans(db, limit); });
    }
    return findings;
}

QStringList Companies(const QList<Finding> &findings) {
    QStringList named;
    for (const Finding &f : findings) {
        const QString name = f.Company.isEmpty() ? u"parâmetro geral"_s : f.Company;
        if (!named.contains(name))
            named.append(name);
    }
    return named;
}

int Command(const QStringList &arguments) {
    constexpr int ExitFailure = 1;
    constexpr int ExitUsage = 2;
    const auto refuse = [](const QString &text) {
        std::fprintf(stderr, "ger-server: %s\n", text.toUtf8().constData());
    };
    ServerOptions options;
    QString error, text;
    if (!ServerOptions::Parse(QStringList{arguments.value(0)} + arguments.mid(2), options, &error,
                              &text)) {
        refuse(error);
        return ExitUsage;
    }
    if (!text.isEmpty()) {
        std::printf("%s\n", text.trimmed().toUtf8().constData());
        return 0;
    }
    // Opening a SQLite file that is not there would create an empty one, which checks clean.
    if (options.Db.startsWith(u"sqlite:"_s)) {
        if (const QString fault = ServerOptions::UnreadableFile(options.Db.mid(7));
            !fault.isEmpty()) {
            refuse(fault);
            return ExitFailure;
        }
    }
    ServerLog::SetLevel(options.Level);
    std::unique_ptr<Database> database = Database::Open(options.Db, &error, u"ger-server check"_s);
    if (!database) {
        refuse(u"não foi possível abrir %1: %2"_s.arg(Database::Redacted(options.Db), error));
        return ExitFailure;
    }
    QElapsedTimer timer;
    timer.start();
    QList<Finding> findings;
    std::optional<HistoryChain::Verdict> chain;
    try {
        findings = Run(*database, Scope::All);
        database->Transaction(Database::Access::Read, [&](QSqlDatabase &db) {
            if (db.tables().contains(u"HISTCADEIA"_s, Qt::CaseInsensitive))
                chain = HistoryChain::Verify(db);
        });
    } catch (const CallFailure &failure) {
        refuse(
            u"não foi possível ler %1: %2"_s.arg(Database::Redacted(options.Db), failure.Message));
        return ExitFailure;
    } catch (const QSqlError &failure) {
        refuse(
            u"não foi possível ler %1: %2"_s.arg(Database::Redacted(options.Db), failure.text()));
        return ExitFailure;
    }
    QList<Finding> unreadable, orphans;
    for (const Finding &f : std::as_const(findings)) {
        (f.Orphan ? orphans : unreadable).append(f);
        const QString where = f.Company.isEmpty() ? u"-"_s : u"empresa "_s + f.Company;
        std::printf("%s\n",
                    u"%1\t%2\t%3\t%4\t%5"_s
                        .arg(f.Table, where, f.Key.isEmpty() ? u"-"_s : f.Key, f.Column, f.Reason)
                        .toUtf8()
                        .constData());
    }
    if (findings.isEmpty()) {
        std::printf("%s\n",
                    u"nada encontrado: os registros de %1 cabem nos campos dos clientes "
                    "e são de empresas cadastradas (%2 ms)"_s.arg(Database::Redacted(options.Db))
                        .arg(timer.elapsed())
                        .toUtf8()
                        .constData());
    }
    if (!unreadable.isEmpty())
        std::printf("%s\n", u"%1 registro(s) que os clientes não conseguem ler, das empresas %2"_s
                                .arg(unreadable.size())
                                .arg(Companies(unreadable).join(u", "_s))
                                .toUtf8()
                                .constData());
    if (!orphans.isEmpty())
        std::printf("%s\n", u"registros de empresas que EMPRESA não tem: %1; cadastre as "
                            "empresas ou apague os registros (a cópia para o PostgreSQL os "
                            "recusa)"_s.arg(Companies(orphans).join(u", "_s))
                                .toUtf8()
                                .constData());
    const QLocale br(QLocale::Portuguese, QLocale::Brazil);
    if (chain && chain->OldCutCount > 0) {
        QStringList numbers;
        for (const qint64 n : std::as_const(chain->OldCut))
            numbers.append(QString::number(n));
        if (chain->OldCutCount > chain->OldCut.size())
            numbers.append(u"..."_s);
        std::printf("%s\n", u"histórico: %1 linha(s) gravada(s) por uma versão anterior, que "
                            "cortava um texto no meio de um caractere, conferem na forma que "
                            "ela calculou (linhas %2)"_s.arg(br.toString(chain->OldCutCount))
                                .arg(numbers.join(u", "_s))
                                .toUtf8()
                                .constData());
    }
    if (chain && chain->First) {
        for (const HistoryChain::Break &found : std::as_const(chain->Breaks))
            std::printf("%s\n",
                        u"HISTALTERACAO\tcadeia do histórico rompida na %1"_s.arg(found.Text())
                            .toUtf8()
                            .constData());
        if (chain->BreakCount > chain->Breaks.size())
            std::printf("%s\n", u"HISTALTERACAO\te mais %1 linha(s) que não conferem"_s
                                    .arg(br.toString(chain->BreakCount - chain->Breaks.size()))
                                    .toUtf8()
                                    .constData());
    } else if (chain) {
        // Written down elsewhere, the head shows later whether the chain was rewritten whole.
        std::printf("%s\n", u"histórico: cadeia íntegra, %1 linhas conferidas; fim da cadeia na "
                            "linha %2, hash %3"_s.arg(br.toString(chain->Rows))
                                .arg(chain->At.Last)
                                .arg(QString::fromLatin1(chain->At.LastHash))
                                .toUtf8()
                                .constData());
    }
    return findings.isEmpty() && !(chain && chain->First) ? 0 : ExitFailure;
}

} // namespace StoredCheck
