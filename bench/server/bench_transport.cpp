// The wire itself against a real ger-server (demo seed, SQLite): the round trip of the transport's
// own ping, one light method call, and the calls per second that 32 clients get at once, each
// with its own connection on its own thread; and what counting each call for the metrics costs.

#include "callmetrics.h"
#include "jsonrpcmessage.h"
#include "netconnection.h"
#include "rawclient.h"
#include "serverprocess.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonArray>

#include <algorithm>
#include <cstdio>
#include <sys/resource.h>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

std::unique_ptr<ServerProcess> g_server;
std::unique_ptr<ServerProcess> g_counting; // the same, serving GET /metrics

std::unique_ptr<TNetConnection> Connect() {
    auto c = std::make_unique<TNetConnection>();
    c->SetPort(g_server->Port());
    c->SetServerName(u"Ger09400.rdmParamCtbl"_s);
    c->SetTimeoutMs(10000);
    c->SetThrowException(true);
    return c;
}

void BM_Ping(benchmark::State &state) {
    auto c = Connect();
    c->Open();
    for (auto _ : state)
        benchmark::DoNotOptimize(c->Ping());
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_Ping)->UseRealTime()->Unit(benchmark::kMicrosecond);

void BM_GetDataSaldEmpr(benchmark::State &state) {
    auto c = Connect();
    c->Open();
    for (auto _ : state)
        benchmark::DoNotOptimize(c->Call(u"GetDataSaldEmpr"_s, {u"01"_s}));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_GetDataSaldEmpr)->UseRealTime()->Unit(benchmark::kMicrosecond);

void BM_GetContOpe(benchmark::State &state) {
    auto c = Connect();
    c->Open();
    for (auto _ : state)
        benchmark::DoNotOptimize(c->Call(u"GetContOpe"_s, {}));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_GetContOpe)->UseRealTime()->Unit(benchmark::kMicrosecond);

// Each benchmark thread is its own client: the connection and its waiting loop belong to it.
void BM_ConcurrentPing(benchmark::State &state) {
    auto c = Connect();
    c->Open();
    for (auto _ : state)
        benchmark::DoNotOptimize(c->Ping());
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ConcurrentPing)->Threads(32)->UseRealTime()->Unit(benchmark::kMicrosecond);

void BM_ConcurrentGetDataSaldEmpr(benchmark::State &state) {
    auto c = Connect();
    c->Open();
    for (auto _ : state)
        benchmark::DoNotOptimize(c->Call(u"GetDataSaldEmpr"_s, {u"01"_s}));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ConcurrentGetDataSaldEmpr)->Threads(32)->UseRealTime()->Unit(benchmark::kMicrosecond);

void BM_ConcurrentGetContOpe(benchmark::State &state) {
    auto c = Connect();
    c->Open();
    for (auto _ : state)
        benchmark::DoNotOptimize(c->Call(u"GetContOpe"_s, {}));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ConcurrentGetContOpe)->Threads(32)->UseRealTime()->Unit(benchmark::kMicrosecond);

// The same call to the server that counts for its metrics and to the one that does not, in turns
// of `turn` calls on one thread: both meet the same machine in the same stretch of time, so drift
// between runs cannot pass for the counting's cost. A call that runs on a worker needs turns of
// several calls: the worker that just finished looks for the next call for a moment, as in
// service, and one turn per call would leave every call to a sleeping worker. Reports each one's
// median call: on a shared machine a few calls wait for a core, and a mean would measure those
// waits.
void MetricsSideBySide(benchmark::State &state, const QByteArray &request, int turn) {
    RawClient off, on;
    if (!off.Connect(g_server->Port()) || !on.Connect(g_counting->Port())) {
        state.SkipWithError("no connection");
        return;
    }
    std::vector<qint64> offNs, onNs;
    qint64 call = 0;
    QElapsedTimer clock;
    for (auto _ : state) {
        const bool counting = (call++ / turn) % 2 == 1;
        clock.start();
        const QByteArray reply = (counting ? on : off).Call(request);
        (counting ? onNs : offNs).push_back(clock.nsecsElapsed());
        if (!reply.contains("\"ok\":true")) {
            state.SkipWithError(reply.left(300).constData());
            return;
        }
    }
    const auto median = [](std::vector<qint64> &ns) {
        if (ns.empty())
            return 0.0;
        std::nth_element(ns.begin(), ns.begin() + ns.size() / 2, ns.end());
        return double(ns[ns.size() / 2]) / 1000.0;
    };
    state.counters["off_us"] = median(offNs);
    state.counters["on_us"] = median(onNs);
}

void BM_MetricsPing(benchmark::State &state) {
    MetricsSideBySide(state, JsonRpc::EncodeRequest(1, u"ping"_s, {}), 1);
}
BENCHMARK(BM_MetricsPing)
    ->Repetitions(3)
    ->ReportAggregatesOnly(true)
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);

void BM_MetricsGetDataSaldEmpr(benchmark::State &state) {
    MetricsSideBySide(
        state,
        JsonRpc::EncodeRequest(1, u"Ger09400.rdmParamCtbl.GetDataSaldEmpr"_s, QJsonArray{u"01"_s}),
        32);
}
BENCHMARK(BM_MetricsGetDataSaldEmpr)
    ->Repetitions(3)
    ->ReportAggregatesOnly(true)
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);

// The counting alone, in process: what Record adds to every call, in nanoseconds.
void BM_CallMetricsRecord(benchmark::State &state) {
    QStringList methods;
    for (const char *name :
         {"GetContOpe", "SetContOpe", "SetParamGeral", "GetDataSaldEmpr", "GetPescLanc",
          "getLancSemEvolucao", "setUsuarioFechamentoPeriodo", "getErrosCadAuto", "setCadAuto"})
        methods.append(u"Ger09400.rdmParamCtbl."_s + QString::fromLatin1(name));
    methods << u"Host.Cache.GetTabela"_s << u"Host.Cache.GetServidor"_s << u"Audit.GetHistorico"_s
            << u"Ger09400.Periodo.Consulta"_s;
    CallMetrics metrics(methods);
    const QString method = u"Ger09400.rdmParamCtbl.GetDataSaldEmpr"_s;
    const QString ok = u"ok"_s;
    qint64 elapsed = 50000;
    for (auto _ : state) {
        metrics.Record(method, ok, elapsed);
        elapsed ^= 1;
    }
    QByteArray text;
    metrics.Render(text);
    benchmark::DoNotOptimize(text);
}
BENCHMARK(BM_CallMetricsRecord)->Unit(benchmark::kNanosecond);

} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    if (qEnvironmentVariableIsEmpty("GER_BIN_DIR"))
        qputenv("GER_BIN_DIR", QCoreApplication::applicationDirPath().toUtf8());

    g_server = std::make_unique<ServerProcess>();
    if (!g_server->Start({u"--log-level"_s, u"warn"_s})) {
        std::fprintf(stderr, "ger-server did not start: %s\n", g_server->Output().constData());
        return 1;
    }
    g_counting = std::make_unique<ServerProcess>();
    // On the first one's database: the two differ in the counting alone.
    if (!g_counting->Start({u"--db"_s, u"sqlite:"_s + g_server->DbPath(), u"--log-level"_s,
                            u"warn"_s, u"--metrics-listen"_s, u"127.0.0.1:0"_s},
                           0, QString())) {
        std::fprintf(stderr, "ger-server did not start: %s\n", g_counting->Output().constData());
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    g_counting.reset();
    g_server.reset();
    return 0;
}
