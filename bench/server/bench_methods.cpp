// The server's figures against a real ger-server, each beside its reference measured in the same
// run: every method's round trip on the demo seed and on the large seed (1000 companies, 5 million
// entries, 500 thousand balances), the bare SQL each one needs, the transport's own ping, 32
// connections at once, the server's memory after a flood of the largest reply, the desktop host's
// start, and what the change history costs.
//
// One run is one database: SQLite by default, PostgreSQL with GER_BENCH_DB=postgresql and
// GER_BENCH_PG_URL=postgresql://user@host:port (scripts/bench starts a throwaway cluster). Every
// benchmark's name starts with the database, so that one report can read both runs.
//
// The client is a blocking socket (RawClient): what is timed is the server's path, not the desktop
// client's, whose own cost bench_dataset measures.

#include "database.h"
#include "datetime.h"
#include "envelope.h"
#include "historychain.h"
#include "jsonrpcmessage.h"
#include "packet.h"
#include "paramrecord.h"
#include "rawclient.h"
#include "serverprocess.h"

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <QCoreApplication>
#include <QDate>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>
#include <QUrl>

#include <atomic>
#include <cstdio>
#include <functional>
#include <thread>
#include <tuple>

using namespace Qt::StringLiterals;

namespace {

bool g_postgres = false;
QString g_pgBase; // postgresql://user@host:port, without a database
std::string g_label = "sqlite";

// --- databases ------------------------------------------------------------------------------

// One database of the run, as the server's --db and as a connection of this process.
struct Store {
    QString Name; // sqlite: the file; postgresql: the database
    QString Url() const { return g_postgres ? g_pgBase + u'/' + Name : u"sqlite:"_s + Name; }
    QString Connection() const { return u"bench-"_s + QString::number(qHash(Name)); }

    QSqlDatabase Open() const {
        if (QSqlDatabase::contains(Connection()))
            return QSqlDatabase::database(Connection());
        QSqlDatabase db;
        if (g_postgres) {
            const QUrl url(g_pgBase);
            db = QSqlDatabase::addDatabase(u"QPSQL"_s, Connection());
            db.setHostName(url.host());
            db.setPort(url.port(5432));
            db.setUserName(url.userName());
            db.setDatabaseName(Name);
        } else {
            db = QSqlDatabase::addDatabase(u"QSQLITE"_s, Connection());
            db.setDatabaseName(Name);
        }
        if (!db.open())
            std::fprintf(stderr, "%s: %s\n", qPrintable(Name), qPrintable(db.lastError().text()));
        return db;
    }

    bool Exec(const QStringList &statements) const {
        QSqlDatabase db = Open();
        QSqlQuery q(db);
        for (const QString &statement : statements) {
            if (!q.exec(statement)) {
                std::fprintf(stderr, "%s: %s\n", qPrintable(statement),
                             qPrintable(q.lastError().text()));
                return false;
            }
        }
        return true;
    }

