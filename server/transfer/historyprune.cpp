#include "historyprune.h"

#include "csvexport.h"
#include "database.h"
#include "historychain.h"
#include "migrations.h"
#include "serverlog.h"
#include "serveroptions.h"

#include <QDate>
#include <QDateTime>
#include <QFile>
#include <QLocale>

#include <cstdio>

using namespace Qt::StringLiterals;

namespace {

constexpr int ExitFailure = 1;
constexpr int ExitUsage = 2;

void Print(FILE *to, const QString &text) {
    std::fprintf(to, "%s\n", text.toUtf8().constData());
}

QString Usage() {
    return u"uso: ger-server prune-history DATA ARQUIVO [--db URL | --config ARQUIVO]\n"
           "     remove do histórico as alterações anteriores a DATA (dd/mm/aaaa ou aaaa-mm-dd), "
           "gravando-as antes em ARQUIVO"_s;
}

QDate ParseDate(const QString &text) {
    QDate date = QDate::fromString(text, u"dd/MM/yyyy"_s);
    if (!date.isValid())
        date = QDate::fromString(text, Qt::ISODate);
    return date;
}

// The data rows of an exported history file, and its last row's number and hash (the first
// and last fields: NRCADEIA and CDHASH, which never need quotes).
struct FileTail {
    qint64 Rows = -1;
    qint64 LastChain = 0;
    QByteArray LastHash;
};

FileTail ReadTail(const QString &path) {
    FileTail tail;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return tail;
    qint64 lines = 0;
    bool quoted = false;
    QByteArray last, line;
    while (!file.atEnd()) {
        const QByteArray chunk = file.read(1 << 16);
        if (chunk.isEmpty())
            return tail;
        for (const char c : chunk) {
            if (c == '"')
                quoted = !quoted;
            if (c == '\n' && !quoted) {
                ++lines;
                if (!line.isEmpty())
                    last = line;
                line.clear();
            } else if (c != '\r' || quoted) {
                line += c;
                if (line.size() > 64 * 1024)
                    line = line.right(1024); // only the line's ends are read
            }
        }
    }
    if (quoted || !line.isEmpty() || lines < 1)
        return tail;       // cut inside a row
    tail.Rows = lines - 1; // the header
    if (tail.Rows > 0) {
        tail.LastChain = last.left(last.indexOf(';')).toLongLong();
        tail.LastHash = last.mid(last.lastIndexOf(';') + 1);
    }
    return tail;
}

struct Plan {
    HistoryChain::Verdict Chain;
    qint64 Last = 0; // the last row to go; not above the anchor: nothing to do
};

} // namespace

