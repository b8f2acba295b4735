// `ger-server import lancamentos FILE` of many entries into a fresh database (schema made,
// companies in), beside the database's own bulk load of the same rows into the same table in the
// same run: sqlite3's `.import` on SQLite, psql's `\copy` on PostgreSQL. Each is one process,
// timed from start to exit, with its peak resident memory from wait4.
//
// On SQLite the import's writing pass alone (what it says it took: the time the database's write
// lock was its own, which every other writer waits out) is reported too, per 100,000 rows, beside
// the same figure of sqlite3's `.import`, whose whole run is one write transaction.
//
// GER_BENCH_IMPORT_ROWS sets the entries (5,000,000 by default; a smaller number for a quick run).
// One run is one database, as bench_methods: SQLite by default, PostgreSQL with
// GER_BENCH_DB=postgresql and GER_BENCH_PG_URL=postgresql://user@host:port.

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <cstdio>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

bool g_postgres = false;
QString g_pgBase;
std::string g_label = "sqlite";
QString g_bin;
QString g_dir;
qint64 g_rows = 5'000'000;
constexpr int Companies = 300;

struct Child {
    bool Ok = false;
    double Seconds = 0;
    double PeakMb = 0;
    QByteArray Output; // stdout and stderr
};

// The writing pass of the last import run, in seconds; negative until one ran.
double g_writeSeconds = -1;

// Runs the program to its end, its output thrown away unless it fails.
Child Run(const QStringList &arguments) {
    std::vector<QByteArray> bytes;
    for (const QString &a : arguments)
        bytes.push_back(a.toLocal8Bit());
    std::vector<char *> argv;
    for (QByteArray &b : bytes)
        argv.push_back(b.data());
    argv.push_back(nullptr);
    const QByteArray log = (g_dir + u"/child.log"_s).toLocal8Bit();
    QElapsedTimer timer;
    timer.start();
    const pid_t pid = ::fork();
    if (pid == 0) {
        // One open file for both, so neither writes over what the other wrote.
        if (std::freopen(log.constData(), "w", stdout) &&
            ::dup2(::fileno(stdout), STDERR_FILENO) >= 0)
            ::execvp(argv[0], argv.data());
        ::_exit(127);
    }
    int status = 0;
    rusage usage{};
    ::wait4(pid, &status, 0, &usage);
    Child child;
    child.Seconds = timer.nsecsElapsed() / 1e9;
    child.PeakMb = usage.ru_maxrss / 1024.0;
    child.Ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    QFile out(QString::fromLocal8Bit(log));
    if (out.open(QIODevice::ReadOnly))
        child.Output = out.read(1 << 20);
    if (!child.Ok)
        std::fprintf(stderr, "%s failed:\n%s\n", qPrintable(arguments.join(u' ')),
                     child.Output.left(4000).constData());
    return child;
}

bool PsqlCommand(const QString &db, const QString &command) {
    return Run({u"psql"_s, u"-X"_s, u"-q"_s, u"-v"_s, u"ON_ERROR_STOP=1"_s, u"-d"_s,
                g_pgBase + u'/' + db, u"-c"_s, command})
        .Ok;
}

