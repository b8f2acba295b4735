// The table `make bench` ends with: each figure beside its reference from the same run, the
// ratio and its target, on SQLite and on PostgreSQL. Reads the JSON files the benchmark
// executables wrote (--benchmark_out) in the folder given.

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QRegularExpression>

#include <cstdio>
#include <optional>

using namespace Qt::StringLiterals;

namespace {

struct Run {
    double Microseconds = 0;
    double PerSecond = 0;
    QJsonObject Raw;
};

QHash<QString, Run> g_runs;

// `prefix`: what a file's own names lack (the client's figures name no database).
void Load(const QString &path, const QString &prefix) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return;
    const QJsonArray benchmarks =
        QJsonDocument::fromJson(file.readAll()).object().value(u"benchmarks"_s).toArray();
    static const QRegularExpression decorations(
        u"/(real_time|manual_time|iterations:\\d+|threads:\\d+|repeats:\\d+)"_s);
    for (const QJsonValue &value : benchmarks) {
        const QJsonObject b = value.toObject();
        // A figure run several times is its median.
        const bool aggregate = b.value(u"run_type"_s).toString() == u"aggregate"_s;
        if (aggregate && b.value(u"aggregate_name"_s).toString() != u"median"_s)
            continue;
        const QString unit = b.value(u"time_unit"_s).toString();
        const double scale = unit == u"ns"_s   ? 1e-3
                             : unit == u"ms"_s ? 1e3
                             : unit == u"s"_s  ? 1e6
                                               : 1.0;
        Run run;
        run.Microseconds = b.value(u"real_time"_s).toDouble() * scale;
        run.PerSecond = b.value(u"items_per_second"_s).toDouble();
        run.Raw = b;
        const QString name = b.value(aggregate ? u"run_name"_s : u"name"_s).toString();
        g_runs.insert(prefix + QString(name).remove(decorations), run);
    }
}

std::optional<Run> Find(const QString &name) {
    const auto found = g_runs.constFind(name);
    if (found == g_runs.cend())
        return std::nullopt;
    return *found;
}

QString Time(double us) {
    if (us >= 1000)
        return u"%1 ms"_s.arg(us / 1000, 0, 'f', us >= 100000 ? 0 : 1);
    return u"%1 µs"_s.arg(us, 0, 'f', 0);
}

int g_met = 0, g_missed = 0, g_absent = 0;

// Padded by characters, not bytes: the captions are Portuguese.
void Line(const QStringList &cells) {
    static const int widths[] = {58, 10, 10, 32, 6, 10, 10};
    QString line = u"|"_s;
    for (int i = 0; i < cells.size(); ++i) {
        const bool right = i == 2 || i == 4;
        line +=
            u' ' +
            (right ? cells.at(i).rightJustified(widths[i]) : cells.at(i).leftJustified(widths[i])) +
            u" |"_s;
    }
    std::printf("%s\n", line.toUtf8().constData());
}

void Row(const QString &figure, const QString &db, const QString &measured,
         const QString &reference, std::optional<double> ratio, const QString &target, bool met) {
    QString verdict;
    if (!ratio) {
        verdict = u"sem medida"_s;
        ++g_absent;
    } else if (met) {
        verdict = u"ok"_s;
        ++g_met;
    } else {
        verdict = u"NÃO"_s;
        ++g_missed;
    }
    Line({figure, db, measured, reference, ratio ? QString::number(*ratio, 'f', 2) : u"-"_s, target,
          verdict});
}