namespace HistoryPrune {

bool Handles(const QStringList &arguments) {
    return arguments.size() > 1 && arguments.at(1) == u"prune-history"_s;
}

int Run(const QStringList &arguments) {
    const QString dateText = arguments.value(2);
    const QString path = arguments.value(3);
    const QDate before = ParseDate(dateText);
    const auto usage = [](const QString &fault) {
        Print(stderr, u"ger-server: %1"_s.arg(fault));
        Print(stderr, Usage());
        return ExitUsage;
    };
    if (dateText.isEmpty() || dateText.startsWith(u"--"_s))
        return usage(u"falta a data"_s);
    if (!before.isValid())
        return usage(u"data inválida: %1 (use dd/mm/aaaa ou aaaa-mm-dd)"_s.arg(
            ServerLog::Escape(dateText, 40)));
    if (path.isEmpty() || path.startsWith(u"--"_s))
        return usage(u"falta o arquivo"_s);
    // The day is UTC, as the history's moments: a later day would take today's rows, which the
    // chain's tail at every start and the desktops' history still show as the latest.
    const QDate today = QDateTime::currentDateTimeUtc().date();
    if (before > today)
        return usage(
            u"a data %1 é depois de hoje (%2, em UTC): a poda levaria alterações de "
            "hoje"_s.arg(before.toString(u"dd/MM/yyyy"_s), today.toString(u"dd/MM/yyyy"_s)));
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
    if (QFile::exists(path)) {
        Print(stderr, u"ger-server: %1 já existe; o histórico removido vai para um arquivo "
                      "novo"_s.arg(path));
        return ExitFailure;
    }
    // Opening a SQLite file that is not there would create an empty one, with nothing to prune.
    if (options.Db.startsWith(u"sqlite:"_s)) {
        if (const QString fault = ServerOptions::UnreadableFile(options.Db.mid(7));
            !fault.isEmpty()) {
            Print(stderr, u"ger-server: %1"_s.arg(fault));
            return ExitFailure;
        }
    }
    ServerLog::SetLevel(options.Level);
    std::unique_ptr<Database> database =
        Database::Open(options.Db, &error, u"ger-server prune-history"_s);
    if (!database || !Migrations::Run(*database, &error)) {
        Print(stderr, u"ger-server: não foi possível abrir %1: %2"_s.arg(
                          Database::Redacted(options.Db), error));
        return ExitFailure;
    }
    const QLocale br(QLocale::Portuguese, QLocale::Brazil);
    int rc = 0;
    bool written = false; // the file holds rows that are still in the database
    try {
        Plan plan;
        database->Transaction(Database::Access::Read, [&](QSqlDatabase &db) {
            plan.Chain = HistoryChain::Verify(db);
            // The chain's prefix before the date: a row of a later moment ends it, so no row is
            // removed while one before it in the chain stays.
            QSqlQuery q = Database::Prepare(
                db, u"SELECT MIN(NRCADEIA) FROM HISTALTERACAO WHERE DTALTERACAO >= ?"_s);
            q.bindValue(0, before.toString(Qt::ISODate));
            Database::Exec(q);
            plan.Last = Database::Next(q) && !q.value(0).isNull() ? q.value(0).toLongLong() - 1
                                                                  : plan.Chain.At.Last;
        });
        if (plan.Chain.First) {
            Print(stderr, u"ger-server: poda recusada: a cadeia do histórico está rompida na "
                          "%1; nada foi removido"_s.arg(plan.Chain.First->Text()));
            rc = ExitFailure;
        } else if (plan.Last <= plan.Chain.At.Anchor) {
            Print(stdout, u"nada a remover: nenhuma alteração anterior a %1"_s.arg(
                              before.toString(u"dd/MM/yyyy"_s)));
        } else {
            const QString range =
                u"NRCADEIA > %1 AND NRCADEIA <= %2"_s.arg(plan.Chain.At.Anchor).arg(plan.Last);
            qint64 rows = 0;
            if (!CsvExport::Run(*database, u"historico"_s, path, CsvExport::Encoding::Utf8, &rows,
                                &error, range)) {
                QFile::remove(path);
                Print(stderr, u"ger-server: poda recusada: %1; nada foi removido"_s.arg(error));
                return ExitFailure;
            }
            // What the file holds, read back from the disk: the rows go only when it has every
            // one of them, the last being the row that becomes the anchor.
            const FileTail tail = ReadTail(path);
            const qint64 planned = plan.Last - plan.Chain.At.Anchor;
            if (rows != planned || tail.Rows != planned || tail.LastChain != plan.Last) {
                QFile::remove(path);
                Print(stderr, u"ger-server: poda recusada: o arquivo %1 ficou com %2 linha(s), "
                              "a poda previa %3 (linhas %4 a %5 da cadeia); nada foi "
                              "removido"_s.arg(path, br.toString(tail.Rows), br.toString(planned))
                                  .arg(plan.Chain.At.Anchor + 1)
                                  .arg(plan.Last));
                return ExitFailure;
            }
            written = true;
            QByteArray anchor;
            database->Transaction(
                Database::Access::Write,
                [&](QSqlDatabase &db) {
                    const HistoryChain::Head head = HistoryChain::Lock(db, database->Kind());
                    if (head.Anchor != plan.Chain.At.Anchor)
                        throw CallFailure{u"conflict"_s, u"outra poda correu ao mesmo tempo"_s};
                    QSqlQuery last = Database::Prepare(
                        db, u"SELECT CDHASH FROM HISTALTERACAO WHERE NRCADEIA = ?"_s);
                    last.bindValue(0, plan.Last);
                    Database::Exec(last);
                    if (!Database::Next(last))
                        throw CallFailure{u"conflict"_s, u"a linha %1 sumiu"_s.arg(plan.Last)};
                    anchor = last.value(0).toString().toLatin1();
                    if (anchor != tail.LastHash)
                        throw CallFailure{u"conflict"_s,
                                          u"o último hash do arquivo não é o da linha %1 do "
                                          "histórico"_s.arg(plan.Last)};
                    QSqlQuery prune =
                        Database::Prepare(db, u"DELETE FROM HISTALTERACAO WHERE NRCADEIA <= ?"_s);
                    prune.bindValue(0, plan.Last);
                    Database::Exec(prune);
                    QSqlQuery move = Database::Prepare(
                        db, u"UPDATE HISTCADEIA SET NRANCORA = ?, CDANCORA = ? WHERE "
                            "IDCADEIA = 1"_s);
                    move.bindValue(0, plan.Last);
                    move.bindValue(1, QString::fromLatin1(anchor));
                    Database::Exec(move);
                },
                Database::Turn::Alone);
            written = false;
            Print(stdout, u"%1 alterações anteriores a %2 gravadas em %3 e removidas do "
                          "histórico; âncora da cadeia: linha %4, hash %5"_s
                              .arg(br.toString(rows), before.toString(u"dd/MM/yyyy"_s), path)
                              .arg(plan.Last)
                              .arg(QString::fromLatin1(anchor)));
        }
    } catch (const CallFailure &failure) {
        // A conflict is found before anything is deleted: a file of rows still in the history
        // would only mislead. Any other failure may have come as the deletion committed (a
        // connection lost then): the file stays, as it may be the rows' only copy.
        if (written && failure.Code == u"conflict"_s) {
            QFile::remove(path);
            Print(stderr, u"ger-server: poda falhou: %1; nada foi removido"_s.arg(failure.Message));
        } else if (written) {
            Print(stderr, u"ger-server: poda falhou: %1; o arquivo %2 fica: confira o histórico "
                          "com ger-server check antes de repetir"_s.arg(failure.Message, path));
        } else {
            Print(stderr, u"ger-server: poda falhou: %1"_s.arg(failure.Message));
        }
        rc = ExitFailure;
    }
    Database::CloseThreadConnections();
    database.reset();
    return rc;
}

} // namespace HistoryPrune
