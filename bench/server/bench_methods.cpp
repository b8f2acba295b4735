// Round trip of every method against a real ger-server, on the demo seed and on the large seed
// (1000 companies, 5 million entries, 500 thousand balances). The per-company calls should cost
// the same on both: each is an index seek, never a walk over a company's entries.

#include "datetime.h"
#include "netconnection.h"
#include "packet.h"
#include "serverprocess.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QDate>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>

#include <cstdio>

using namespace Qt::StringLiterals;

namespace {

struct Setup {
    const char *Label;
    std::unique_ptr<ServerProcess> Server;
    std::unique_ptr<TNetConnection> Client;
    std::unique_ptr<TNetConnection> Cache;
    QString Company;   // has entries and balances
    QString Unevolved; // has entries left out of the balances before 2026
    QString CleanList; // companies that pass the bulk checks
};

Setup g_demo{"demo", {}, {}, {}, u"01"_s, u"02"_s, u"01,02,05,06"_s};
Setup g_large{"large", {}, {}, {}, u"05"_s, u"02"_s, u"03,04,05,06,07,08,09,0A"_s};

bool StartServer(Setup &setup, const QString &dbPath, const QString &seed) {
    setup.Server = std::make_unique<ServerProcess>();
    QElapsedTimer timer;
    timer.start();
    // The database lives outside the server's own temporary folder so the large one is kept.
    if (!setup.Server->Start({u"--db"_s, u"sqlite:"_s + dbPath, u"--log-level"_s, u"warn"_s}, 0,
                             seed)) {
        std::fprintf(stderr, "%s server did not start: %s\n", setup.Label,
                     setup.Server->Output().constData());
        return false;
    }
    std::fprintf(stderr, "%s server ready in %.1f s\n", setup.Label, timer.elapsed() / 1000.0);
    for (auto *client : {&setup.Client, &setup.Cache}) {
        *client = std::make_unique<TNetConnection>();
        (*client)->SetPort(setup.Server->Port());
        (*client)->SetTimeoutMs(120000);
        (*client)->SetThrowException(true);
    }
    setup.Client->SetServerName(u"Ger09400.rdmParamCtbl"_s);
    setup.Cache->SetServerName(u"Host.Cache"_s);
    return true;
}

QJsonObject BulkRequest() {
    TTablePacket request;
    request.Fields = {
        {u"DTINIPER"_s, TFieldType::Date, 0, false},  {u"DTFINPER"_s, TFieldType::Date, 0, false},
        {u"DTINILANC"_s, TFieldType::Date, 0, false}, {u"DTFINLANC"_s, TFieldType::Date, 0, false},
        {u"DTINIDFE"_s, TFieldType::Date, 0, false},  {u"DTFINDFE"_s, TFieldType::Date, 0, false},
        {u"DTINIDFS"_s, TFieldType::Date, 0, false},  {u"DTFINDFS"_s, TFieldType::Date, 0, false},
        {u"DTINIFIN"_s, TFieldType::Date, 0, false},  {u"DTFINFIN"_s, TFieldType::Date, 0, false},
        {u"DTINIGPA"_s, TFieldType::Date, 0, false},  {u"DTFINGPA"_s, TFieldType::Date, 0, false},
        {u"DTINIFIS"_s, TFieldType::Date, 0, false},  {u"DTFINFIS"_s, TFieldType::Date, 0, false},
        {u"DTINIVEN"_s, TFieldType::Date, 0, false},  {u"DTFINVEN"_s, TFieldType::Date, 0, false}};
    const TDateTime first = DateTimeUtil::FromQDate(QDate(2026, 1, 1));
    const TDateTime last = DateTimeUtil::FromQDate(QDate(2026, 12, 31));
    TRowValues row;
    for (int i = 0; i < 16; ++i)
        row.append(i % 2 == 0 ? first : last);
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

void Call(benchmark::State &state, Setup *setup, const QString &method, const QJsonArray &params) {
    for (auto _ : state) {
        const TResultEnvelope r = setup->Client->Call(method, params);
        benchmark::DoNotOptimize(r.Ok);
    }
}

void BM_GetContOpe(benchmark::State &s, Setup *setup) {
    Call(s, setup, u"GetContOpe"_s, {});
}
void BM_GetDataSaldEmpr(benchmark::State &s, Setup *setup) {
    Call(s, setup, u"GetDataSaldEmpr"_s, {setup->Company});
}
void BM_GetPescLanc(benchmark::State &s, Setup *setup) {
    Call(s, setup, u"GetPescLanc"_s, {setup->Company});
}
void BM_getLancSemEvolucao(benchmark::State &s, Setup *setup) {
    Call(s, setup, u"getLancSemEvolucao"_s, {setup->Unevolved, u"2026-01-01"_s});
}
void BM_setUsuarioFechamentoPeriodo(benchmark::State &s, Setup *setup) {
    Call(s, setup, u"setUsuarioFechamentoPeriodo"_s,
         {setup->Unevolved, u"01/10/2025"_s, u"BENCH"_s});
}
void BM_getErrosCadAuto_list(benchmark::State &s, Setup *setup) {
    Call(s, setup, u"getErrosCadAuto"_s, {setup->CleanList, u"2026-01-01"_s, u"2026-12-31"_s});
}
void BM_getErrosCadAuto_all(benchmark::State &s, Setup *setup) {
    Call(s, setup, u"getErrosCadAuto"_s, {u"T"_s, u"2026-01-01"_s, u"2026-12-31"_s});
}
void BM_setCadAuto_list(benchmark::State &s, Setup *setup) {
    Call(s, setup, u"setCadAuto"_s, {setup->CleanList, u"S"_s, u"S"_s, BulkRequest()});
}
void BM_SetContOpe(benchmark::State &s, Setup *setup) {
    // Flips one flag back and forth, each time with the row the previous call left.
    TChangeLog log;
    log.Fields = {{u"CDEMPRESA"_s, TFieldType::String, 2, false},
                  {u"IDCONGERGGF"_s, TFieldType::String, 1, false}};
    QString current = u"N"_s;
    const QString code = setup->Company;
    // Whatever an earlier run left, the flag is "N" afterwards (a refused flip means it was).
    setup->Client->SetThrowException(false);
    setup->Client->Call(u"SetContOpe"_s,
                        {Packet::ToJson(TChangeLog{
                            log.Fields, {{TChangeOp::Update, {code, u"S"_s}, {code, u"N"_s}}}})});
    setup->Client->SetThrowException(true);
    for (auto _ : s) {
        const QString next = current == u"N"_s ? u"S"_s : u"N"_s;
        log.Changes = {{TChangeOp::Update, {code, current}, {code, next}}};
        const TResultEnvelope r = setup->Client->Call(u"SetContOpe"_s, {Packet::ToJson(log)});
        benchmark::DoNotOptimize(r.Ok);
        current = next;
    }
}
void BM_GetTabela_EMPRESA(benchmark::State &s, Setup *setup) {
    for (auto _ : s)
        benchmark::DoNotOptimize(setup->Cache->Call(u"GetTabela"_s, {u"EMPRESA"_s}).Ok);
}

} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (qEnvironmentVariableIsEmpty("GER_BIN_DIR"))
        qputenv("GER_BIN_DIR", QCoreApplication::applicationDirPath().toUtf8());

