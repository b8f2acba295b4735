// The change history's hash chain against what an administrator can do by hand with sqlite3 or
// psql: each tampering is found by `ger-server check` at the row it touched, and said at the next
// start; a pruned history still verifies, and its file verifies on its own.

#include "historychain.h"
#include "methodsfixture.h"
#include "pgproxy.h"

#include <QDir>
#include <QFile>
#include <QTest>
#include <QThread>

using namespace Qt::StringLiterals;

class TstHistoryChain final : public QObject {
    Q_OBJECT

    MethodsFixture m_fx;

    struct Run {
        int Code = -1;
        QString Out;
    };
    static Run Command(const QString &program, const QStringList &args) {
        QProcess p;
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(program, args);
        p.waitForFinished(120000);
        return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
                QString::fromUtf8(p.readAll())};
    }
    Run Server(const QStringList &args) {
        return Command(ServerProcess::Executable(), args + QStringList{u"--db"_s, m_fx.Url()});
    }

    // SQL typed by hand, through the database's own command-line client.
    bool ByHand(const QString &sql, QString *error) {
        const Run r = MethodsFixture::OnPostgres()
                          ? Command(u"psql"_s, {u"-v"_s, u"ON_ERROR_STOP=1"_s, u"-q"_s, m_fx.Url(),
                                                u"-c"_s, sql})
                          : Command(u"sqlite3"_s, {m_fx.Url().mid(7), sql});
        *error = r.Out;
        return r.Code == 0;
    }

    // `count` period closings, one history row each, for companies 01, 02, ...
    bool Closings(int count, int from = 1) {
        for (int i = from; i < from + count; ++i) {
            const TResultEnvelope r = m_fx.Client().Call(
                u"setUsuarioFechamentoPeriodo"_s,
                {u"%1"_s.arg((i - 1) % 9 + 1, 2, 10, QChar(u'0')),
                 u"%1/11/2026"_s.arg(i % 28 + 1, 2, 10, QChar(u'0')), u"maria"_s});
            if (!r.Ok)
                return false;
            QTest::qWait(2); // each call a moment of its own, as the old rows' order needs
        }
        return true;
    }

    // Back to the schema before the chain, with the rows it had: the next start chains them.
    bool Unchain(QString *error) {
        m_fx.Stop();
        return ByHand(u"DROP INDEX HISTALTERACAO_CADEIA; DROP TABLE HISTCADEIA; "
                      "ALTER TABLE HISTALTERACAO DROP COLUMN NRCADEIA; "
                      "ALTER TABLE HISTALTERACAO DROP COLUMN CDHASH; DROP TABLE ENCERRAMENTO; "
                      "DROP TABLE EXCECAO; DELETE FROM SCHEMA_VERSION WHERE VERSION >= 5"_s,
                      error);
    }
    // The history written so far moved two days back, in its order, and chained anew as a
    // history of that time: rows a prune of today's date may take. (The moment is hashed, so
    // moving it is done before the chain is made.)
    bool Backdate(QString *error) {
        if (!Unchain(error))
            return false;
        if (!ByHand(MethodsFixture::OnPostgres()
                        ? u"UPDATE HISTALTERACAO SET DTALTERACAO = DTALTERACAO - INTERVAL '2 days'"_s
                        : u"UPDATE HISTALTERACAO SET DTALTERACAO = strftime('%Y-%m-%dT%H:%M:%fZ', "
                          "DTALTERACAO, '-2 days')"_s,
                    error))
            return false;
        return m_fx.Restart(error);
    }

    // One history row whose text is cut to its column through a character (an emoji at units
    // 60 and 61), by `path`; "" when the call went through.
    QString Cut(const QString &path) {
        const QString emoji = u"\U0001F600"_s;
        TNetConnection &gate = m_fx.Client(u"Ger09400.Periodo"_s);
        TResultEnvelope r;
        if (path == u"close reason"_s) {
            r = gate.Call(u"Encerrar"_s, {u"01"_s, u"31/12/2000"_s, QString(47, u'a') + emoji});
        } else if (path == u"operator header"_s) {
            TNetConnection &c = m_fx.Client();
            c.SetOperator(QString(59, u'a') + emoji);
            r = c.Call(u"setUsuarioFechamentoPeriodo"_s, {u"01"_s, u"01/11/2026"_s, u"ana"_s});
        } else if (path == u"token file name"_s) {
            QFile file(m_fx.Server().Dir() + u"/tokens"_s);
            if (!file.open(QIODevice::WriteOnly) ||
                !file.write(QByteArray(40, 't') + ' ' + QByteArray(59, 'a') + emoji.toUtf8() +
                            "bc contador\n"))
                return u"no token file"_s;
            file.close();
            file.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
            QString error;
            if (!m_fx.StartSecond(&error, {u"--token-file"_s, file.fileName()}))
                return error;
            TNetConnection &c = m_fx.SecondClient();
            c.SetToken(QString(40, u't'));
            r = c.Call(u"setUsuarioFechamentoPeriodo"_s, {u"01"_s, u"01/11/2026"_s, u"ana"_s});
        } else {
            const QString expires =
                QDateTime::currentDateTimeUtc().addDays(2).toString(Qt::ISODate);
            r = gate.Call(u"ConcederExcecao"_s,
                          {u"01"_s, u""_s, u"01/01/2030"_s, u"02/01/2030"_s, expires,
                           path == u"grant reason"_s ? QString(23, u'a') + emoji : u"SPED"_s,
                           u""_s});
            if (r.Ok && path == u"revoke reason"_s)
                r = gate.Call(u"RevogarExcecao"_s, {u"1"_s, QString(44, u'a') + emoji});
        }
        return r.Ok ? QString() : r.ErrorCode + u": "_s + r.ErrorMessage;
    }

