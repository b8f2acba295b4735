// The parameter screen changing data on the large seed (1,000 companies, 5 million entries), each
// path timed from the user's click to browse state, through a real ger-server and the desktop
// host's own local copies (refreshed from the server's cache object after every send):
//  - insert and confirm a record for a company that has none;
//  - edit and confirm an existing record (it has unevolved entries: the question is answered Yes);
//  - delete a record and reload the list.
// Each reports, as counters, the server calls it made and the time they took on the wire (screen
// connection and cache connection together), so the screen's own share is the rest. Ping is
// measured in the same run.

#include "benchhost.h"
#include "components/dbcheckbox.h"
#include "components/dbedit.h"
#include "components/hostinterface.h"
#include "components/toolbutton.h"
#include "dataset/clientdataset.h"
#include "localdatabase.h"
#include "package/pkg_ger09400.h"
#include "param_screen/frmparamcontab.h"
#include "rpc/netconnection.h"
#include "serverprocess.h"
#include "testhost.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QJsonArray>

#include <cstdio>

using namespace Qt::StringLiterals;

namespace {

// A company the bench adds to the large seed for the time of the run: no record, no entries, so
// it can be inserted and deleted over and over.
const QString Spare = u"ZZ"_s;
const QString Edited = u"02"_s; // entries of October 2025 left out of its balances

TestHost *g_host = nullptr;
BenchHost *g_bench = nullptr;
TfrmParamContab *g_screen = nullptr;

bool GoTo(const QString &code) {
    TClientDataSet *t = g_screen->cdsContOpe;
    for (t->First(); !t->Eof(); t->Next())
        if (t->FieldByName(u"CDEMPRESA"_s)->AsString() == code)
            return true;
    return false;
}

void ResetUsage() {
    g_screen->netParamCtbl->ResetCallUsage();
    g_bench->Cache.ResetCallUsage();
}

struct Totals : CallTotals {
    void Add() { CallTotals::Add(*g_screen->netParamCtbl, g_bench->Cache); }
    void Report(benchmark::State &state) const {
        const double rounds = double(qMax<qint64>(1, state.iterations()));
        state.counters["server_calls"] = double(Calls) / rounds;
        state.counters["server_ms"] = double(Nanoseconds) / rounds / 1e6;
    }
};

// Any box but the expected ones, or a path that did not end in browse state, stops the run: a
// benchmark of a failing path measures nothing.
bool Failed(benchmark::State &state, const char *what) {
    if (g_host->ErrorTexts().isEmpty() && g_host->UnexpectedBoxes == 0 &&
        g_screen->cdsContOpe->State() == TDataSetState::Browse &&
        g_screen->cdsContOpe->ChangeCount() == 0)
        return false;
    state.SkipWithError(
        (std::string(what) + ": " + g_host->BoxTexts().join(u" | "_s).toStdString()).c_str());
    return true;
}

void InsertSpare() {
    g_screen->sbtIncluir->Click();
    g_screen->dbeCdEmpresa->setText(Spare);
    g_screen->sbtConfirmar->click();
}

void DeleteSpare() {
    GoTo(Spare);
    g_host->QueueAnswer(mrYes);
    g_screen->sbtExcluir->click();
}

void BM_Ping(benchmark::State &state) {
    for (auto _ : state)
        benchmark::DoNotOptimize(g_screen->netParamCtbl->Ping());
}

// The heaviest calls of the three paths, bare, as the screen and the host make them.
void BM_Call(benchmark::State &state, TNetConnection *(*net)(), QString method, QJsonArray args) {
    for (auto _ : state)
        benchmark::DoNotOptimize(net()->Call(method, args).Ok);
}

TNetConnection *ScreenNet() {
    return g_screen->netParamCtbl;
}

TNetConnection *CacheNet() {
    return &g_bench->Cache;
}

// The two pieces every save path ends with: the local copies' refresh and the list's reload.
void BM_RefreshLocalCopies(benchmark::State &state) {
    for (auto _ : state)
        g_bench->AtualizaLocalCache(::LocalDatabase::CachedTables());
}

void BM_Reload(benchmark::State &state) {
    for (auto _ : state)
        g_screen->sbtVerificar->Click();
}

void BM_InsertAndConfirm(benchmark::State &state) {
    Totals totals;
    for (auto _ : state) {
        ResetUsage();
        g_screen->sbtIncluir->Click();
        state.PauseTiming(); // the user types the code
        g_screen->dbeCdEmpresa->setText(Spare);
        state.ResumeTiming();
        g_screen->sbtConfirmar->click();
        state.PauseTiming();
        totals.Add();
        if (Failed(state, "insert"))
            break;
        DeleteSpare();
        if (Failed(state, "delete after insert"))
            break;
        state.ResumeTiming();
    }
    totals.Report(state);
}

void BM_EditAndConfirm(benchmark::State &state) {
    Totals totals;
    TDBCheckBox *control = g_screen->dbcCusto;
    for (auto _ : state) {
        state.PauseTiming();
        GoTo(Edited);
        g_host->QueueAnswer(mrYes); // unevolved entries in December: close anyway
        ResetUsage();
        state.ResumeTiming();
        g_screen->sbtAlterar->Click();
        state.PauseTiming(); // the user ticks a box
        control->click();
        state.ResumeTiming();
        g_screen->sbtConfirmar->click();
        state.PauseTiming();
        totals.Add();
        if (Failed(state, "edit"))
            break;
        state.ResumeTiming();
    }
    totals.Report(state);
}

void BM_DeleteAndReload(benchmark::State &state) {
    Totals totals;
    for (auto _ : state) {
        state.PauseTiming();
        InsertSpare();
        if (Failed(state, "insert before delete"))
            break;
        GoTo(Spare);
        g_host->QueueAnswer(mrYes);
        ResetUsage();
        state.ResumeTiming();
        g_screen->sbtExcluir->click();
        state.PauseTiming();
        totals.Add();
        if (Failed(state, "delete"))
            break;
        state.ResumeTiming();
    }
    totals.Report(state);
}

// Adds or removes the spare company in the seed's file, while no server has it open.
bool SetSpare(const QString &dbPath, bool present) {
    QStringList statements{u"DELETE FROM CONTOPECTBL WHERE CDEMPRESA = '%1'"_s.arg(Spare),
                           u"DELETE FROM EMPRESA WHERE CDEMPRESA = '%1'"_s.arg(Spare)};
    if (present)
        statements << u"INSERT INTO EMPRESA (CDEMPRESA, NMEMPRESA) VALUES "
                      "('%1', 'Empresa Avulsa de Medida')"_s.arg(Spare);
    return ExecSqlite(dbPath, statements);
}

} // namespace