QByteArray CompanyCode(int c) {
    static const char digits[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
    QByteArray code(2, '0');
    code[0] = digits[c / 36];
    code[1] = digits[c % 36];
    return code;
}

// The same entries twice: as an operator's file (dd/mm/aaaa, decimal comma), which the import
// reads, and with ISO dates and a decimal point, which the references need: neither sqlite3 nor
// psql turns the other form into these columns' values.
bool WriteFiles() {
    QFile companies(g_dir + u"/empresas.csv"_s);
    QFile ours(g_dir + u"/lancamentos.csv"_s);
    QFile reference(g_dir + u"/lancamentos-iso.csv"_s);
    if (!companies.open(QIODevice::WriteOnly) || !ours.open(QIODevice::WriteOnly) ||
        !reference.open(QIODevice::WriteOnly))
        return false;
    companies.write("CDEMPRESA;NMEMPRESA\n");
    for (int c = 0; c < Companies; ++c)
        companies.write(CompanyCode(c) + ";EMPRESA " + QByteArray::number(c) + '\n');
    const QByteArray header = "NRLANC;CDEMPRESA;DTLANC;CDCONTA;VRLANC;IDEVOLUIDO;IDRECALCFISC\n";
    ours.write(header);
    reference.write(header);
    QByteArray a, b;
    char line[160];
    for (qint64 n = 1; n <= g_rows; ++n) {
        const int day = int(n % 28) + 1, month = int(n / 28 % 12) + 1, year = 2020 + int(n % 7);
        const qint64 cents = (n * 7919) % 100'000'000 - 20'000'000;
        const qint64 whole = (cents < 0 ? -cents : cents) / 100,
                     fraction = (cents < 0 ? -cents : cents) % 100;
        const QByteArray company = CompanyCode(int(n % Companies));
        const char *account = n % 3 == 0 ? "1.1.01.001" : (n % 3 == 1 ? "2.1.02" : "3.01.0004.77");
        const char *evolved = n % 5 == 0 ? "N" : "S";
        const char *recalc = n % 11 == 0 ? "S" : "N";
        int size = std::snprintf(line, sizeof line, "%lld;%s;%02d/%02d/%d;%s;%s%lld,%02lld;%s;%s\n",
                                 n, company.constData(), day, month, year, account,
                                 cents < 0 ? "-" : "", whole, fraction, evolved, recalc);
        a.append(line, size);
        size = std::snprintf(line, sizeof line, "%lld;%s;%d-%02d-%02d;%s;%s%lld.%02lld;%s;%s\n", n,
                             company.constData(), year, month, day, account, cents < 0 ? "-" : "",
                             whole, fraction, evolved, recalc);
        b.append(line, size);
        if (a.size() > (1 << 20)) {
            ours.write(a);
            reference.write(b);
            a.clear();
            b.clear();
        }
    }
    ours.write(a);
    reference.write(b);
    return ours.error() == QFile::NoError && reference.error() == QFile::NoError;
}

// A database as a fresh install holds it before its first entries: the schema and the
// companies, both put there by ger-server itself.
bool FreshDatabase(const QString &name) {
    QString url;
    if (g_postgres) {
        if (!PsqlCommand(u"postgres"_s, u"DROP DATABASE IF EXISTS %1"_s.arg(name)) ||
            !PsqlCommand(u"postgres"_s, u"CREATE DATABASE %1"_s.arg(name)))
            return false;
        url = g_pgBase + u'/' + name;
    } else {
        const QString file = g_dir + u'/' + name + u".db"_s;
        for (const QString &suffix : {u""_s, u"-wal"_s, u"-shm"_s, u"-journal"_s})
            QFile::remove(file + suffix);
        url = u"sqlite:"_s + file;
    }
    return Run({g_bin + u"/ger-server"_s, u"import"_s, u"empresas"_s, g_dir + u"/empresas.csv"_s,
                u"--db"_s, url})
        .Ok;
}

void Report(benchmark::State &state, const Child &child) {
    if (!child.Ok) {
        state.SkipWithError("the process failed");
        return;
    }
    state.SetIterationTime(child.Seconds);
    state.counters["rows_per_s"] = double(g_rows) / child.Seconds;
    state.counters["ms_per_100k_rows"] = child.Seconds * 1000 * 100'000 / double(g_rows);
    state.counters["peak_mb"] = child.PeakMb;
    state.counters["rows"] = double(g_rows);
}

// What the import says its writing pass took; negative when it did not say.
double WriteSeconds(const Child &child) {
    static const QRegularExpression held(u"importação gravada em (\\d+) ms"_s);
    const auto match = held.match(QString::fromUtf8(child.Output));
    return child.Ok && match.hasMatch() ? match.captured(1).toDouble() / 1000 : -1;
}

void BM_Import(benchmark::State &state) {
    for (auto _ : state) {
        if (!FreshDatabase(u"bench_import_ours"_s)) {
            state.SkipWithError("no fresh database");
            return;
        }
        const QString url = g_postgres ? g_pgBase + u"/bench_import_ours"_s
                                       : u"sqlite:"_s + g_dir + u"/bench_import_ours.db"_s;
        const Child child = Run({g_bin + u"/ger-server"_s, u"import"_s, u"lancamentos"_s,
                                 g_dir + u"/lancamentos.csv"_s, u"--db"_s, url});
        g_writeSeconds = WriteSeconds(child);
        Report(state, child);
    }
}

// The import above, its writing pass alone; an import of its own when that one did not run.
void BM_WritingPass(benchmark::State &state) {
    for (auto _ : state) {
        if (g_writeSeconds < 0) {
            if (!FreshDatabase(u"bench_import_ours"_s)) {
                state.SkipWithError("no fresh database");
                return;
            }
            const Child child = Run({g_bin + u"/ger-server"_s, u"import"_s, u"lancamentos"_s,
                                     g_dir + u"/lancamentos.csv"_s, u"--db"_s,
                                     u"sqlite:"_s + g_dir + u"/bench_import_ours.db"_s});
            g_writeSeconds = WriteSeconds(child);
        }
        if (g_writeSeconds < 0) {
            state.SkipWithError("the import did not say how long it wrote");
            return;
        }
        Child pass;
        pass.Ok = true;
        pass.Seconds = qMax(g_writeSeconds, 0.001);
        Report(state, pass);
        g_writeSeconds = -1;
    }
}

void BM_Reference(benchmark::State &state) {
    for (auto _ : state) {
        if (!FreshDatabase(u"bench_import_reference"_s)) {
            state.SkipWithError("no fresh database");
            return;
        }
        const QString file = g_dir + u"/lancamentos-iso.csv"_s;
        if (g_postgres) {
            Report(state,
                   Run({u"psql"_s, u"-X"_s, u"-q"_s, u"-v"_s, u"ON_ERROR_STOP=1"_s, u"-d"_s,
                        g_pgBase + u"/bench_import_reference"_s, u"-c"_s,
                        u"\\copy LANCCONT (NRLANC, CDEMPRESA, DTLANC, CDCONTA, VRLANC, IDEVOLUIDO, "
                        "IDRECALCFISC) FROM '%1' WITH (FORMAT csv, DELIMITER ';', HEADER)"_s.arg(
                            file)}));
        } else {
            Report(state,
                   Run({u"sqlite3"_s, g_dir + u"/bench_import_reference.db"_s, u".mode csv"_s,
                        u".separator ;"_s, u".import --skip 1 %1 LANCCONT"_s.arg(file)}));
        }
    }
}

} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    g_bin = QCoreApplication::applicationDirPath();
    g_postgres = qEnvironmentVariable("GER_BENCH_DB") == u"postgresql"_s;
    if (g_postgres) {
        g_label = "postgresql";
        g_pgBase = qEnvironmentVariable("GER_BENCH_PG_URL");
        if (g_pgBase.isEmpty()) {
            std::fprintf(stderr, "GER_BENCH_PG_URL is not set\n");
            return 1;
        }
    }
    bool ok = false;
    const qint64 rows = qEnvironmentVariableIntValue("GER_BENCH_IMPORT_ROWS", &ok);
    if (ok && rows > 0)
        g_rows = rows;
    // Beside the build, not in /tmp: the files are a few hundred megabytes.
    const QString cache = g_bin + u"/../bench-cache"_s;
    QDir().mkpath(cache);
    QTemporaryDir dir(cache + u"/import-XXXXXX"_s);
    g_dir = dir.path();
    if (!WriteFiles()) {
        std::fprintf(stderr, "could not write the files in %s\n", qPrintable(g_dir));
        return 1;
    }
    // One run each: a run is many seconds, long beside what a core's waking costs.
    benchmark::RegisterBenchmark((g_label + "/import/lancamentos").c_str(), BM_Import)
        ->Unit(benchmark::kMillisecond)
        ->UseManualTime()
        ->Iterations(1);
    if (!g_postgres)
        benchmark::RegisterBenchmark((g_label + "/import/lancamentos/writing-pass").c_str(),
                                     BM_WritingPass)
            ->Unit(benchmark::kMillisecond)
            ->UseManualTime()
            ->Iterations(1);
    benchmark::RegisterBenchmark((g_label + (g_postgres ? "/import/lancamentos/psql-copy"
                                                        : "/import/lancamentos/sqlite3-import"))
                                     .c_str(),
                                 BM_Reference)
        ->Unit(benchmark::kMillisecond)
        ->UseManualTime()
        ->Iterations(1);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (g_postgres) {
        PsqlCommand(u"postgres"_s, u"DROP DATABASE IF EXISTS bench_import_ours"_s);
        PsqlCommand(u"postgres"_s, u"DROP DATABASE IF EXISTS bench_import_reference"_s);
    }
    return 0;
}