private Q_SLOTS:
    // A database server in another zone than UTC, as in São Paulo: the moments the chain hashes
    // must not move with it.
    void initTestCase() { qputenv("PGTZ", "America/Sao_Paulo"); }
    void init() {
        QString error;
        QVERIFY2(m_fx.Start(&error), qPrintable(error));
    }
    void cleanup() { m_fx.Stop(); }

    // Six rows, then one change by hand: check names the row where the chain stops matching,
    // and exits 1; the next start says it too.
    void tamperingFound_data() {
        QTest::addColumn<QString>("sql");
        QTest::addColumn<QString>("found"); // what check's line says after "rompida na "
        const QString insert =
            u"INSERT INTO HISTALTERACAO (IDALTERACAO, NRSEQ, DTALTERACAO, NMOPERADOR, "
            "IDVERIFICADO, NMMETODO, IDOPERACAO, CDEMPRESA, NMCAMPO, TPCAMPO, VLANTERIOR, VLNOVO, "
            "NRCADEIA, CDHASH) VALUES ('intruso', 1, '2026-12-01 10:00:00', 'intruso', 'S', "
            "'SetContOpe', 'A', '01', 'DTINICCONT', 'date', NULL, '2020-01-01', %1, %2)"_s;
        QTest::newRow("value changed")
            << u"UPDATE HISTALTERACAO SET VLNOVO = '2099-01-01' WHERE NRCADEIA = 3"_s
            << u"linha 3 da cadeia (empresa 03, campo FECHAMENTO"_s;
        QTest::newRow("operator changed")
            << u"UPDATE HISTALTERACAO SET NMOPERADOR = 'outro' WHERE NRCADEIA = 1"_s
            << u"linha 1 da cadeia"_s;
        QTest::newRow("row deleted") << u"DELETE FROM HISTALTERACAO WHERE NRCADEIA = 3"_s
                                     << u"linha 4 da cadeia (empresa 04, campo FECHAMENTO"_s;
        QTest::newRow("two rows deleted")
            << u"DELETE FROM HISTALTERACAO WHERE NRCADEIA IN (3, 4)"_s
            << u"linha 5 da cadeia (empresa 05, campo FECHAMENTO"_s;
        QTest::newRow("two rows swapped")
            << u"UPDATE HISTALTERACAO SET NRCADEIA = NRCADEIA + 100 WHERE NRCADEIA IN (2, 4);"
               "UPDATE HISTALTERACAO SET NRCADEIA = 106 - NRCADEIA WHERE NRCADEIA > 100"_s
            << u"linha 2 da cadeia (empresa 04"_s;
        QTest::newRow("row inserted outside the chain")
            << insert.arg(u"NULL"_s, u"NULL"_s) << u"linha fora da cadeia (alteração intruso"_s;
        QTest::newRow("row inserted after the last")
            << insert.arg(u"7"_s, u"'%1'"_s.arg(QString(64, u'a')))
            << u"linha 7 da cadeia (empresa 01"_s;
        QTest::newRow("last row deleted") << u"DELETE FROM HISTALTERACAO WHERE NRCADEIA = 6"_s
                                          << u"linha 6 da cadeia: faltam as linhas 6 a 6"_s;
        QTest::newRow("anchor changed")
            << u"UPDATE HISTCADEIA SET CDANCORA = '%1'"_s.arg(QString(64, u'f'))
            << u"linha 1 da cadeia"_s;
        QTest::newRow("head changed")
            << u"UPDATE HISTCADEIA SET CDULTIMO = '%1'"_s.arg(QString(64, u'f'))
            << u"linha 6 da cadeia: o fim registrado"_s;
    }
    void tamperingFound() {
        QFETCH(QString, sql);
        QFETCH(QString, found);
        QVERIFY(Closings(6));
        Run r = Server({u"check"_s});
        QVERIFY2(r.Code == 0 && r.Out.contains(u"cadeia íntegra, 6 linhas conferidas; fim da "
                                               "cadeia na linha 6, hash "_s),
                 qPrintable(r.Out));

        QString error;
        QVERIFY2(ByHand(sql, &error), qPrintable(error));
        r = Server({u"check"_s});
        QCOMPARE(r.Code, 1);
        QVERIFY2(r.Out.contains(u"cadeia do histórico rompida na "_s + found), qPrintable(r.Out));
        // Rows taken out are named by their numbers, one or several.
        if (sql.startsWith(u"DELETE"_s) && !sql.contains(u"= 6"_s))
            QVERIFY2(r.Out.contains(sql.contains(u"IN"_s)
                                        ? u"as linhas 3 a 4, anteriores a ela, não estão no "
                                          "histórico (foram removidas)"_s
                                        : u"a linha 3, anterior a ela, não está no histórico (foi "
                                          "removida)"_s),
                     qPrintable(r.Out));

        m_fx.Stop();
        QVERIFY2(m_fx.Restart(&error), qPrintable(error));
        QTRY_VERIFY2(QString::fromUtf8(m_fx.ServerOutput())
                         .contains(u"warn o histórico de alterações foi mexido por fora do "
                                   "servidor: "_s +
                                   found),
                     m_fx.ServerOutput().constData());
    }

    // The oldest rows go to a file and out of the database; what remains, and what is written
    // after, still verifies from the new anchor, and the file verifies without the server.
    void pruneLeavesAnAnchor() {
        QVERIFY(Closings(4));
        QString error;
        // Dated before the cut: the first three, in the chain's order.
        QVERIFY2(ByHand(u"UPDATE HISTALTERACAO SET DTALTERACAO = '2025-06-01 12:00:00' WHERE "
                        "NRCADEIA <= 3"_s,
                        &error),
                 qPrintable(error));
        // The moment is part of each row's hash: moving it is itself a tampering.
        Run r = Server({u"prune-history"_s, u"01/01/2026"_s, m_fx.Server().Dir() + u"/p.csv"_s});
        QCOMPARE(r.Code, 1);
        QVERIFY2(r.Out.contains(u"poda recusada: a cadeia do histórico está rompida na linha 1"_s),
                 qPrintable(r.Out));
        QVERIFY(!QFile::exists(m_fx.Server().Dir() + u"/p.csv"_s));

        // A fresh history of two days ago, pruned by today's date.
        QVERIFY2(m_fx.Start(&error), qPrintable(error));
        QVERIFY(Closings(3));
        QVERIFY2(Backdate(&error), qPrintable(error));
        const QString cut = QDateTime::currentDateTimeUtc().toString(u"dd/MM/yyyy"_s);
        const QString file = m_fx.Server().Dir() + u"/podado.csv"_s;
        r = Server({u"prune-history"_s, cut, file});
        QVERIFY2(r.Code == 0 && r.Out.contains(u"3 alterações anteriores a %1 gravadas em %2 e "
                                               "removidas do histórico; âncora da cadeia: linha "
                                               "3, hash "_s.arg(cut, file)),
                 qPrintable(r.Out));
        const QString anchor = r.Out.trimmed().right(64);
        QCOMPARE(m_fx.Scalar(u"SELECT COUNT(*) FROM HISTALTERACAO"_s).toInt(), 0);
        QCOMPARE(m_fx.Scalar(u"SELECT CDANCORA FROM HISTCADEIA"_s).toString(), anchor);

        const QString script = QStringLiteral(GER_SOURCE_DIR) + u"/scripts/verify-history"_s;
        const QString zeros(64, u'0');
        const Run verified = Command(script, {file, u"--start"_s, zeros, u"--end"_s, anchor});
        QVERIFY2(verified.Code == 0 &&
                     verified.Out.contains(u"começa após a linha 0 da cadeia, hash "_s + zeros) &&
                     verified.Out.contains(u"3 linhas conferem; último hash "_s + anchor),
                 qPrintable(verified.Out));
        // A file cut at either end still chains on its own: the ends written down tell.
        QFile whole(file);
        QVERIFY(whole.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = whole.readAll().split('\n');
        whole.close();
        const auto keep = [&](const QString &name, const QList<QByteArray> &kept) {
            QFile f(m_fx.Server().Dir() + u'/' + name);
            if (f.open(QIODevice::WriteOnly))
                f.write(kept.join('\n'));
            return f.fileName();
        };
        const QString noFirst = keep(u"sem-primeira.csv"_s, QList{lines.at(0)} + lines.mid(2));
        const QString noLast = keep(u"sem-ultima.csv"_s, lines.mid(0, 3));
        for (const auto &[path, args, fault] :
             {std::tuple{noFirst, QStringList{u"--start"_s, zeros}, u"não começa onde devia"_s},
              std::tuple{noLast, QStringList{u"--end"_s, anchor}, u"não termina onde devia"_s}}) {
            QCOMPARE(Command(script, {path}).Code, 0); // alone, either cut looks whole
            const Run told = Command(script, QStringList{path} + args);
            QVERIFY2(told.Code == 1 && told.Out.contains(fault), qPrintable(told.Out));
        }

        // A second prune finds nothing; new rows chain from the anchor.
        r = Server({u"prune-history"_s, cut, m_fx.Server().Dir() + u"/de-novo.csv"_s});
        QVERIFY2(r.Code == 0 && r.Out.contains(u"nada a remover"_s), qPrintable(r.Out));
        QVERIFY(Closings(2, 4));
        r = Server({u"check"_s});
        QVERIFY2(r.Code == 0 && r.Out.contains(u"cadeia íntegra, 2 linhas conferidas; fim da "
                                               "cadeia na linha 5"_s),
                 qPrintable(r.Out));

        // The file, changed in one value, no longer verifies.
        QFile f(file);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QByteArray text = f.readAll();
        f.close();
        text.replace(";FECHAMENTO;", ";DTINICCONT;");
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(text);
        f.close();
        const Run forged =
            Command(QStringLiteral(GER_SOURCE_DIR) + u"/scripts/verify-history"_s, {file});
        QVERIFY2(forged.Code == 1 && forged.Out.contains(u"linha 1: o hash não confere"_s),
                 qPrintable(forged.Out));
    }

    // At every start the last 1,000 rows are checked: an edit among them is said at once, one
    // before them only by check; the row the tail follows, gone, is said too.
    void tailCheckedAtStart_data() {
        QTest::addColumn<QString>("sql"); // %1 the chain's last number
        QTest::addColumn<QString>("warned"); // what the start's warning names; "" none
        QTest::addColumn<QString>("checked"); // what check names
        const QString edit = u"UPDATE HISTALTERACAO SET VLNOVO = '2099-01-01' WHERE NRCADEIA = "_s;
        QTest::newRow("edit in the tail") << edit + u"%1 - 5"_s << u"linha 1195 da cadeia"_s
                                          << u"linha 1195 da cadeia"_s;
        QTest::newRow("edit before the tail") << edit + u"10"_s << QString()
                                              << u"linha 10 da cadeia"_s;
        QTest::newRow("edit on the row the tail follows")
            << edit + u"%1 - 1000"_s << QString() << u"linha 200 da cadeia"_s;
        QTest::newRow("row the tail follows deleted")
            << u"DELETE FROM HISTALTERACAO WHERE NRCADEIA = %1 - 1000"_s
            << u"linha 200 da cadeia: a linha não está no histórico"_s
            << u"linha 201 da cadeia"_s;
    }
    void tailCheckedAtStart() {
        QFETCH(QString, sql);
        QFETCH(QString, warned);
        QFETCH(QString, checked);
        // 1,200 rows of another time, chained by the next start as a history from before the
        // chain is.
        QString error;
        QVERIFY2(Unchain(&error), qPrintable(error));
        QVERIFY2(ByHand(MethodsFixture::OnPostgres()
                            ? u"INSERT INTO HISTALTERACAO (IDALTERACAO, NRSEQ, DTALTERACAO, "
                              "NMOPERADOR, IDVERIFICADO, NMMETODO, IDOPERACAO, CDEMPRESA, NMCAMPO, "
                              "TPCAMPO, VLNOVO) SELECT 'carga-' || lpad(g::text, 4, '0'), 1, "
                              "TIMESTAMP '2026-01-01' + g * INTERVAL '1 second', 'carga', 'S', "
                              "'SetContOpe', 'A', '01', 'DTINICCONT', 'date', '2026-01-01' FROM "
                              "generate_series(1, 1200) g"_s
                            : u"WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n "
                              "WHERE i < 1200) INSERT INTO HISTALTERACAO (IDALTERACAO, NRSEQ, "
                              "DTALTERACAO, NMOPERADOR, IDVERIFICADO, NMMETODO, IDOPERACAO, "
                              "CDEMPRESA, NMCAMPO, TPCAMPO, VLNOVO) SELECT printf('carga-%04d', "
                              "i), 1, strftime('%Y-%m-%dT%H:%M:%fZ', '2026-01-01', '+' || i || "
                              "' seconds'), 'carga', 'S', 'SetContOpe', 'A', '01', 'DTINICCONT', "
                              "'date', '2026-01-01' FROM n"_s,
                        &error),
                 qPrintable(error));
        QVERIFY2(m_fx.Restart(&error), qPrintable(error));
        Run r = Server({u"check"_s});
        QVERIFY2(r.Code == 0 && r.Out.contains(u"cadeia íntegra, 1.200 linhas conferidas"_s),
                 qPrintable(r.Out));
        m_fx.Stop();
        QVERIFY2(ByHand(sql.contains(u"%1"_s) ? sql.arg(1200) : sql, &error), qPrintable(error));
        QVERIFY2(m_fx.Restart(&error), qPrintable(error));
        QTRY_VERIFY_WITH_TIMEOUT(m_fx.ServerOutput().contains("escutando"), 10000);
        const QString said = QString::fromUtf8(m_fx.ServerOutput());
        const QString warning = u"warn o histórico de alterações foi mexido por fora do servidor: "_s;
        if (warned.isEmpty())
            QVERIFY2(!said.contains(warning), qPrintable(said));
        else
            QVERIFY2(said.contains(warning + warned), qPrintable(said));
        r = Server({u"check"_s});
        QCOMPARE(r.Code, 1);
        QVERIFY2(r.Out.contains(u"cadeia do histórico rompida na "_s + checked), qPrintable(r.Out));
    }

    // A copy to another database (SQLite from either engine) keeps every row's moment to the
    // millisecond, and so its chain: the same texts and the same hashes on both, a character
    // outside the BMP among them.
    void copyKeepsTheChain() {
        QVERIFY(Closings(3));
        QVERIFY(Cut(u"close reason"_s).isEmpty());
        const QString copy = u"sqlite:%1/copia.db"_s.arg(m_fx.Server().Dir());
        Run r = Server({u"copy"_s, u"--to"_s, copy});
        QVERIFY2(r.Code == 0, qPrintable(r.Out));
        r = Command(ServerProcess::Executable(), {u"check"_s, u"--db"_s, copy});
        QVERIFY2(r.Code == 0 && r.Out.contains(u"cadeia íntegra, 4 linhas conferidas"_s),
                 qPrintable(r.Out));
        const QString rows = u"SELECT NRCADEIA || ' ' || CDHASH || ' ' || NMOPERADOR || ' ' || "
                             "COALESCE(VLNOVO, '-') FROM HISTALTERACAO ORDER BY NRCADEIA"_s;
        const QStringList here = m_fx.Column(rows);
        QCOMPARE(here.size(), 4);
        QCOMPARE(MethodsFixture::Column(MethodsFixture::Direct(copy, u"copia"_s), rows), here);
    }

    // A result cut part-way on PostgreSQL: the export fails instead of ending early as if done,
    // and a prune whose file did not get every row deletes nothing.
    void exportCutByTimeout() {
        if (!MethodsFixture::OnPostgres())
            QSKIP("a statement timeout is PostgreSQL's");
        QString error;
        // About 17 MB of rows, more than the sockets between the two hold.
        QVERIFY2(ByHand(u"INSERT INTO HISTALTERACAO (IDALTERACAO, NRSEQ, DTALTERACAO, NMOPERADOR, "
                        "IDVERIFICADO, NMMETODO, IDOPERACAO, CDEMPRESA, NMCAMPO, TPCAMPO, "
                        "VLANTERIOR, VLNOVO) SELECT 'carga-' || g, 1, now(), repeat('o', 60), "
                        "'S', 'SetContOpe', 'A', '01', 'DTINICCONT', 'date', repeat('a', 60), "
                        "repeat('b', 60) FROM generate_series(1, 60000) g; ALTER DATABASE %1 SET "
                        "statement_timeout = '1s'"_s.arg(QUrl(m_fx.Url()).path().mid(1)),
                        &error),
                 qPrintable(error));
        QProcess p;
        p.start(ServerProcess::Executable(),
                {u"export"_s, u"historico"_s, u"-"_s, u"--db"_s, m_fx.Url()});
        QVERIFY(p.waitForStarted());
        QThread::sleep(3); // a reader that does not keep up: the statement outlives its bound
        QVERIFY(p.waitForFinished(120000));
        const QByteArray out = p.readAllStandardOutput(), err = p.readAllStandardError();
        QCOMPARE(p.exitCode(), 1);
        QVERIFY2(err.contains("57014"), err.constData()); // canceled by the statement timeout
        QVERIFY(out.count('\n') < 60000);
    }
    void pruneCutMidway() {
        if (!MethodsFixture::OnPostgres())
            QSKIP("the cut is of a PostgreSQL connection");
        QVERIFY(Closings(12));
        QString error;
        QVERIFY2(Backdate(&error), qPrintable(error));
        PgProxy proxy(quint16(QUrl(m_fx.Url()).port()), PgProxy::Mode::Fail, "LAG(", 4);
        QUrl through(m_fx.Url());
        through.setPort(proxy.Port());
        through.setQuery(u"sslmode=disable"_s);
        const QString file = m_fx.Server().Dir() + u"/podado.csv"_s;
        QProcess p;
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(ServerProcess::Executable(),
                {u"prune-history"_s, QDateTime::currentDateTimeUtc().toString(u"dd/MM/yyyy"_s),
                 file, u"--db"_s, through.toString()});
        QTRY_VERIFY_WITH_TIMEOUT(p.state() == QProcess::NotRunning, 120000);
        const QString out = QString::fromUtf8(p.readAll());
        QVERIFY2(proxy.Spoilt() >= 1, qPrintable(out));
        QCOMPARE(p.exitCode(), 1);
        QVERIFY2(out.contains(u"nada foi removido"_s), qPrintable(out));
        QVERIFY(!QFile::exists(file));
        QCOMPARE(m_fx.Scalar(u"SELECT COUNT(*) FROM HISTALTERACAO"_s).toInt(), 12);
        const Run r = Server({u"check"_s});
        QVERIFY2(r.Code == 0 && r.Out.contains(u"cadeia íntegra, 12 linhas conferidas"_s),
                 qPrintable(r.Out));
    }

    // Texts cut to their column (a reason, an operator's name from the header or the token file)
    // are cut between characters: what is hashed is what both engines store, and the chain
    // verifies.
    void cutTextsKeepTheChain_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("column"); // of the last history row
        QTest::addColumn<QString>("stored");
        const QString a59 = QString(59, u'a');
        QTest::newRow("close reason")
            << u"close reason"_s << u"VLNOVO"_s << u"2000-12-31 ("_s + QString(47, u'a');
        QTest::newRow("operator header") << u"operator header"_s << u"NMOPERADOR"_s << a59;
        QTest::newRow("token file name") << u"token file name"_s << u"NMOPERADOR"_s << a59;
        QTest::newRow("revoke reason")
            << u"revoke reason"_s << u"VLNOVO"_s << u"nº 1 revogada ("_s + QString(44, u'a');
        QTest::newRow("grant reason")
            << u"grant reason"_s << u"VLNOVO"_s
            << u"nº 1 todos 01/01/2030 a 02/01/2030 ("_s + QString(23, u'a');
    }
    void cutTextsKeepTheChain() {
        QFETCH(QString, path);
        QFETCH(QString, column);
        QFETCH(QString, stored);
        const QString fault = Cut(path);
        QVERIFY2(fault.isEmpty(), qPrintable(fault));
        QCOMPARE(m_fx.Scalar(u"SELECT %1 FROM HISTALTERACAO ORDER BY NRCADEIA DESC LIMIT 1"_s.arg(
                                 column))
                     .toString(),
                 stored);
        const Run r = Server({u"check"_s});
        QVERIFY2(r.Code == 0 && r.Out.contains(u"cadeia íntegra"_s), qPrintable(r.Out));
    }

    // What an earlier release wrote on SQLite when it cut a text through a character (hashed
    // with '?', read back as U+FFFD) verifies, and check says so; edits made by hand around it
    // are each still named.
    void oldCutVerifies() {
        if (MethodsFixture::OnPostgres())
            QSKIP("PostgreSQL stored the '?' that was hashed: those rows always verified");
        QVERIFY(Closings(4));
        // Row 4 rewritten as that release wrote it: the operator's name ending in half a pair.
        QSqlDatabase db = m_fx.Db();
        QSqlQuery read(db);
        QVERIFY(read.exec(u"SELECT %1 FROM HISTALTERACAO WHERE NRCADEIA >= 3 ORDER BY "
                          "NRCADEIA"_s.arg(HistoryChain::Columns())));
        QByteArray previous;
        QVERIFY(read.next());
        HistoryChain::FromQuery(read, 0, &previous);
        QVERIFY(read.next());
        HistoryChain::Row row = HistoryChain::FromQuery(read, 0);
        read.finish();
        row.Operator = QString(59, u'b') + QChar(0xD83D);
        const QByteArray hash = HistoryChain::Link(previous, row);
        QSqlQuery write(db);
        QVERIFY(write.prepare(u"UPDATE HISTALTERACAO SET NMOPERADOR = ?, CDHASH = ? WHERE "
                              "NRCADEIA = 4"_s));
        write.addBindValue(row.Operator);
        write.addBindValue(QString::fromLatin1(hash));
        QVERIFY2(write.exec(), qPrintable(write.lastError().text()));
        QVERIFY(write.prepare(u"UPDATE HISTCADEIA SET CDULTIMO = ?"_s));
        write.addBindValue(QString::fromLatin1(hash));
        QVERIFY(write.exec());
        QCOMPARE(
            m_fx.Scalar(u"SELECT NMOPERADOR FROM HISTALTERACAO WHERE NRCADEIA = 4"_s).toString(),
            QString(59, u'b') + QChar::ReplacementCharacter);

        Run r = Server({u"check"_s});
        QVERIFY2(r.Code == 0 && r.Out.contains(u"cadeia íntegra, 4 linhas conferidas"_s) &&
                     r.Out.contains(u"histórico: 1 linha(s) gravada(s) por uma versão anterior, "
                                    "que cortava um texto no meio de um caractere, conferem na "
                                    "forma que ela calculou (linhas 4)"_s),
                 qPrintable(r.Out));

        // Two edits by hand, apart: each is named, the old row is not.
        QString error;
        QVERIFY2(
            ByHand(u"UPDATE HISTALTERACAO SET VLNOVO = '2099-01-01' WHERE NRCADEIA IN (1, 3)"_s,
                   &error),
            qPrintable(error));
        r = Server({u"check"_s});
        QCOMPARE(r.Code, 1);
        QCOMPARE(r.Out.count(u"cadeia do histórico rompida na "_s), 2);
        QVERIFY2(r.Out.contains(u"rompida na linha 1 da cadeia"_s) &&
                     r.Out.contains(u"rompida na linha 3 da cadeia"_s) &&
                     !r.Out.contains(u"rompida na linha 4"_s),
                 qPrintable(r.Out));
    }

    // A database from before the chain: its rows are chained once, in the order they were
    // written, when a server first opens it.
    void existingRowsChainedOnce() {
        QVERIFY(Closings(3));
        QString error;
        QVERIFY2(Unchain(&error), qPrintable(error));
        QVERIFY2(m_fx.Restart(&error), qPrintable(error));
        QCOMPARE(m_fx.Column(u"SELECT CDEMPRESA FROM HISTALTERACAO ORDER BY NRCADEIA"_s),
                 (QStringList{u"01"_s, u"02"_s, u"03"_s}));
        QVERIFY(Closings(1, 7));
        const Run r = Server({u"check"_s});
        QVERIFY2(r.Code == 0 && r.Out.contains(u"cadeia íntegra, 4 linhas conferidas"_s),
                 qPrintable(r.Out));
    }
};

QTEST_GUILESS_MAIN(TstHistoryChain)
#include "tst_historychain.moc"
