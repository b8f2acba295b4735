// The bulk-registration confirm on the large seed (1,000 companies): both switches on, every
// company ("T"), from the click to the success box, through a real ger-server: the local checks,
// the validation call, the apply call and the host's local-copy refresh. The counters give the
// server calls and their wire time, so the screen's own share is the rest; ping is measured in the
// same run. The run works on a copy of the shared seed, since every round rewrites every record.

#include "benchhost.h"
#include "bulk_screen/frmcadauto.h"
#include "components/dateeditplus.h"
#include "components/functions.h"
#include "components/toolbutton.h"
#include "package/pkg_ger09400.h"
#include "param_screen/frmparamcontab.h"
#include "serverprocess.h"
#include "testhost.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstdio>

using namespace Qt::StringLiterals;

namespace {

TestHost *g_host = nullptr;
BenchHost *g_bench = nullptr;
TfrmCadAuto *g_screen = nullptr;

const QString Success = u"Cadastramento automático efetuado com sucesso!"_s;

void BM_Ping(benchmark::State &state) {
    for (auto _ : state)
        benchmark::DoNotOptimize(frmParamContab->netParamCtbl->Ping());
}

void BM_ConfirmAll(benchmark::State &state) {
    CallTotals totals;
    qint64 moduleCalls = 0; // to the parameter object: two, whatever the number of companies
    for (auto _ : state) {
        state.PauseTiming();
        g_host->ClearRecords();
        frmParamContab->netParamCtbl->ResetCallUsage();
        g_bench->Cache.ResetCallUsage();
        state.ResumeTiming();
        g_screen->sbtConfirma->click();
        state.PauseTiming();
        totals.Add(*frmParamContab->netParamCtbl, g_bench->Cache);
        moduleCalls += frmParamContab->netParamCtbl->CallUsage().Calls;
        if (g_host->BoxTexts() != QStringList{Success}) {
            state.SkipWithError(g_host->BoxTexts().join(u" | "_s).toStdString().c_str());
            break;
        }
        state.ResumeTiming();
    }
    const double rounds = double(qMax<qint64>(1, state.iterations()));
    state.counters["server_calls"] = double(totals.Calls) / rounds;
    state.counters["server_ms"] = double(totals.Nanoseconds) / rounds / 1e6;
    state.counters["module_calls"] = double(moduleCalls) / rounds;
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
    QTemporaryDir work(QFileInfo(shared).absolutePath() + u"/cadauto-XXXXXX"_s);
    const QString copy = work.filePath(u"large.db"_s);
    // Nothing inconsistent: no entry waits for the fiscal recalculation.
    if (!QFile::copy(shared, copy) ||
        !ExecSqlite(copy, {u"UPDATE LANCCONT SET IDRECALCFISC = 'N' WHERE IDRECALCFISC = 'S'"_s})) {
        std::fprintf(stderr, "could not prepare a copy of the large seed\n");
        return 1;
    }

    int status = 0;
    {
        ServerProcess server;
        if (!server.Start({u"--db"_s, u"sqlite:"_s + copy, u"--log-level"_s, u"warn"_s}, 0,
                          u"large"_s)) {
            std::fprintf(stderr, "server did not start: %s\n", server.Output().constData());
            return 1;
        }
        TestHost host;
        host.Port = server.Port();
        BenchHost bench(host, server.Port());
        g_host = &host;
        g_bench = &bench;
        Initialize();
        IniProc();
        g_screen = TfrmRotiGeral::Create<TfrmCadAuto>(Application());
        g_screen->show();
        stEmpresa = u"T"_s;
        g_screen->ckcPeriodos->click();
        g_screen->ckcControle->click();
        const QStringList typing = {
            u"01/2027"_s,    u"12/2027"_s,    u"01/2027"_s,    u"01/2027"_s,
            u"01/01/2027"_s, u"31/01/2027"_s, u"01/01/2027"_s, u"31/01/2027"_s,
            u"01/01/2027"_s, u"31/01/2027"_s, u"01/01/2027"_s, u"31/01/2027"_s,
            u"01/01/2027"_s, u"31/01/2027"_s, u"01/01/2027"_s, u"31/01/2027"_s};
        const QList<TDateEditPlus *> edits = g_screen->DateEdits();
        for (int i = 0; i < edits.size(); ++i)
            edits[i]->setText(typing[i]);
        g_screen->ckcContCCus->click();

        benchmark::RegisterBenchmark("Ping", BM_Ping)->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark("CadAuto/confirm, both switches, all companies", BM_ConfirmAll)
            ->Unit(benchmark::kMillisecond);
        benchmark::RunSpecifiedBenchmarks();
        benchmark::Shutdown();

        g_screen->close();
        if (frmParamContab)
            frmParamContab->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        Finalize();
    }
    return status;
}