    QVariant Scalar(const QString &sql) const {
        QSqlDatabase db = Open();
        QSqlQuery q(db);
        return q.exec(sql) && q.next() ? q.value(0) : QVariant();
    }
};

QSqlDatabase Admin() {
    Store postgres{u"postgres"_s};
    return postgres.Open();
}

// A fresh database (`keep`: the one a previous run left, if any).
Store MakeStore(const QString &dir, const QString &name, bool keep) {
    if (!g_postgres) {
        const QString path = dir + u'/' + name + u".db"_s;
        if (!keep)
            QFile::remove(path);
        return {path};
    }
    const QString database = u"ger_bench_"_s + name;
    QSqlDatabase admin = Admin();
    QSqlQuery q(admin);
    q.exec(u"SELECT 1 FROM pg_database WHERE datname = '%1'"_s.arg(database));
    const bool exists = q.next();
    if (exists && !keep)
        q.exec(u"DROP DATABASE %1 WITH (FORCE)"_s.arg(database));
    if (!exists || !keep)
        q.exec(u"CREATE DATABASE %1"_s.arg(database));
    return {database};
}

// --- servers --------------------------------------------------------------------------------

struct Server {
    const char *Label;
    Store Db;
    std::unique_ptr<ServerProcess> Process;
    quint16 Port() const { return Process->Port(); }
};

bool Start(Server &server, const QString &seed, const QStringList &extra = {}) {
    server.Process = std::make_unique<ServerProcess>();
    QElapsedTimer timer;
    timer.start();
    if (!server.Process->Start(
            QStringList{u"--db"_s, server.Db.Url(), u"--log-level"_s, u"warn"_s} + extra, 0,
            seed)) {
        std::fprintf(stderr, "%s server did not start: %s\n", server.Label,
                     server.Process->Output().constData());
        return false;
    }
    std::fprintf(stderr, "%s/%s server ready in %.1f s\n", g_label.c_str(), server.Label,
                 timer.elapsed() / 1000.0);
    return true;
}

QByteArray Request(const QString &method, const QJsonArray &params) {
    static qint64 id = 0;
    return JsonRpc::EncodeRequest(++id, method, params);
}

// One connection per benchmark (and per thread): the call, with its answer checked.
void Calls(benchmark::State &state, const Server *server, const QByteArray &request,
           bool mustSucceed = true) {
    RawClient client;
    if (!client.Connect(server->Port())) {
        state.SkipWithError(qPrintable(client.Error()));
        return;
    }
    for (auto _ : state) {
        const QByteArray reply = client.Call(request);
        if (reply.isEmpty() || (mustSucceed && !reply.contains("\"ok\":true"))) {
            state.SkipWithError(reply.left(300).constData());
            return;
        }
    }
    state.SetItemsProcessed(state.iterations());
}

// --- what the calls ask -----------------------------------------------------------------------

struct Setup {
    const char *Label;
    QString Company;   // has entries and balances
    QString Unevolved; // has entries left out of the balances before 2026
    QString CleanList; // companies that pass the bulk checks
    Server Main;
    Server NoHistory; // the same database, the history off
};

Setup g_demo{"demo", u"01"_s, u"02"_s, u"01,02,05,06"_s, {"demo", {}, {}}, {"demo-nohist", {}, {}}};
Setup g_large{"large",           u"05"_s,
              u"02"_s,           u"03,04,05,06,07,08,09,0A"_s,
              {"large", {}, {}}, {"large-nohist", {}, {}}};
Server g_empty{"empty", {}, {}};
Server g_historySmall{"history-small", {}, {}};
Server g_historyLarge{"history-1m", {}, {}};
QString g_largeClean;
QString g_tempDir; // the large seed's companies that pass the bulk checks (nine in ten)

QJsonObject BulkRequest(int year) {
    TTablePacket request;
    const QStringList dates = {u"DTINIPER"_s, u"DTFINPER"_s, u"DTINILANC"_s, u"DTFINLANC"_s,
                               u"DTINIDFE"_s, u"DTFINDFE"_s, u"DTINIDFS"_s,  u"DTFINDFS"_s,
                               u"DTINIFIN"_s, u"DTFINFIN"_s, u"DTINIGPA"_s,  u"DTFINGPA"_s,
                               u"DTINIFIS"_s, u"DTFINFIS"_s, u"DTINIVEN"_s,  u"DTFINVEN"_s};
    TRowValues row;
    for (int i = 0; i < dates.size(); ++i) {
        request.Fields.append({dates.at(i), TFieldType::Date, 0, false});
        row.append(DateTimeUtil::FromQDate(i % 2 == 0 ? QDate(year, 1, 1) : QDate(year, 12, 31)));
    }
    for (const QString &flag :
         {u"IDCONTCCUS"_s, u"IDCONCOME"_s, u"IDUTCUSTEST"_s, u"IDSUGRATMANU"_s, u"IDUTSALDOSOC"_s,
          u"IDMSMCONTA"_s, u"IDPRIOCCUSTSET"_s, u"IDCONSVNDDFS"_s, u"IDULTDESPTRIB"_s,
          u"IDCONSDATARET"_s, u"IDCONTLOTESIT"_s, u"IDGERAESTCONT"_s, u"IDCONTVREXCICMSEP"_s,
          u"IDCONSRATPROD"_s}) {
        request.Fields.append({flag, TFieldType::String, 1, false});
        row.append(u"S"_s);
    }
    request.Rows.append(row);
    return Packet::ToJson(request);
}

QByteArray SetContOpeFlip(const QString &code, const QString &from, const QString &to) {
    TChangeLog log;
    log.Fields = {{u"CDEMPRESA"_s, TFieldType::String, 2, false},
                  {u"IDCONGERGGF"_s, TFieldType::String, 1, false}};
    log.Changes = {{TChangeOp::Update, {code, from}, {code, to}}};
    return Request(u"Ger09400.rdmParamCtbl.SetContOpe"_s, {Packet::ToJson(log)});
}

// The period gate's one argument: the list of checks.
QByteArray GateRequest(const QJsonArray &checks) {
    QJsonArray params;
    params.append(checks);
    return Request(u"Ger09400.Periodo.Consulta"_s, params);
}

QByteArray OneCheck(const QString &code) {
    QJsonArray checks;
    checks.append(QJsonArray{code, u"FIN"_s, u"2026-12-15"_s});
    return GateRequest(checks);
}

QByteArray Method(const QString &name, const QJsonArray &params) {
    return Request(u"Ger09400.rdmParamCtbl."_s + name, params);
}

// --- the benchmarks -------------------------------------------------------------------------

void BM_Ping(benchmark::State &s, const Server *server) {
    Calls(s, server, Request(u"ping"_s, {}), false);
}
void BM_Method(benchmark::State &s, const Server *server, QByteArray request) {
    Calls(s, server, request);
}

// Flips one flag back and forth, each time with the row the previous call left.
void BM_SetContOpe(benchmark::State &state, const Server *server, QString code) {
    RawClient client;
    if (!client.Connect(server->Port())) {
        state.SkipWithError(qPrintable(client.Error()));
        return;
    }
    // Whatever an earlier run left, the flag is "N" afterwards (a refused flip means it was).
    client.Call(SetContOpeFlip(code, u"S"_s, u"N"_s));
    const QByteArray toS = SetContOpeFlip(code, u"N"_s, u"S"_s);
    const QByteArray toN = SetContOpeFlip(code, u"S"_s, u"N"_s);
    bool on = false;
    for (auto _ : state) {
        const QByteArray reply = client.Call(on ? toN : toS);
        if (!reply.contains("\"ok\":true")) {
            state.SkipWithError(reply.left(300).constData());
            return;
        }
        on = !on;
    }
}

// A bulk apply that changes every listed company's sixteen dates on every call.
void BM_SetCadAutoChanging(benchmark::State &state, const Server *server, QString list) {
    RawClient client;
    if (!client.Connect(server->Port())) {
        state.SkipWithError(qPrintable(client.Error()));
        return;
    }
    const QByteArray years[2] = {
        Method(u"setCadAuto"_s, {list, u"S"_s, u"S"_s, BulkRequest(2026)}),
        Method(u"setCadAuto"_s, {list, u"S"_s, u"S"_s, BulkRequest(2027)})};
    int turn = 0;
    for (auto _ : state) {
        const QByteArray reply = client.Call(years[turn]);
        if (!reply.contains("\"ok\":true")) {
            state.SkipWithError(reply.left(300).constData());
            return;
        }
        turn = 1 - turn;
    }
    state.counters["companies"] = double(list.count(u',') + 1);
}

// The bulk screen's two calls over every company: the check, then the apply (which the large
// seed's companies with entries awaiting the fiscal recalculation refuse, after the same check).
void BM_BulkAll(benchmark::State &state, const Server *server) {
    RawClient client;
    if (!client.Connect(server->Port())) {
        state.SkipWithError(qPrintable(client.Error()));
        return;
    }
    const QByteArray check =
        Method(u"getErrosCadAuto"_s, {u"T"_s, u"2026-01-01"_s, u"2026-12-31"_s});
    const QByteArray apply = Method(u"setCadAuto"_s, {u"T"_s, u"S"_s, u"S"_s, BulkRequest(2026)});
    for (auto _ : state) {
        if (!client.Call(check).contains("\"ok\":true") || client.Call(apply).isEmpty()) {
            state.SkipWithError("bulk call failed");
            return;
        }
    }
}

// Many connections at once, each on its own thread with its own blocking socket.
// The period gate's work without its rules and reads: the request read and an answer of the
// same size written, as the server does around them.
void BM_GateParseAndWrite(benchmark::State &state, QByteArray request, QByteArray reply) {
    const QJsonValue answers =
        QJsonDocument::fromJson(reply).object().value(u"result"_s).toObject().value(u"payload"_s);
    for (auto _ : state) {
        JsonRpc::Request decoded;
        JsonRpc::Error fault;
        QJsonValue id;
        if (!JsonRpc::DecodeRequest(request, decoded, &fault, &id)) {
            state.SkipWithError(qPrintable(fault.Message));
            return;
        }
        const QByteArray out =
            JsonRpc::EncodeResult(decoded.Id, TResultEnvelope::Success(answers).ToJson());
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(state.iterations() * 100000);
}

void BM_Concurrent(benchmark::State &state, const Server *server, QByteArray request) {
    Calls(state, server, request, !request.contains("\"ping\""));
}

long ResidentKb(qint64 pid) {
    QFile status(u"/proc/%1/status"_s.arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return -1;
}

// Eight clients asking the largest gate call at once (about 11 MB of answer each); the server's
// resident memory once the answers are read and the sweep has handed freed memory back, beside
// its memory before.
void BM_GateMemory(benchmark::State &state, const Server *server, const QByteArray &request) {
    const long before = ResidentKb(server->Process->Process().processId());
    for (auto _ : state) {
        std::vector<std::thread> threads;
        std::atomic<int> failures{0};
        for (int t = 0; t < 8; ++t)
            threads.emplace_back([&] {
                RawClient client;
                if (!client.Connect(server->Port()) ||
                    !client.Call(request).contains("\"ok\":true"))
                    ++failures;
            });
        for (auto &t : threads)
            t.join();
        if (failures > 0)
            state.SkipWithError("Periodo.Consulta failed");
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    state.counters["rss_mb_before"] = before / 1024.0;
    state.counters["rss_mb"] = ResidentKb(server->Process->Process().processId()) / 1024.0;
}

// 32 connections asking for the thousand records at once; the server's resident memory after.
void BM_FloodMemory(benchmark::State &state, Server *server) {
    const QByteArray request = Method(u"GetContOpe"_s, {});
    for (auto _ : state) {
        std::vector<std::thread> threads;
        std::atomic<int> failures{0};
        for (int t = 0; t < 32; ++t)
            threads.emplace_back([&] {
                RawClient client;
                if (!client.Connect(server->Port())) {
                    ++failures;
                    return;
                }
                for (int i = 0; i < 20; ++i)
                    if (!client.Call(request).contains("\"ok\":true"))
                        ++failures;
            });
        for (auto &t : threads)
            t.join();
        if (failures > 0)
            state.SkipWithError("GetContOpe failed during the flood");
    }
    state.counters["rss_mb"] = ResidentKb(server->Process->Process().processId()) / 1024.0;
}

// The bare statements a method needs, prepared once, every value of every row read.
struct Statement {
    QString Sql;
    QVariantList Binds;
};

void BM_BareSql(benchmark::State &state, const Store *store, QVector<Statement> statements) {
    QSqlDatabase db = store->Open();
    std::vector<std::unique_ptr<QSqlQuery>> queries;
    for (const Statement &statement : statements) {
        auto q = std::make_unique<QSqlQuery>(db);
        q->setForwardOnly(true);
        if (!q->prepare(statement.Sql)) {
            state.SkipWithError(qPrintable(q->lastError().text()));
            return;
        }
        queries.push_back(std::move(q));
    }
    qint64 rows = 0;
    for (auto _ : state) {
        for (size_t n = 0; n < queries.size(); ++n) {
            QSqlQuery &q = *queries[n];
            const QVariantList &binds = statements.at(qsizetype(n)).Binds;
            for (int i = 0; i < binds.size(); ++i)
                q.bindValue(i, binds.at(i));
            if (!q.exec()) {
                state.SkipWithError(qPrintable(q.lastError().text()));
                return;
            }
            const int columns = q.record().count();
            while (q.next()) {
                ++rows;
                for (int i = 0; i < columns; ++i)
                    benchmark::DoNotOptimize(q.value(i));
            }
        }
    }
    state.counters["rows"] = double(rows) / double(std::max<qint64>(state.iterations(), 1));
}

// On SQLite the floor is the engine itself, as the server reads its largest answer: every
// column of every row as text, through the C interface.
void BM_BareSqlite(benchmark::State &state, const Store *store, QString sql) {
    sqlite3 *db = nullptr;
    if (sqlite3_open_v2(store->Name.toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr) !=
        SQLITE_OK) {
        state.SkipWithError("sqlite3_open_v2 failed");
        sqlite3_close(db);
        return;
    }
    sqlite3_stmt *statement = nullptr;
    const QByteArray text = sql.toUtf8();
    if (sqlite3_prepare_v2(db, text.constData(), int(text.size()), &statement, nullptr) !=
        SQLITE_OK) {
        state.SkipWithError(sqlite3_errmsg(db));
        sqlite3_close(db);
        return;
    }
    qint64 rows = 0;
    for (auto _ : state) {
        while (sqlite3_step(statement) == SQLITE_ROW) {
            ++rows;
            const int columns = sqlite3_column_count(statement);
            for (int i = 0; i < columns; ++i) {
                benchmark::DoNotOptimize(sqlite3_column_text(statement, i));
                benchmark::DoNotOptimize(sqlite3_column_bytes(statement, i));
            }
        }
        sqlite3_reset(statement);
    }
    sqlite3_finalize(statement);
    sqlite3_close(db);
    state.counters["rows"] = double(rows) / double(std::max<qint64>(state.iterations(), 1));
}

QString ContOpeSelect() {
    QStringList select;
    for (const ParamRecord::Column &c : ParamRecord::Fields())
        select.append((qstrcmp(c.Name, "NMEMPRESA") == 0 ? u"E."_s : u"C."_s) +
                      QLatin1StringView(c.Name));
    return u"SELECT %1 FROM CONTOPECTBL C JOIN EMPRESA E ON E.CDEMPRESA = C.CDEMPRESA ORDER BY "
           "C.CDEMPRESA"_s.arg(select.join(u", "_s));
}

// The desktop host's start to its first answer: ger-host --list, its local copies kept between
// runs as on a desktop.
void BM_HostList(benchmark::State &state, const Server *server, QString localDb) {
    const QString host = QDir(ServerProcess::BinDir()).absoluteFilePath(u"ger-host"_s);
    for (auto _ : state) {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"QT_QPA_PLATFORM"_s, u"offscreen"_s);
        p.setProcessEnvironment(env);
        p.start(host, {u"--server"_s, u"ws://127.0.0.1:%1"_s.arg(server->Port()), u"--local-db"_s,
                       localDb, u"--list"_s});
        if (!p.waitForFinished(60000) || p.exitCode() != 0) {
            state.SkipWithError(p.readAllStandardError().left(300).constData());
            return;
        }
    }
}

// --- set-up -----------------------------------------------------------------------------------

bool MakeHistories(const QString &dir) {
    // The same fifty changes of company 05 in both; a million more of other companies in one.
    for (Server *server : {&g_historySmall, &g_historyLarge}) {
        server->Db = MakeStore(dir, QString::fromLatin1(server->Label).replace(u'-', u'_'), false);
        if (!Start(*server, u"demo"_s))
            return false;
        RawClient client;
        if (!client.Connect(server->Port()))
            return false;
        for (int i = 0; i < 50; ++i)
            if (!client
                     .Call(
                         SetContOpeFlip(u"05"_s, i % 2 ? u"S"_s : u"N"_s, i % 2 ? u"N"_s : u"S"_s))
                     .contains("\"ok\":true"))
                return false;
    }
    const QString columns =
        u"IDALTERACAO, NRSEQ, DTALTERACAO, NMOPERADOR, IDVERIFICADO, "
        "NMMETODO, IDOPERACAO, CDEMPRESA, NMCAMPO, TPCAMPO, VLANTERIOR, VLNOVO"_s;
    QString fill =
        g_postgres
            ? u"INSERT INTO HISTALTERACAO (%1) SELECT 'carga-' || (i / 16), i % 16 + 1, "
              "(SELECT MIN(DTALTERACAO) FROM HISTALTERACAO) - (i || ' seconds')::interval, "
              "'carga', 'S', 'setCadAuto', 'A', lpad((10 + i % 90)::text, 2, '0'), 'DTINIPER', "
              "'date', '2025-01-01', '2026-01-01' FROM generate_series(1, 1000000) AS g(i)"_s
            : u"WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 1000000) "
              "INSERT INTO HISTALTERACAO (%1) SELECT 'carga-' || (i / 16), i % 16 + 1, "
              "(SELECT MIN(DTALTERACAO) FROM HISTALTERACAO), 'carga', 'S', 'setCadAuto', 'A', "
              "printf('%02d', 10 + i % 90), 'DTINIPER', 'date', '2025-01-01', '2026-01-01' "
              "FROM n"_s;
    fill.replace(u"%1"_s, columns);
    QElapsedTimer timer;
    timer.start();
    if (!g_historyLarge.Db.Exec({fill, g_postgres ? u"ANALYZE HISTALTERACAO"_s : u"ANALYZE"_s}))
        return false;
    std::fprintf(stderr, "%s: a million history rows in %.1f s\n", g_label.c_str(),
                 timer.elapsed() / 1000.0);
    // Chained as the migration chains a history stored before the chain: what that costs is a
    // figure of its own.
    timer.restart();
    QString error;
    std::unique_ptr<Database> store = Database::Open(g_historyLarge.Db.Url(), &error);
    if (!store)
        return false;
    try {
        store->Transaction(Database::Access::Write,
                           [](QSqlDatabase &db) { HistoryChain::ChainUnchained(db); });
    } catch (const CallFailure &failure) {
        std::fprintf(stderr, "%s\n", qPrintable(failure.Message));
        return false;
    }
    Database::CloseThreadConnections();
    std::fprintf(stderr, "%s: the million rows chained (as the migration does) in %.1f s\n",
                 g_label.c_str(), timer.elapsed() / 1000.0);
    // The same history as a file, for sha256sum to read beside the check.
    QProcess exporter;
    exporter.start(ServerProcess::Executable(),
                   {u"export"_s, u"historico"_s, dir + u"/historico.csv"_s, u"--db"_s,
                    g_historyLarge.Db.Url()});
    return exporter.waitForFinished(300000) && exporter.exitCode() == 0;
}

// One process run to its end, as an operator runs it.
void BM_Command(benchmark::State &state, QString program, QStringList args) {
    for (auto _ : state) {
        QProcess p;
        p.start(program, args);
        if (!p.waitForFinished(600000) || p.exitStatus() != QProcess::NormalExit ||
            p.exitCode() != 0) {
            state.SkipWithError(p.readAll().left(300).constData());
            return;
        }
    }
}

// A thousand exceptions in force in each seed's database, on days the windows refuse, so the
// gate's figures are taken with them there (on the large seed one a company, on the demo one
// spread over its twelve companies).
bool AddExceptions() {
    for (Setup *setup : {&g_demo, &g_large}) {
        QStringList codes;
        QSqlQuery q(setup->Main.Db.Open());
        q.exec(u"SELECT CDEMPRESA FROM EMPRESA ORDER BY CDEMPRESA"_s);
        while (q.next())
            codes.append(q.value(0).toString());
        if (codes.isEmpty())
            return false;
        QStringList rows;
        for (int n = 1; n <= 1000; ++n)
            rows.append(u"(%1, '%2', 'FIN', '2027-01-01', '2027-01-31', '2099-12-31T00:00:00Z', "
                        "'bench', NULL, 'bench', '2026-12-01T00:00:00Z', NULL, NULL, NULL)"_s.arg(n)
                            .arg(codes.at((n - 1) % codes.size())));
        // The large database is kept between runs: its last run's go first.
        if (!setup->Main.Db.Exec({u"DELETE FROM EXCECAO WHERE DSMOTIVO = 'bench'"_s,
                                  u"INSERT INTO EXCECAO VALUES %1"_s.arg(rows.join(u", "_s))}))
            return false;
    }
    return true;
}

bool StartAll(const QString &cacheDir, const QString &tempDir) {
    g_demo.Main.Db = MakeStore(tempDir, u"demo"_s, false);
    // Building 5 million entries takes a while: the large database is kept between runs.
    g_large.Main.Db = MakeStore(cacheDir, u"large"_s, true);
    g_empty.Db = MakeStore(tempDir, u"empty"_s, false);
    if (!Start(g_demo.Main, u"demo"_s) || !Start(g_large.Main, u"large"_s) ||
        !Start(g_empty, QString()))
        return false;
    for (Setup *setup : {&g_demo, &g_large}) {
        setup->NoHistory.Db = setup->Main.Db;
        if (!Start(setup->NoHistory, QString(), {u"--no-history"_s}))
            return false;
    }
    // Every company but those with entries awaiting the fiscal recalculation.
    QSqlDatabase db = g_large.Main.Db.Open();
    QSqlQuery q(db);
    q.exec(u"SELECT CDEMPRESA FROM EMPRESA E WHERE NOT EXISTS (SELECT 1 FROM LANCCONT L WHERE "
           "L.CDEMPRESA = E.CDEMPRESA AND L.IDRECALCFISC = 'S') ORDER BY CDEMPRESA"_s);
    QStringList clean;
    while (q.next())
        clean.append(q.value(0).toString());
    g_largeClean = clean.join(u',');
    return AddExceptions() && MakeHistories(tempDir);
}

benchmark::internal::Benchmark *Register(const std::string &name,
                                         std::function<void(benchmark::State &)> fn,
                                         benchmark::TimeUnit unit = benchmark::kMicrosecond) {
    return benchmark::RegisterBenchmark((g_label + "/" + name).c_str(), fn)
        ->Unit(unit)
        ->UseRealTime();
}

// A call of a few hundred microseconds is as fast as this machine's idle cores wake: one run of
// it may land on sleepy cores and the next on busy ones. Its figure is the median of three runs.
benchmark::internal::Benchmark *Steady(benchmark::internal::Benchmark *b) {
    return b->Repetitions(3)->ReportAggregatesOnly(true);
}

void RegisterAll() {
    for (Setup *setup : {&g_demo, &g_large}) {
        const std::string seed = setup->Label;
        const Server *server = &setup->Main;
        const Store *store = &setup->Main.Db;
        Steady(Register(seed + "/ping", [server](auto &s) { BM_Ping(s, server); }));
        const QString code = setup->Company;
        const QString unevolved = setup->Unevolved;
        // The statement each method runs, and nothing else: unknown companies answer empty.
        const struct {
            const char *Name;
            QJsonArray Params;
            QVector<Statement> Sql;
        } methods[] = {
            {"GetDataSaldEmpr",
             {code},
             {{u"SELECT MAX(DTSALDEMPR) FROM SALDEMPR WHERE CDEMPRESA = ?"_s, {code}}}},
            {"GetPescLanc",
             {code},
             {{u"SELECT CDEMPRESA FROM LANCCONT WHERE CDEMPRESA = ? LIMIT 1"_s, {code}}}},
            {"getLancSemEvolucao",
             {unevolved, u"2026-01-01"_s},
             {{u"SELECT MIN(DTLANC) FROM LANCCONT WHERE CDEMPRESA = ? AND IDEVOLUIDO = 'N' AND "
               "DTLANC < ?"_s,
               {unevolved, u"2026-01-01"_s}}}},
            {"GetContOpe", {}, {{ContOpeSelect(), {}}}},
        };
        for (const auto &m : methods) {
            const QByteArray request = Method(QString::fromLatin1(m.Name), m.Params);
            Steady(Register(seed + "/" + m.Name,
                            [server, request](auto &s) { BM_Method(s, server, request); }));
            const QVector<Statement> sql = m.Sql;
            if (!g_postgres && qstrcmp(m.Name, "GetContOpe") == 0) {
                const QString select = sql.first().Sql;
                Steady(Register(seed + "/sql/" + m.Name,
                                [store, select](auto &s) { BM_BareSqlite(s, store, select); }));
                // The same through Qt Sql, which the other methods read with, for comparison.
                Register(seed + "/qtsql/" + m.Name,
                         [store, sql](auto &s) { BM_BareSql(s, store, sql); });
            } else {
                Steady(Register(seed + "/sql/" + m.Name,
                                [store, sql](auto &s) { BM_BareSql(s, store, sql); }));
            }
        }
        const QByteArray closing = Method(u"setUsuarioFechamentoPeriodo"_s,
                                          {setup->Unevolved, u"01/10/2025"_s, u"BENCH"_s});
        Steady(Register(seed + "/setUsuarioFechamentoPeriodo",
                        [server, closing](auto &s) { BM_Method(s, server, closing); }));
        const QByteArray checkList =
            Method(u"getErrosCadAuto"_s, {setup->CleanList, u"2026-01-01"_s, u"2026-12-31"_s});
        Register(seed + "/getErrosCadAuto/list",
                 [server, checkList](auto &s) { BM_Method(s, server, checkList); });
        const QByteArray applyList =
            Method(u"setCadAuto"_s, {setup->CleanList, u"S"_s, u"S"_s, BulkRequest(2026)});
        Register(seed + "/setCadAuto/list",
                 [server, applyList](auto &s) { BM_Method(s, server, applyList); });
        Steady(Register(seed + "/SetContOpe",
                        [server, code](auto &s) { BM_SetContOpe(s, server, code); }));
        const Server *noHistory = &setup->NoHistory;
        Steady(Register(seed + "/SetContOpe/no-history",
                        [noHistory, code](auto &s) { BM_SetContOpe(s, noHistory, code); }));
        // The period gate: one check, as a system asks before each posting.
        const QByteArray gate = OneCheck(code);
        Steady(Register(seed + "/Periodo.Consulta",
                        [server, gate](auto &s) { BM_Method(s, server, gate); }));
        const QByteArray table = Request(u"Host.Cache.GetTabela"_s, {u"EMPRESA"_s});
        Register(seed + "/Host.Cache.GetTabela/EMPRESA",
                 [server, table](auto &s) { BM_Method(s, server, table); });
    }

    Server *large = &g_large.Main;
    Register(
        "large/bulk-all", [large](auto &s) { BM_BulkAll(s, large); }, benchmark::kMillisecond);
    const QString clean = g_largeClean;
    Register(
        "large/setCadAuto/changing",
        [large, clean](auto &s) { BM_SetCadAutoChanging(s, large, clean); },
        benchmark::kMillisecond);
    const Server *largeNoHistory = &g_large.NoHistory;
    Register(
        "large/setCadAuto/changing/no-history",
        [largeNoHistory, clean](auto &s) { BM_SetCadAutoChanging(s, largeNoHistory, clean); },
        benchmark::kMillisecond);

    // 100,000 checks in one call, over the large seed's companies and every module, beside the
    // same request read and an answer of the same size written.
    {
        const QString digits = u"0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ"_s;
        const QStringList modules{u"LANC"_s, u"DFE"_s, u"DFS"_s, u"FIN"_s,
                                  u"GPA"_s,  u"FIS"_s, u"VEXT"_s};
        QJsonArray checks;
        for (int i = 0; i < 100000; ++i)
            checks.append(u"%1%2;%3;%4"_s.arg(
                digits.at(i / 36 % 30), digits.at(i % 36), modules.at(i % modules.size()),
                QDate(2026, 1, 1).addDays(i % 365).toString(u"dd/MM/yyyy"_s)));
        const QByteArray many = GateRequest(checks);
        RawClient once;
        const QByteArray reply = once.Connect(large->Port()) ? once.Call(many) : QByteArray();
        Register(
            "large/Periodo.Consulta/100000",
            [large, many](auto &s) {
                BM_Method(s, large, many);
                s.SetItemsProcessed(s.iterations() * 100000);
            },
            benchmark::kMillisecond);
        Register(
            "large/Periodo.Consulta/100000/parse-write",
            [many, reply](auto &s) { BM_GateParseAndWrite(s, many, reply); },
            benchmark::kMillisecond);
        // As ger-consulta sends a file: one company's checks, on the demo seed.
        QJsonArray same;
        for (int i = 0; i < 100000; ++i)
            same.append(u"01;LANC;01/12/2026"_s);
        const Server *demo = &g_demo.Main;
        benchmark::RegisterBenchmark(
            (g_label + "/demo/Periodo.Consulta/100000/8-clients-memory").c_str(),
            [demo, request = GateRequest(same)](auto &s) { BM_GateMemory(s, demo, request); })
            ->Iterations(3)
            ->UseRealTime()
            ->Unit(benchmark::kMillisecond);
    }

    const QByteArray history =
        Request(u"Audit.GetHistorico"_s, {u"05"_s, u""_s, u""_s, u""_s, u""_s, u"1"_s});
    for (const Server *server : {&g_historySmall, &g_historyLarge})
        Steady(Register(std::string(server->Label) + "/Audit.GetHistorico",
                        [server, history](auto &s) { BM_Method(s, server, history); }));
    // The whole chain followed by `check`, beside sha256sum reading the same history exported.
    for (const auto &[name, program, args] :
         {std::tuple{"check", ServerProcess::Executable(),
                     QStringList{u"check"_s, u"--db"_s, g_historyLarge.Db.Url()}},
          std::tuple{"sha256sum-of-export", u"sha256sum"_s,
                     QStringList{g_tempDir + u"/historico.csv"_s}}})
        benchmark::RegisterBenchmark((g_label + "/history-1m/" + name).c_str(),
                                     [program, args](auto &s) { BM_Command(s, program, args); })
            ->Iterations(3)
            ->UseRealTime()
            ->Unit(benchmark::kMillisecond);

    // Concurrency on the demo seed: the calls per second of 32 connections.
    const Server *demo = &g_demo.Main;
    for (const auto &[name, request] :
         {std::pair{"ping", Request(u"ping"_s, {})},
          std::pair{"GetDataSaldEmpr", Method(u"GetDataSaldEmpr"_s, {u"01"_s})},
          std::pair{"Periodo.Consulta", OneCheck(u"01"_s)}}) {
        Steady(benchmark::RegisterBenchmark(
                   (g_label + "/demo/32-connections/" + name).c_str(),
                   [demo, request](auto &s) { BM_Concurrent(s, demo, request); })
                   ->Threads(32)
                   ->UseRealTime()
                   ->Unit(benchmark::kMicrosecond));
    }
    Register(
        "large/GetContOpe-flood-memory", [large](auto &s) { BM_FloodMemory(s, large); },
        benchmark::kMillisecond);

    // Each server with its own local copies, kept from one start to the next as on a desktop.
    for (const Server *server : {large, &g_empty}) {
        const QString local =
            g_tempDir + u"/host-"_s + QString::fromLatin1(server->Label) + u".db"_s;
        QFile::remove(local);
        benchmark::RegisterBenchmark((g_label + "/" + server->Label + "/ger-host--list").c_str(),
                                     [server, local](auto &s) { BM_HostList(s, server, local); })
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime()
            ->Iterations(8);
    }
}

// What the benchmarks wrote into the kept database goes again.
void Tidy() {
    g_large.Main.Db.Exec({u"DELETE FROM HISTALTERACAO"_s});
}

} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (qEnvironmentVariableIsEmpty("GER_BIN_DIR"))
        qputenv("GER_BIN_DIR", QCoreApplication::applicationDirPath().toUtf8());
    g_postgres = qEnvironmentVariable("GER_BENCH_DB") == u"postgresql"_s;
    if (g_postgres) {
        g_label = "postgresql";
        g_pgBase = qEnvironmentVariable("GER_BENCH_PG_URL");
        if (g_pgBase.isEmpty()) {
            std::fprintf(stderr, "GER_BENCH_PG_URL is not set\n");
            return 1;
        }
    }

    const QString cacheDir = QCoreApplication::applicationDirPath() + u"/../bench-cache"_s;
    QDir().mkpath(cacheDir);
    QTemporaryDir tempDir;
    g_tempDir = tempDir.path();
    if (!StartAll(cacheDir, tempDir.path()))
        return 1;
    RegisterAll();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    Tidy();
    return 0;
}
