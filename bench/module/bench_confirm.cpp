// The parameter screen's confirm, up to the post, on the large seed (1,000 companies): the company
// lookups in the local copies, the sixteen date exits, the thirty period rules and the balance
// call to a real ger-server. Beside it, in the same run, the ping round trip of the same
// connection and the bare balance call, so the screen's own share can be read off.

#include "benchhost.h"
#include "components/dbdateeditplus.h"
#include "components/functions.h"
#include "dataset/clientdataset.h"
#include "package/pkg_ger09400.h"
#include "param_screen/frmparamcontab.h"
#include "rpc/netconnection.h"
#include "serverprocess.h"
#include "testhost.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>

#include <cstdio>

using namespace Qt::StringLiterals;

namespace {

TfrmParamContab *g_screen = nullptr;
const QString Company = u"05"_s; // has entries and balances in the large seed

// Period edits as a user leaves them: the 2026 year, everything else in December.
void FillPeriods(TfrmParamContab &s) {
    const QStringList texts = {u"01/2026"_s,    u"12/2026"_s,    u"12/2026"_s,    u"12/2026"_s,
                               u"01/12/2026"_s, u"31/12/2026"_s, u"01/12/2026"_s, u"31/12/2026"_s,
                               u"01/12/2026"_s, u"31/12/2026"_s, u"01/12/2026"_s, u"31/12/2026"_s,
                               u"01/12/2026"_s, u"31/12/2026"_s, u"01/12/2026"_s, u"31/12/2026"_s};
    const QList<TDBDateEditPlus *> edits = s.DateEdits();
    for (int i = 0; i < edits.size(); ++i)
        edits[i]->setText(texts[i]);
}

void BM_Ping(benchmark::State &state) {
    for (auto _ : state)
        benchmark::DoNotOptimize(g_screen->netParamCtbl->Ping());
}

void BM_GetDataSaldEmpr(benchmark::State &state) {
    for (auto _ : state)
        benchmark::DoNotOptimize(g_screen->netParamCtbl->Call(u"GetDataSaldEmpr"_s, {Company}).Ok);
}

// Everything the confirm does before the post, on a record being edited that passes every rule.
void BM_ConfirmUpToPost(benchmark::State &state) {
    TClientDataSet *table = g_screen->cdsContOpe;
    for (auto _ : state) {
        g_screen->ValidaRegistro();
        state.PauseTiming();
        FillPeriods(*g_screen); // the next round reads typed text again
        state.ResumeTiming();
    }
    state.counters["records"] = table->RecordCount();
}

} // namespace

int main(int argc, char **argv) {
    UseOffscreenUnlessSet();
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    FindServerBesideBenchmark();

    const QString shared = SharedLargeSeed();
    if (shared.isEmpty())
        return 1;
    ServerProcess server;
    QElapsedTimer timer;
    timer.start();
    if (!server.Start({u"--db"_s, u"sqlite:"_s + shared, u"--log-level"_s, u"warn"_s}, 0,
                      u"large"_s)) {
        std::fprintf(stderr, "server did not start: %s\n", server.Output().constData());
        return 1;
    }
    std::fprintf(stderr, "large server ready in %.1f s\n", timer.elapsed() / 1000.0);

    TestHost host;
    host.Port = server.Port();
    Initialize();
    IniProc();
    g_screen = frmParamContab;
    if (!g_screen || g_screen->cdsContOpe->RecordCount() < 1000) {
        std::fprintf(stderr, "the screen did not load the large seed\n");
        return 1;
    }
    // The host's local copies of the companies and their records, as the screen loaded them.
    QStringList local{u"CREATE TABLE EMPRESA (CDEMPRESA TEXT PRIMARY KEY, NMEMPRESA TEXT)"_s,
                      u"CREATE TABLE CONTOPECTBL (CDEMPRESA TEXT PRIMARY KEY)"_s};
    TClientDataSet *table = g_screen->cdsContOpe;
    for (table->First(); !table->Eof(); table->Next()) {
        const QString code = table->FieldByName(u"CDEMPRESA"_s)->AsString();
        local << u"INSERT INTO EMPRESA VALUES ('%1', 'Empresa %1')"_s.arg(code)
              << u"INSERT INTO CONTOPECTBL VALUES ('%1')"_s.arg(code);
    }
    host.ExecLocal(local);
    for (table->First(); !table->Eof(); table->Next())
        if (table->FieldByName(u"CDEMPRESA"_s)->AsString() == Company)
            break;
    table->Edit();
    FillPeriods(*g_screen);
    try {
        g_screen->ValidaRegistro();
    } catch (const std::exception &failure) {
        std::fprintf(stderr, "the record does not pass the confirm: %s\n", failure.what());
        return 1;
    }

    benchmark::RegisterBenchmark("Ping", BM_Ping)->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("GetDataSaldEmpr", BM_GetDataSaldEmpr)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("Confirm/up to post", BM_ConfirmUpToPost)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    table->Cancel();
    g_screen->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    Finalize();
    return 0;
}