// figure / (the sum of the references) against an upper bound.
void Ratio(const QString &figure, const QString &db, const QString &name,
           const QStringList &references, double most, const QString &referenceText) {
    const auto run = Find(db + u'/' + name);
    double sum = 0;
    bool all = run.has_value();
    for (const QString &r : references) {
        const auto ref = Find(db + u'/' + r);
        all = all && ref.has_value();
        if (ref)
            sum += ref->Microseconds;
    }
    if (!all || sum <= 0) {
        Row(figure, db, u"-"_s, referenceText, std::nullopt, u"≤ %1"_s.arg(most), false);
        return;
    }
    const double ratio = run->Microseconds / sum;
    Row(figure, db, Time(run->Microseconds), u"%1 %2"_s.arg(referenceText, Time(sum)), ratio,
        u"≤ %1"_s.arg(most), ratio <= most);
}

} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    const QString dir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : u"."_s;
    for (const QString &file : QDir(dir).entryList({u"*.json"_s}, QDir::Files))
        Load(QDir(dir).filePath(file),
             file.startsWith(u"bench_dataset"_s) ? u"cliente/"_s : QString());

    Line({u"figura"_s, u"banco"_s, u"medida"_s, u"referência (mesma execução)"_s, u"razão"_s,
          u"meta"_s, u"atingida"_s});
    QStringList rule;
    for (int width : {58, 10, 10, 32, 6, 10, 10})
        rule.append(QString(width, u'-'));
    Line(rule);

    for (const QString &db : {u"sqlite"_s, u"postgresql"_s}) {
        const double perCompany = db == u"sqlite"_s ? 1.2 : 1.5;
        for (const QString &m : {u"GetDataSaldEmpr"_s, u"GetPescLanc"_s, u"getLancSemEvolucao"_s})
            Ratio(m + u" (grande)"_s, db, u"large/"_s + m, {u"large/ping"_s, u"large/sql/"_s + m},
                  perCompany, u"ping + SQL puro"_s);
        Ratio(u"GetContOpe, 1.000 registros"_s, db, u"large/GetContOpe"_s,
              {u"large/sql/GetContOpe"_s}, 2.0,
              db == u"sqlite"_s ? u"SELECT puro (API C)"_s : u"SELECT puro"_s);
        for (const QString &m : {u"GetDataSaldEmpr"_s, u"GetPescLanc"_s, u"getLancSemEvolucao"_s,
                                 u"setUsuarioFechamentoPeriodo"_s, u"SetContOpe"_s})
            Ratio(m + u", grande / demo"_s, db, u"large/"_s + m, {u"demo/"_s + m}, 1.2, u"demo"_s);

        // Calls per second of 32 connections: a real read against the transport's own ping.
        const auto ping = Find(db + u"/demo/32-connections/ping"_s);
        const auto read = Find(db + u"/demo/32-connections/GetDataSaldEmpr"_s);
        const std::optional<double> share =
            ping && read && ping->PerSecond > 0
                ? std::optional<double>(read->PerSecond / ping->PerSecond)
                : std::nullopt;
        // On PostgreSQL each read is a round trip the ping does not make: told, not aimed at.
        const bool sqlite = db == u"sqlite"_s;
        const QString readText = read ? u"%1/s"_s.arg(read->PerSecond, 0, 'f', 0) : u"-"_s;
        const QString pingText = ping ? u"ping %1/s"_s.arg(ping->PerSecond, 0, 'f', 0) : u"ping"_s;
        if (sqlite)
            Row(u"32 conexões: GetDataSaldEmpr/s sobre ping/s"_s, db, readText, pingText, share,
                u"≥ 0.8"_s, share && *share >= 0.8);
        else
            Line({u"32 conexões: GetDataSaldEmpr/s sobre ping/s"_s, db, readText, pingText,
                  share ? QString::number(*share, 'f', 2) : u"-"_s, u"-"_s, u"informativo"_s});
        if (!sqlite) {
            // Three times the 4.1 thousand a second measured before the work on speed.
            const std::optional<double> times =
                read ? std::optional<double>(read->PerSecond / 4100.0) : std::nullopt;
            Row(u"32 conexões: GetDataSaldEmpr/s sobre 4,1 mil/s de antes"_s, db,
                read ? u"%1/s"_s.arg(read->PerSecond, 0, 'f', 0) : u"-"_s,
                ping ? u"ping %1/s"_s.arg(ping->PerSecond, 0, 'f', 0) : u"ping"_s, times, u"≥ 3"_s,
                times && *times >= 3);
        }

        // The period gate: one check as cheap as the cheapest read; many checks cost no more than
        // their bytes; many askers at once near the transport's own rate.
        Ratio(u"Periodo.Consulta, 1 consulta (grande) / GetDataSaldEmpr"_s, db,
              u"large/Periodo.Consulta"_s, {u"large/GetDataSaldEmpr"_s}, 1.1, u"GetDataSaldEmpr"_s);
        Ratio(u"Periodo.Consulta, 100.000 consultas numa chamada"_s, db,
              u"large/Periodo.Consulta/100000"_s, {u"large/Periodo.Consulta/100000/parse-write"_s},
              2.0, u"ler o pedido e escrever a resposta"_s);
        // Checks per second, which is what an integrator sizes a link by.
        const auto one = Find(db + u"/large/Periodo.Consulta"_s);
        const auto many = Find(db + u"/large/Periodo.Consulta/100000"_s);
        if (one && many)
            Line({u"Periodo.Consulta: consultas/s, uma por chamada; 100.000 numa chamada"_s, db,
                  u"%1/s; %2/s"_s.arg(one->PerSecond, 0, 'f', 0).arg(many->PerSecond, 0, 'f', 0),
                  u"-"_s, u"-"_s, u"-"_s, u"informativo"_s});
        if (const auto gate = Find(db + u"/demo/32-connections/Periodo.Consulta"_s)) {
            const std::optional<double> share =
                ping && ping->PerSecond > 0
                    ? std::optional<double>(gate->PerSecond / ping->PerSecond)
                    : std::nullopt;
            Row(u"32 conexões: Periodo.Consulta/s sobre ping/s"_s, db,
                u"%1/s"_s.arg(gate->PerSecond, 0, 'f', 0),
                ping ? u"ping %1/s"_s.arg(ping->PerSecond, 0, 'f', 0) : u"ping"_s, share,
                u"≥ 0.6"_s, share && *share >= 0.6);
        }

        const double bulkMost = db == u"sqlite"_s ? 40'000 : 100'000;
        const auto bulk = Find(db + u"/large/bulk-all"_s);
        Row(u"getErrosCadAuto \"T\" + setCadAuto \"T\", 1.000 empresas"_s, db,
            bulk ? Time(bulk->Microseconds) : u"-"_s, u"-"_s,
            bulk ? std::optional<double>(bulk->Microseconds / bulkMost) : std::nullopt,
            u"≤ %1"_s.arg(Time(bulkMost)), bulk && bulk->Microseconds <= bulkMost);

        const auto flood = Find(db + u"/large/GetContOpe-flood-memory"_s);
        const double rss = flood ? flood->Raw.value(u"rss_mb"_s).toDouble() : 0;
        Row(u"memória do servidor após 32 conexões × GetContOpe"_s, db,
            flood ? u"%1 MB"_s.arg(rss, 0, 'f', 1) : u"-"_s, u"-"_s,
            flood ? std::optional<double>(rss / 64.0) : std::nullopt, u"< 64 MB"_s, rss < 64);

        const auto hostLarge = Find(db + u"/large/ger-host--list"_s);
        const auto hostEmpty = Find(db + u"/empty/ger-host--list"_s);
        const std::optional<double> extra =
            hostLarge && hostEmpty
                ? std::optional<double>(hostLarge->Microseconds - hostEmpty->Microseconds)
                : std::nullopt;
        Row(u"ger-host --list: grande menos vazio"_s, db, extra ? Time(*extra) : u"-"_s,
            hostEmpty ? u"vazio %1"_s.arg(Time(hostEmpty->Microseconds)) : u"vazio"_s,
            extra ? std::optional<double>(*extra / 60'000) : std::nullopt, u"≤ 60 ms"_s,
            extra && *extra <= 60'000);

        // The import of an entries file against the database's own bulk load of the same rows.
        const QString loader = db == u"sqlite"_s ? u"sqlite3 .import"_s : u"psql \\copy"_s;
        const auto imported = Find(db + u"/import/lancamentos"_s);
        const auto loaded = Find(db + u"/import/lancamentos/"_s +
                                 (db == u"sqlite"_s ? u"sqlite3-import"_s : u"psql-copy"_s));
        const double rows = imported ? imported->Raw.value(u"rows"_s).toDouble() : 0;
        const QString caption = u"import lancamentos, %1 linhas (linhas/s)"_s.arg(
            QLocale(QLocale::Portuguese, QLocale::Brazil).toString(qint64(rows)));
        const auto perSecond = [](const std::optional<Run> &r) {
            return r ? r->Raw.value(u"rows_per_s"_s).toDouble() : 0.0;
        };
        const std::optional<double> importRatio =
            imported && loaded && loaded->Microseconds > 0
                ? std::optional<double>(imported->Microseconds / loaded->Microseconds)
                : std::nullopt;
        Row(caption, db, imported ? u"%1/s"_s.arg(perSecond(imported), 0, 'f', 0) : u"-"_s,
            loaded ? u"%1 %2/s"_s.arg(loader).arg(perSecond(loaded), 0, 'f', 0) : loader,
            importRatio, u"≤ 2"_s, importRatio && *importRatio <= 2.0);
        const double peak = imported ? imported->Raw.value(u"peak_mb"_s).toDouble() : 0;
        Row(u"import lancamentos: pico de memória do processo"_s, db,
            imported ? u"%1 MB"_s.arg(peak, 0, 'f', 1) : u"-"_s,
            loaded ? u"%1 %2 MB"_s.arg(loader).arg(loaded->Raw.value(u"peak_mb"_s).toDouble(), 0,
                                                   'f', 1)
                   : u"-"_s,
            imported ? std::optional<double>(peak / 64.0) : std::nullopt, u"< 64 MB"_s,
            imported && peak < 64);

        // How long an import keeps every other writer waiting, beside the same for the
        // database's own bulk load, whose whole run is one write transaction.
        if (db == u"sqlite"_s) {
            const auto pass = Find(db + u"/import/lancamentos/writing-pass"_s);
            const auto per100k = [](const std::optional<Run> &r) {
                return r ? r->Raw.value(u"ms_per_100k_rows"_s).toDouble() : 0.0;
            };
            const std::optional<double> passRatio =
                pass && loaded && per100k(loaded) > 0
                    ? std::optional<double>(per100k(pass) / per100k(loaded))
                    : std::nullopt;
            Row(u"import lancamentos: banco reservado à escrita, por 100.000 linhas"_s, db,
                pass ? u"%1 ms"_s.arg(per100k(pass), 0, 'f', 0) : u"-"_s,
                loaded ? u"%1 %2 ms"_s.arg(loader).arg(per100k(loaded), 0, 'f', 0) : loader,
                passRatio, u"≤ 1,5"_s, passRatio && *passRatio <= 1.5);
        }

        Ratio(u"SetContOpe de um registro: com histórico / sem"_s, db, u"demo/SetContOpe"_s,
              {u"demo/SetContOpe/no-history"_s}, 1.25, u"sem histórico"_s);
        Ratio(u"setCadAuto mudando 16 datas de 900 empresas: com / sem"_s, db,
              u"large/setCadAuto/changing"_s, {u"large/setCadAuto/changing/no-history"_s}, 1.25,
              u"sem histórico"_s);
        Ratio(u"histórico de uma empresa: 1 milhão de linhas / poucas"_s, db,
              u"history-1m/Audit.GetHistorico"_s, {u"history-small/Audit.GetHistorico"_s}, 1.2,
              u"poucas linhas"_s);
    }
    // The same call to a server counting for its metrics and to one that does not, in turns.
    for (const QString &m : {u"Ping"_s, u"GetDataSaldEmpr"_s}) {
        const auto side = Find(u"BM_Metrics"_s + m);
        const double on = side ? side->Raw.value(u"on_us"_s).toDouble() : 0;
        const double off = side ? side->Raw.value(u"off_us"_s).toDouble() : 0;
        const std::optional<double> ratio =
            off > 0 ? std::optional<double>(on / off) : std::nullopt;
        Row(u"%1 com métricas / sem (lado a lado)"_s.arg(m), u"sqlite"_s, side ? Time(on) : u"-"_s,
            side ? u"sem métricas %1"_s.arg(Time(off)) : u"-"_s, ratio, u"0.97 a 1.03"_s,
            ratio && qAbs(*ratio - 1.0) <= 0.03);
    }
    // The counting alone against the cheapest read it is added to.
    const auto record = Find(u"BM_CallMetricsRecord"_s);
    const auto read = Find(u"BM_MetricsGetDataSaldEmpr"_s);
    const double readUs = read ? read->Raw.value(u"off_us"_s).toDouble() : 0;
    Row(u"contagem de uma chamada / GetDataSaldEmpr sem métricas"_s, u"sqlite"_s,
        record ? u"%1 ns"_s.arg(record->Microseconds * 1000, 0, 'f', 0) : u"-"_s,
        read ? u"GetDataSaldEmpr %1"_s.arg(Time(readUs)) : u"-"_s,
        record && readUs > 0 ? std::optional<double>(record->Microseconds / readUs) : std::nullopt,
        u"≤ 0.03"_s, record && readUs > 0 && record->Microseconds / readUs <= 0.03);
    // The copy reads every table twice (to copy, then the target back to check it) and converts
    // each value; the reference only moves the bytes.
    Ratio(u"ger-server copy de large:20, SQLite → PostgreSQL"_s, u"postgresql"_s,
          u"copy/large-20"_s, {u"copy/reference"_s}, 2.0, u"sqlite3 -csv + \\copy"_s);
    // The desktop's side: the same reply bytes into the client table, against a bare parse.
    Ratio(u"resposta de GetContOpe carregada na tabela do cliente"_s, u"cliente"_s,
          u"BM_LoadContOpeReply"_s, {u"BM_BareParseContOpeReply_Qt"_s}, 2.0, u"parse puro (Qt)"_s);
    std::printf("\n%d metas atingidas, %d não atingidas, %d sem medida.\n", g_met, g_missed,
                g_absent);
    return 0;
}
