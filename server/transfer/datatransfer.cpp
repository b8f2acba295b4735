#include "datatransfer.h"

#include "csvexport.h"
#include "csvimport.h"
#include "database.h"
#include "migrations.h"
#include "serverlog.h"
#include "serveroptions.h"

#include <QElapsedTimer>
#include <QLocale>

#include <cstdio>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

constexpr int ExitFailure = 1;
constexpr int ExitUsage = 2;

void Print(FILE *to, const QString &text) {
    std::fprintf(to, "%s\n", text.toUtf8().constData());
}

// Rows, rate and time left on one line redrawn in place, a few times a second.
class ProgressBar final {
public:
    void Show(qint64 done, qint64 total) {
        if (!m_timer.isValid())
            m_timer.start();
        if (done < total && m_last.isValid() && m_last.elapsed() < 200)
            return;
        m_last.start();
        const QLocale br(QLocale::Portuguese, QLocale::Brazil);
        constexpr int Width = 30;
        const int filled = total > 0 ? int(done * Width / total) : Width;
        const double seconds = qMax<double>(m_timer.elapsed() / 1000.0, 0.001);
        const double rate = done / seconds;
        const qint64 left = rate > 0 ? qint64((total - done) / rate) : 0;
        const QString line =
            u"\r[%1%2] %3/%4 linhas  %5 linhas/s  faltam %6:%7  "_s
                .arg(QString(filled, u'#'), QString(Width - filled, u' '), br.toString(done),
                     br.toString(total), br.toString(qint64(rate)))
                .arg(left / 60)
                .arg(left % 60, 2, 10, QChar(u'0'));
        std::fputs(line.toUtf8().constData(), stderr);
        std::fflush(stderr);
        m_shown = true;
    }
    ~ProgressBar() {
        if (m_shown)
            std::fputs("\n", stderr);
    }

private:
    QElapsedTimer m_timer, m_last;
    bool m_shown = false;
};

int Import(Database &database, const QString &kind, const QString &path) {
    // Another program's write (a second import, a bulk apply) is waited out, however long: the
    // operator started this one to have it done, and is told why nothing moves meanwhile.
    database.SetLockWait({-1, [] {
                              Print(stderr, u"ger-server: o banco está ocupado com a gravação de "
                                            "outro programa (outra importação, por exemplo); "
                                            "esta importação aguarda a vez de gravar..."_s);
                          }});
    std::unique_ptr<ProgressBar> bar;
    CsvImport::Progress progress;
    if (::isatty(STDERR_FILENO)) {
        bar = std::make_unique<ProgressBar>();
        progress.Step = [&](qint64 done, qint64 total) {
            bar->Show(done, total);
        };
    }
    const CsvImport::Outcome out = CsvImport::Run(database, kind, path, progress);
    bar.reset();
    if (out.Ok) {
        Print(stdout, out.Summary());
        ServerLog::Write(ServerLog::Level::Info,
                         u"importação gravada em %1 ms, com a gravação no banco reservada a ela "
                         "durante esse tempo"_s.arg(out.WriteMs));
        return 0;
    }
    for (const QString &error : out.Errors)
        Print(stderr, error);
    if (out.ErrorCount > out.Errors.size())
        Print(stderr, u"... e mais %1 erros (%2 no total)"_s.arg(out.ErrorCount - out.Errors.size())
                          .arg(out.ErrorCount));
    Print(stderr, u"ger-server: importação recusada: nada foi gravado"_s);
    return ExitFailure;
}

QString Usage() {
    return u"uso: ger-server import {%1} ARQUIVO [--db URL | --config ARQUIVO]\n"
           "     ger-server export {%2} ARQUIVO|- [--db URL | --config ARQUIVO]"_s.arg(
               CsvImport::Kinds().join(u'|'), CsvExport::Kinds().join(u'|'));
}

} // namespace

namespace DataTransfer {

bool Handles(const QStringList &arguments) {
    return arguments.size() > 1 &&
           (arguments.at(1) == u"import"_s || arguments.at(1) == u"export"_s);
}

int Run(const QStringList &arguments) {
    const bool importing = arguments.at(1) == u"import"_s;
    const QString kind = arguments.value(2);
    const QString path = arguments.value(3);
    const QStringList kinds = importing ? CsvImport::Kinds() : CsvExport::Kinds();
    if (!kinds.contains(kind) || path.isEmpty() || (importing && path == u"-"_s)) {
        Print(stderr, Usage());
        return ExitUsage;
    }
    ServerOptions options;
    QString error, text;
    if (!ServerOptions::Parse(QStringList{arguments.at(0)} + arguments.mid(4), options, &error,
                              &text)) {
        Print(stderr, u"ger-server: %1"_s.arg(error));
        return ExitUsage;
    }
    if (!text.isEmpty()) {
        Print(stdout, Usage() + u"\n\n"_s + text.trimmed());
        return 0;
    }
    ServerLog::SetLevel(options.Level);
    // The same schema the service creates at start: an import may be the first thing an empty
    // database sees.
    std::unique_ptr<Database> database = Database::Open(
        options.Db, &error, importing ? u"ger-server import"_s : u"ger-server export"_s);
    if (!database || !Migrations::Run(*database, &error)) {
        Print(stderr, u"ger-server: não foi possível abrir %1: %2"_s.arg(
                          Database::Redacted(options.Db), error));
        return ExitFailure;
    }
    int rc = 0;
    if (importing) {
        rc = Import(*database, kind, path);
    } else {
        qint64 rows = 0;
        if (CsvExport::Run(*database, kind, path, &rows, &error)) {
            Print(stderr, u"%1 linhas exportadas (%2)"_s.arg(
                              QLocale(QLocale::Portuguese, QLocale::Brazil).toString(rows), kind));
        } else {
            Print(stderr, u"ger-server: exportação falhou: %1"_s.arg(error));
            rc = ExitFailure;
        }
    }
    Database::CloseThreadConnections();
    database.reset();
    return rc;
}

} // namespace DataTransfer