int main(int argc, char **argv) {
    UseOffscreenUnlessSet();
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    FindServerBesideBenchmark();

    const QString dbPath = SharedLargeSeed();
    if (dbPath.isEmpty())
        return 1;
    const QStringList serverArgs{u"--db"_s, u"sqlite:"_s + dbPath, u"--log-level"_s, u"warn"_s};
    QElapsedTimer timer;
    timer.start();
    if (!SetSpare(dbPath, true)) {
        std::fprintf(stderr, "could not add the spare company to %s\n", qPrintable(dbPath));
        return 1;
    }
    int status = 0;
    {
        ServerProcess server;
        if (!server.Start(serverArgs, 0, u"large"_s)) {
            std::fprintf(stderr, "server did not start: %s\n", server.Output().constData());
            return 1;
        }
        std::fprintf(stderr, "large server ready in %.1f s\n", timer.elapsed() / 1000.0);

        TestHost host;
        host.Port = server.Port();
        BenchHost bench(host, server.Port());
        g_host = &host;
        g_bench = &bench;
        Initialize();
        IniProc();
        g_screen = frmParamContab;
        if (!g_screen || g_screen->cdsContOpe->RecordCount() < 1000 || !GoTo(Edited)) {
            std::fprintf(stderr, "the screen did not load the large seed\n");
            status = 1;
        } else {
            benchmark::RegisterBenchmark("Ping", BM_Ping)->Unit(benchmark::kMicrosecond);
            benchmark::RegisterBenchmark("Call/GetContOpe", BM_Call, ScreenNet, u"GetContOpe"_s,
                                         QJsonArray{})
                ->Unit(benchmark::kMillisecond);
            benchmark::RegisterBenchmark("Call/GetPescLanc", BM_Call, ScreenNet, u"GetPescLanc"_s,
                                         QJsonArray{Edited})
                ->Unit(benchmark::kMillisecond);
            for (const QString &table : ::LocalDatabase::CachedTables())
                benchmark::RegisterBenchmark(
                    ("Call/GetTabela " + table.toStdString()).c_str(), BM_Call, CacheNet,
                    u"GetTabela"_s, QJsonArray{table, ::LocalDatabase::CachedColumns(table)})
                    ->Unit(benchmark::kMillisecond);
            benchmark::RegisterBenchmark("Host/refresh local copies", BM_RefreshLocalCopies)
                ->Unit(benchmark::kMillisecond);
            benchmark::RegisterBenchmark("Screen/reload", BM_Reload)->Unit(benchmark::kMillisecond);
            benchmark::RegisterBenchmark("Save/insert and confirm", BM_InsertAndConfirm)
                ->Unit(benchmark::kMillisecond);
            benchmark::RegisterBenchmark("Save/edit and confirm", BM_EditAndConfirm)
                ->Unit(benchmark::kMillisecond);
            benchmark::RegisterBenchmark("Save/delete and reload", BM_DeleteAndReload)
                ->Unit(benchmark::kMillisecond);
            benchmark::RunSpecifiedBenchmarks();
        }
        benchmark::Shutdown();
        if (g_screen)
            g_screen->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        Finalize();
    }
    // Leave the shared seed as the other benchmarks expect it.
    if (!SetSpare(dbPath, false))
        status = 1;
    return status;
}
