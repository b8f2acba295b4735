#include "seeds.h"

#include "database.h"
#include "paramrecord.h"

#include <QDate>
#include <QSqlError>

using namespace Qt::StringLiterals;

namespace {

constexpr int DefaultLargeCompanies = 1000;
constexpr qint64 LargeEntries = 5'000'000;
constexpr qint64 LargeBalances = 500'000;
const QString CodeDigits = u"0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ"_s;
const int MaxLargeCompanies = int(CodeDigits.size() * CodeDigits.size() - 1);

struct Period {
    QDate First;
    QDate Last;
};

// A parameter record with the accounting year 2026 and December as the posting month.
QHash<QString, QVariant> standardRecord(bool withTax, bool withLateSales) {
    QHash<QString, QVariant> record;
    for (const ParamRecord::Column &c : ParamRecord::StoredColumns()) {
        const QString name = QString::fromLatin1(c.Name);
        if (c.ColumnKind != ParamRecord::Kind::Date && name != u"CDEMPRESA"_s)
            record.insert(name, ParamRecord::StartingValue(name));
    }
    const auto set = [&](const char *first, const char *last, Period p) {
        record.insert(QString::fromLatin1(first), p.First.toString(Qt::ISODate));
        record.insert(QString::fromLatin1(last), p.Last.toString(Qt::ISODate));
    };
    const Period year{QDate(2026, 1, 1), QDate(2026, 12, 31)};
    const Period month{QDate(2026, 12, 1), QDate(2026, 12, 31)};
    set("DTINICCONT", "DTFINACONT", year);
    set("DTINICRELA", "DTFINARELA", year);
    set("DTINICLANC", "DTFINALANC", month);
    set("DTINIINTCONTDFE", "DTFININTCONTDFE", month);
    set("DTINIINTCONTDFS", "DTFININTCONTDFS", month);
    set("DTINICCTBL", "DTFINACCTBL", {QDate(2026, 11, 1), QDate(2026, 12, 31)});
    set("DTINIINTCONTGPA", "DTFININTCONTGPA", month);
    if (withTax)
        set("DTINIINTCONTFIS", "DTFININTCONTFIS", month);
    if (withLateSales)
        set("DTINIINTCONTVEXT", "DTFININTCONTVEXT", {QDate(2026, 10, 1), QDate(2026, 12, 31)});
    return record;
}

QSqlQuery prepareRecordInsert(QSqlDatabase &db, QStringList &columns) {
    columns.clear();
    for (const ParamRecord::Column &c : ParamRecord::StoredColumns())
        columns.append(QString::fromLatin1(c.Name));
    QStringList marks(columns.size(), u"?"_s);
    return Database::Prepare(db, u"INSERT INTO CONTOPECTBL (%1) VALUES (%2)"_s.arg(
                                     columns.join(u", "_s), marks.join(u", "_s)));
}

void insertRecord(QSqlQuery &insert, const QStringList &columns, const QString &code,
                  QHash<QString, QVariant> record) {
    record.insert(u"CDEMPRESA"_s, code);
    for (int i = 0; i < columns.size(); ++i)
        insert.bindValue(i, record.value(columns.at(i)));
    Database::Exec(insert);
}

void insertCompany(QSqlQuery &insert, const QString &code, const QString &name) {
    insert.bindValue(0, code);
    insert.bindValue(1, name);
    Database::Exec(insert);
}

bool hasCompanies(Database &database) {
    bool any = false;
    database.Transaction(Database::Access::Read, [&](QSqlDatabase &db) {
        QSqlQuery q = Database::Prepare(db, u"SELECT 1 FROM EMPRESA LIMIT 1"_s);
        Database::Exec(q);
        any = q.next();
    });
    return any;
}

// --- demo -----------------------------------------------------------------------------------

struct DemoCompany {
    const char *Code;
    QString Name;
    bool HasRecord;
};

void seedDemo(QSqlDatabase &db) {
    const QVector<DemoCompany> companies = {
        {"01", u"Comércio de Alimentos São João Ltda"_s, true}, // entries: delete refused
        {"02", u"Indústria Têxtil Paraná S.A."_s, true},        // entries not in balances
        {"03", u"Distribuidora Ribeirão Preto Ltda"_s, true},   // fiscal recalculation due
        {"04", u"Construtora Araújo & Filhos Ltda"_s, true},    // balance after period end
        {"05", u"Padaria Pão Nosso de Cada Dia Ltda"_s, true},  // no entries: deletable
        {"06", u"Transportes Guarulhos Ltda"_s, true},
        {"07", u"Farmácia Popular do Ceará Ltda"_s, true},
        {"08", u"Agropecuária Cerrado Goiano S.A."_s, true},
        {"09", u"Metalúrgica São Bernardo Ltda"_s, true},
        {"10", u"Cooperativa Vinícola Gaúcha"_s, false},
        {"11", u"Editora Paulistânia Ltda"_s, false},
        {"12", u"Torrefação Serra da Mantiqueira Ltda"_s, false},
    };
    QSqlQuery company =
        Database::Prepare(db, u"INSERT INTO EMPRESA (CDEMPRESA, NMEMPRESA) VALUES (?, ?)"_s);
    QStringList columns;
    QSqlQuery record = prepareRecordInsert(db, columns);
    for (const DemoCompany &c : companies) {
        const QString code = QString::fromLatin1(c.Code);
        insertCompany(company, code, c.Name);
        if (c.HasRecord) {
            const int n = code.toInt();
            insertRecord(record, columns, code, standardRecord(n % 2 == 1, n % 3 == 0));
        }
    }
    Database::ExecDirect(db, u"INSERT INTO PARAMGERAL (IDPARAMGERAL, IDCONTAJUDTCOMP) "
                             "VALUES (1, 'N')"_s);

    // Monthly balances of three accounts, January to November 2026.
    QSqlQuery balance = Database::Prepare(
        db, u"INSERT INTO SALDEMPR (CDEMPRESA, DTSALDEMPR, CDCONTA, VRSALDODEB, VRSALDOCRED) "
            "VALUES (?, ?, ?, ?, ?)"_s);
    const QStringList accounts = {u"1.1.01.001"_s, u"2.1.01.001"_s, u"3.1.01.001"_s};
    const auto addBalance = [&](const QString &code, QDate date, const QString &account,
                                double amount) {
        balance.bindValue(0, code);
        balance.bindValue(1, date.toString(Qt::ISODate));
        balance.bindValue(2, account);
        balance.bindValue(3, amount);
        balance.bindValue(4, amount / 2);
        Database::Exec(balance);
    };
    for (const char *c : {"01", "02", "03", "04", "06", "07", "08", "09"}) {
        const QString code = QString::fromLatin1(c);
        for (int month = 1; month <= 11; ++month) {
            const QDate end = QDate(2026, month, 1).addMonths(1).addDays(-1);
            for (int a = 0; a < accounts.size(); ++a)
                addBalance(code, end, accounts.at(a), 1000.0 * month + 10 * a + code.toInt());
        }
    }
    // Already closed into next year: later than the end of its 2026 accounting period.
    addBalance(u"04"_s, QDate(2027, 1, 31), accounts.at(0), 4321.09);

    QSqlQuery entry = Database::Prepare(
        db, u"INSERT INTO LANCCONT (NRLANC, CDEMPRESA, DTLANC, CDCONTA, VRLANC, IDEVOLUIDO, "
            "IDRECALCFISC) VALUES (?, ?, ?, ?, ?, ?, ?)"_s);
    int number = 0;
    const auto addEntry = [&](const QString &code, QDate date, bool evolved, bool recalc) {
        entry.bindValue(0, ++number);
        entry.bindValue(1, code);
        entry.bindValue(2, date.toString(Qt::ISODate));
        entry.bindValue(3, accounts.at(number % accounts.size()));
        entry.bindValue(4, 100.0 + number * 3.25);
        entry.bindValue(5, evolved ? u"S"_s : u"N"_s);
        entry.bindValue(6, recalc ? u"S"_s : u"N"_s);
        Database::Exec(entry);
    };
    for (const char *c : {"01", "02", "03", "04", "06", "07", "08", "09"}) {
        const QString code = QString::fromLatin1(c);
        for (int month = 1; month <= 12; ++month) {
            // December is still open: not yet carried into the balances anywhere.
            addEntry(code, QDate(2026, month, 5), month < 12, false);
            addEntry(code, QDate(2026, month, 20), month < 12, false);
        }
    }
    // Left out of the balances before the 2026 period opened.
    addEntry(u"02"_s, QDate(2025, 11, 17), false, false);
    addEntry(u"02"_s, QDate(2025, 12, 3), false, false);
    // Waiting for the fiscal recalculation since October.
    addEntry(u"03"_s, QDate(2026, 10, 5), true, true);
    addEntry(u"03"_s, QDate(2026, 11, 12), true, true);
}

// --- large ----------------------------------------------------------------------------------

QString largeCode(int index) {
    const int n = index + 1; // "00" is never a code
    return QString(CodeDigits.at(n / CodeDigits.size())) + CodeDigits.at(n % CodeDigits.size());
}

void seedLarge(QSqlDatabase &db, Database::Dialect dialect, int count) {
    QSqlQuery company =
        Database::Prepare(db, u"INSERT INTO EMPRESA (CDEMPRESA, NMEMPRESA) VALUES (?, ?)"_s);
    QStringList columns;
    QSqlQuery record = prepareRecordInsert(db, columns);
    const bool sqlite = dialect == Database::Dialect::Sqlite;
    Database::ExecDirect(db, sqlite ? u"CREATE TEMP TABLE SEEDEMP (IDX INTEGER, CD VARCHAR(2))"_s
                                    : u"CREATE TEMP TABLE SEEDEMP (IDX INTEGER, CD VARCHAR(2)) "
                                      "ON COMMIT DROP"_s);
    QSqlQuery index = Database::Prepare(db, u"INSERT INTO SEEDEMP (IDX, CD) VALUES (?, ?)"_s);
    for (int i = 0; i < count; ++i) {
        const QString code = largeCode(i);
        insertCompany(company, code, u"Empresa Modelo %1 Ltda"_s.arg(i + 1, 4, 10, QChar(u'0')));
        insertRecord(record, columns, code, standardRecord(i % 2 == 0, i % 3 == 0));
        index.bindValue(0, i);
        index.bindValue(1, code);
        Database::Exec(index);
    }
    Database::ExecDirect(db, u"INSERT INTO PARAMGERAL (IDPARAMGERAL, IDCONTAJUDTCOMP) "
                             "VALUES (1, 'N')"_s);

    // Generated inside the database: no row crosses the driver. Entries run over 2025 and 2026
    // (730 days); December 2026 is not yet in the balances; every tenth company has a few
    // entries waiting for the fiscal recalculation.
    const qint64 perCompany = (LargeEntries + count - 1) / count;
    const qint64 balancesPerCompany = (LargeBalances + count - 1) / count;
    const QString entryValues =
        u"e.IDX * %1 + s.X + 1, e.CD, %2, %3, (s.X %% 1000) + 0.5, "
        "CASE WHEN s.X %% 730 >= 699 OR (e.IDX %% 10 = 1 AND s.X %% 730 BETWEEN 300 AND 303) "
        "THEN 'N' ELSE 'S' END, "
        "CASE WHEN e.IDX %% 10 = 0 AND s.X %% 997 = 0 THEN 'S' ELSE 'N' END"_s;
    const QString balanceValues = u"e.CD, %1, %2, (s.X %% 1000) + 0.25, (s.X %% 700) + 0.75"_s;
    QString entries, balances;
    if (sqlite) {
        const QString seq = u"WITH RECURSIVE SEQ(X) AS (SELECT 0 UNION ALL SELECT X + 1 FROM SEQ "
                            "WHERE X + 1 < %1) "_s;
        entries = u"INSERT INTO LANCCONT (NRLANC, CDEMPRESA, DTLANC, CDCONTA, VRLANC, IDEVOLUIDO, "
                  "IDRECALCFISC) "_s +
                  seq.arg(perCompany) + u"SELECT "_s +
                  QString(entryValues)
                      .replace(u"%%"_s, u"%"_s)
                      .arg(perCompany)
                      .arg(u"date('2025-01-01', '+' || (s.X % 730) || ' days')"_s,
                           u"'1.1.01.' || (s.X % 50)"_s) +
                  u" FROM SEEDEMP e CROSS JOIN SEQ s WHERE e.IDX * %1 + s.X < %2"_s.arg(perCompany)
                      .arg(LargeEntries);
        balances = u"INSERT INTO SALDEMPR (CDEMPRESA, DTSALDEMPR, CDCONTA, VRSALDODEB, "
                   "VRSALDOCRED) "_s +
                   seq.arg(balancesPerCompany) + u"SELECT "_s +
                   QString(balanceValues)
                       .replace(u"%%"_s, u"%"_s)
                       .arg(u"date('2026-01-01', '+' || (s.X % 12 + 1) || ' months', '-1 day')"_s,
                            u"'1.1.' || (s.X / 12)"_s) +
                   u" FROM SEEDEMP e CROSS JOIN SEQ s WHERE e.IDX * %1 + s.X < %2"_s
                       .arg(balancesPerCompany)
                       .arg(LargeBalances);
    } else {
        entries =
            u"INSERT INTO LANCCONT (NRLANC, CDEMPRESA, DTLANC, CDCONTA, VRLANC, IDEVOLUIDO, "
            "IDRECALCFISC) SELECT "_s +
            QString(entryValues)
                .replace(u"%%"_s, u"%"_s)
                .arg(perCompany)
                .arg(u"DATE '2025-01-01' + (s.X % 730)::int"_s, u"'1.1.01.' || (s.X % 50)"_s) +
            u" FROM SEEDEMP e CROSS JOIN generate_series(0, %1) AS s(X) "
            "WHERE e.IDX * %2 + s.X < %3"_s.arg(perCompany - 1)
                .arg(perCompany)
                .arg(LargeEntries);
        balances = u"INSERT INTO SALDEMPR (CDEMPRESA, DTSALDEMPR, CDCONTA, VRSALDODEB, "
                   "VRSALDOCRED) SELECT "_s +
                   QString(balanceValues)
                       .replace(u"%%"_s, u"%"_s)
                       .arg(u"(DATE '2026-01-01' + make_interval(months => (s.X % 12)::int + 1) "
                            "- INTERVAL '1 day')::date"_s,
                            u"'1.1.' || (s.X / 12)"_s) +
                   u" FROM SEEDEMP e CROSS JOIN generate_series(0, %1) AS s(X) "
                   "WHERE e.IDX * %2 + s.X < %3"_s.arg(balancesPerCompany - 1)
                       .arg(balancesPerCompany)
                       .arg(LargeBalances);
    }
    Database::ExecDirect(db, entries);
    Database::ExecDirect(db, balances);
    if (sqlite)
        Database::ExecDirect(db, u"DROP TABLE SEEDEMP"_s);
}

} // namespace

