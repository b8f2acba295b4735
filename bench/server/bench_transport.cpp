// The wire itself against a real ger-server (demo seed, SQLite): the round trip of the transport's
// own ping, one light method call, and the calls per second that 32 clients get at once, each
// with its own connection on its own thread.

#include "netconnection.h"
#include "serverprocess.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>

#include <cstdio>
#include <sys/resource.h>

using namespace Qt::StringLiterals;

namespace {

std::unique_ptr<ServerProcess> g_server;

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
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    g_server.reset();
    return 0;
}
