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
#include <optional>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

constexpr int ExitFailure = 1;
constexpr int ExitUsage = 2;

void Print(FILE *to, const QString &text) {
    std::fprintf(to, "%s\n", text.toUtf8().constData());
}

// Rows, rate and time left on one line redrawn in place, a few times a second; before them, how
// far the check of the file has read.
class ProgressBar final {
public:
    void Checking(qint64 rows, qint64 read, qint64 size) {
        if (read < size && m_last.isValid() && m_last.elapsed() < 200)
            return;
        m_last.start();
        const QLocale br(QLocale::Portuguese, QLocale::Brazil);
        const QString line =
            u"\rconferindo o arquivo: %1% (%2 linhas)  "_s.arg(size > 0 ? read * 100 / size : 100)
                .arg(br.toString(rows));
        std::fputs(line.toUtf8().constData(), stderr);
        std::fflush(stderr);
        m_shown = m_checking = true;
    }
    void Show(qint64 done, qint64 total) {
        if (m_checking) {
            std::fputs("\n", stderr);
            m_checking = false;
            m_last.invalidate();
        }
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
    bool m_shown = false, m_checking = false;
};

int Import(Database &database, const QString &kind, const QString &path, bool dryRun) {
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
        progress.Checking = [&](qint64 rows, qint64 read, qint64 size) {
            bar->Checking(rows, read, size);
        };
    }
    const CsvImport::Outcome out = CsvImport::Run(database, kind, path, progress, dryRun);
    bar.reset();
    if (out.Ok && dryRun) {
        Print(stdout, out.Summary() + u" (--dry-run: nada foi gravado)"_s);
        return 0;
    }
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
    return u"uso: ger-server import {%1} ARQUIVO [--dry-run] [--db URL | --config ARQUIVO]\n"
           "     ger-server export {%2} ARQUIVO|- [--encoding utf8|utf8-bom|cp1252] [--db URL | "
           "--config ARQUIVO]"_s.arg(CsvImport::Kinds().join(u'|'), CsvExport::Kinds().join(u'|'));
}

// A mistake in the command's own words, then how it is used.
int UsageError(const QString &text) {
    Print(stderr, u"ger-server: "_s + text);
    Print(stderr, Usage());
    return ExitUsage;
}

} // namespace

namespace DataTransfer {

bool Handles(const QStringList &arguments) {
    return arguments.size() > 1 &&
           (arguments.at(1) == u"import"_s || arguments.at(1) == u"export"_s);
}

int Run(const QStringList &arguments) {
    const bool importing = arguments.at(1) == u"import"_s;
    // The operands come first (ger-server arranges the line so), then the options; the
    // command's own options are taken off, the rest are the server's.
    QStringList operands, rest{arguments.at(0)};
    bool dryRun = false;
    std::optional<QString> encodingName;
    for (qsizetype i = 2; i < arguments.size(); ++i) {
        const QString &a = arguments.at(i);
        if (rest.size() == 1 && (a == u"-"_s || !a.startsWith(u'-')))
            operands << a;
        else if (importing && a == u"--dry-run"_s)
            dryRun = true;
        else if (!importing && a == u"--encoding"_s && i + 1 < arguments.size())
            encodingName = arguments.at(++i);
        else if (!importing && a.startsWith(u"--encoding="_s))
            encodingName = a.mid(11);
        else
            rest << a;
    }
    ServerOptions options;
    QString error, text;
    if (!ServerOptions::Parse(rest, options, &error, &text))
        return UsageError(error);
    if (!text.isEmpty()) {
        Print(stdout, Usage() + u"\n\n"_s + text.trimmed());
        return 0;
    }
    const QStringList kinds = importing ? CsvImport::Kinds() : CsvExport::Kinds();
    const QString kind = operands.value(0);
    const QString path = operands.value(1);
    if (kind.isEmpty())
        return UsageError(u"falta o tipo de dado"_s);
    if (!kinds.contains(kind))
        return UsageError(u"tipo desconhecido: %1"_s.arg(ServerLog::Escape(kind, 40)));
    if (path.isEmpty())
        return UsageError(u"falta o arquivo"_s);
    if (operands.size() > 2)
        return UsageError(u"argumento inesperado: %1"_s.arg(ServerLog::Escape(operands.at(2), 80)));
    if (importing && path == u"-"_s)
        return UsageError(u"a importação lê de um arquivo, não da entrada padrão"_s);
    CsvExport::Encoding encoding = CsvExport::Encoding::Utf8;
    if (encodingName && !CsvExport::ParseEncoding(*encodingName, encoding))
        return UsageError(u"--encoding espera utf8, utf8-bom ou cp1252; recebeu \"%1\""_s.arg(
            ServerLog::Escape(*encodingName, 40)));
    // Said before any database is opened: a mistyped name must not cost a wait for the lock.
    if (importing) {
        if (const QString fault = ServerOptions::UnreadableFile(path); !fault.isEmpty()) {
            Print(stderr, u"ger-server: "_s + fault);
            return ExitFailure;
        }
    }
    // A dry run and an export only read: a mistyped path must not become a new, empty database
    // whose empty export replaces last night's file.
    if ((dryRun || !importing) && options.Db.startsWith(u"sqlite:"_s)) {
        if (const QString fault = ServerOptions::UnreadableFile(options.Db.mid(7));
            !fault.isEmpty()) {
            Print(stderr, u"ger-server: "_s + fault);
            return ExitFailure;
        }
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
        rc = Import(*database, kind, path, dryRun);
    } else {
        qint64 rows = 0;
        CsvExport::ChainEnds ends;
        if (CsvExport::Run(*database, kind, path, encoding, &rows, &error, {}, &ends)) {
            Print(stderr, u"%1 linhas exportadas (%2)"_s.arg(
                              QLocale(QLocale::Portuguese, QLocale::Brazil).toString(rows), kind));
            // What a reader checks the file against: where it starts and where it ends.
            if (!ends.FirstChain.isEmpty())
                Print(stderr, u"cadeia do histórico: começa após a linha %1 (hash %2) e termina "
                              "na linha %3 (hash %4)"_s.arg(QString::number(
                                                                ends.FirstChain.toLongLong() - 1),
                                                            ends.FirstPrevious, ends.LastChain,
                                                            ends.LastHash));
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