namespace Seeds {

bool Run(Database &database, const QString &seed, QString *error) {
    int large = 0;
    if (seed == u"large"_s) {
        large = DefaultLargeCompanies;
    } else if (seed.startsWith(u"large:"_s)) {
        bool ok = false;
        large = seed.mid(6).toInt(&ok);
        if (!ok || large < 1 || large > MaxLargeCompanies) {
            *error = u"Semente inválida: %1 (large:N com N de 1 a %2)."_s.arg(seed).arg(
                MaxLargeCompanies);
            return false;
        }
    } else if (seed != u"demo"_s) {
        *error = u"Semente desconhecida: %1 (use demo, large ou large:N)."_s.arg(seed);
        return false;
    }
    try {
        if (hasCompanies(database))
            return true;
        database.Transaction(Database::Access::Write, [&](QSqlDatabase &db) {
            if (large > 0)
                seedLarge(db, database.Kind(), large);
            else
                seedDemo(db);
        });
        database.Transaction(Database::Access::Write,
                             [&](QSqlDatabase &db) { Database::ExecDirect(db, u"ANALYZE"_s); });
    } catch (const CallFailure &failure) {
        *error = u"Falha ao popular o banco: %1"_s.arg(failure.Message);
        return false;
    }
    return true;
}

} // namespace Seeds