    // Building 5 million entries takes a while: the large database is kept between runs.
    const QString cacheDir = QCoreApplication::applicationDirPath() + u"/../bench-cache"_s;
    QDir().mkpath(cacheDir);
    QTemporaryDir demoDir;
    QFile::remove(demoDir.filePath(u"demo.db"_s));
    if (!StartServer(g_demo, demoDir.filePath(u"demo.db"_s), u"demo"_s) ||
        !StartServer(g_large, cacheDir + u"/large.db"_s, u"large"_s))
        return 1;

    using Fn = void (*)(benchmark::State &, Setup *);
    const std::vector<std::pair<const char *, Fn>> methods = {
        {"GetContOpe", BM_GetContOpe},
        {"GetDataSaldEmpr", BM_GetDataSaldEmpr},
        {"GetPescLanc", BM_GetPescLanc},
        {"getLancSemEvolucao", BM_getLancSemEvolucao},
        {"setUsuarioFechamentoPeriodo", BM_setUsuarioFechamentoPeriodo},
        {"getErrosCadAuto/list", BM_getErrosCadAuto_list},
        {"getErrosCadAuto/all", BM_getErrosCadAuto_all},
        {"setCadAuto/list", BM_setCadAuto_list},
        {"SetContOpe", BM_SetContOpe},
        {"Host.Cache.GetTabela/EMPRESA", BM_GetTabela_EMPRESA},
    };
    for (const auto &[name, fn] : methods) {
        for (Setup *setup : {&g_demo, &g_large}) {
            benchmark::RegisterBenchmark((std::string(name) + "/" + setup->Label).c_str(), fn,
                                         setup)
                ->Unit(benchmark::kMicrosecond);
        }
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    g_demo = {};
    g_large = {};
    return 0;
}
