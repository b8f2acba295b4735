// ger-server copy of the large seed from SQLite to PostgreSQL, beside its reference measured in
// the same run: every table dumped as CSV by the sqlite3 shell and loaded with psql's \copy into
// a database that already has the schema (no checks, no conversions).
//
// GER_BENCH_PG_URL=postgresql://user@host:port (scripts/bench starts a throwaway cluster).

#include "serverprocess.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QProcess>

#include <cstdio>

using namespace Qt::StringLiterals;

namespace {

QString g_base, g_source, g_dir;
int g_databases = 0;

bool Exec(const QString &program, const QStringList &args, const QString &outFile = {}) {
    QProcess p;
    if (!outFile.isEmpty())
        p.setStandardOutputFile(outFile);
    p.start(program, args);
    p.waitForFinished(-1);
    if (p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0)
        return true;
    std::fprintf(stderr, "%s: %s\n", qPrintable(program), p.readAllStandardError().constData());
    return false;
}

QString NewDatabase() {
    const QString name =
        u"ger_bench_copy_%1_%2"_s.arg(QCoreApplication::applicationPid()).arg(++g_databases);
    Exec(u"psql"_s, {g_base + u"/postgres"_s, u"-qc"_s, u"CREATE DATABASE "_s + name});
    return g_base + u'/' + name;
}

constexpr qint64 Rows =
    110'041; // large:20: 20 companies and records, 10.000 balances, 100.000 entries

void BM_Copy(benchmark::State &state) {
    for (auto _ : state) {
        state.PauseTiming();
        const QString target = NewDatabase();
        state.ResumeTiming();
        if (!Exec(ServerProcess::Executable(),
                  {u"copy"_s, u"--db"_s, u"sqlite:"_s + g_source, u"--to"_s, target}))
            state.SkipWithError("copy failed");
    }
    state.SetItemsProcessed(state.iterations() * Rows);
}

void BM_Reference(benchmark::State &state) {
    const QStringList tables{u"EMPRESA"_s,  u"PARAMGERAL"_s,   u"CONTOPECTBL"_s,  u"SALDEMPR"_s,
                             u"LANCCONT"_s, u"FECHAPERIODO"_s, u"HISTALTERACAO"_s};
    for (auto _ : state) {
        state.PauseTiming();
        const QString target = NewDatabase();
        // The schema, as the server makes it.
        Exec(ServerProcess::Executable(),
             {u"export"_s, u"paramgeral"_s, u"/dev/null"_s, u"--db"_s, target});
        state.ResumeTiming();
        for (const QString &t : tables) {
            const QString file = g_dir + u'/' + t + u".csv"_s;
            if (!Exec(u"sqlite3"_s, {u"-csv"_s, g_source, u"SELECT * FROM "_s + t}, file) ||
                !Exec(u"psql"_s, {target, u"-qc"_s, u"\\copy %1 FROM '%2' CSV"_s.arg(t, file)}))
                state.SkipWithError("reference failed");
        }
    }
    state.SetItemsProcessed(state.iterations() * Rows);
}

} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (qEnvironmentVariableIsEmpty("GER_BIN_DIR"))
        qputenv("GER_BIN_DIR", QCoreApplication::applicationDirPath().toUtf8());
    g_base = qEnvironmentVariable("GER_BENCH_PG_URL");
    if (g_base.isEmpty()) {
        std::fprintf(stderr, "GER_BENCH_PG_URL is not set\n");
        return 1;
    }
    ServerProcess seeded;
    if (!seeded.Start({}, 0, u"large:20"_s)) {
        std::fprintf(stderr, "%s\n", seeded.Output().constData());
        return 1;
    }
    seeded.Stop();
    g_source = seeded.DbPath();
    g_dir = seeded.Dir();
    benchmark::RegisterBenchmark("postgresql/copy/large-20", BM_Copy)
        ->Iterations(3)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
    benchmark::RegisterBenchmark("postgresql/copy/reference", BM_Reference)
        ->Iterations(3)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
