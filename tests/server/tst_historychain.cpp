// The change history's hash chain against what an administrator can do by hand with sqlite3 or
// psql: each tampering is found by `ger-server check` at the row it touched, and said at the next
// start; a pruned history still verifies, and its file verifies on its own.

#include "methodsfixture.h"

#include <QDir>
#include <QFile>
#include <QTest>

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

        // A fresh history, its first rows pruned by a date just after them.
        QVERIFY2(m_fx.Start(&error), qPrintable(error));
        QVERIFY(Closings(3));
        QTest::qWait(20);
        const QString cut = QDateTime::currentDateTimeUtc().addDays(1).toString(u"dd/MM/yyyy"_s);
        const QString file = m_fx.Server().Dir() + u"/podado.csv"_s;
        r = Server({u"prune-history"_s, cut, file});
        QVERIFY2(r.Code == 0 && r.Out.contains(u"3 alterações anteriores a %1 gravadas em %2 e "
                                               "removidas do histórico; âncora da cadeia: linha "
                                               "3, hash "_s.arg(cut, file)),
                 qPrintable(r.Out));
        const QString anchor = r.Out.trimmed().right(64);
        QCOMPARE(m_fx.Scalar(u"SELECT COUNT(*) FROM HISTALTERACAO"_s).toInt(), 0);
        QCOMPARE(m_fx.Scalar(u"SELECT CDANCORA FROM HISTCADEIA"_s).toString(), anchor);

        const Run verified =
            Command(QStringLiteral(GER_SOURCE_DIR) + u"/scripts/verify-history"_s, {file});
        QVERIFY2(verified.Code == 0 &&
                     verified.Out.contains(u"3 linhas conferem; último hash "_s + anchor),
                 qPrintable(verified.Out));

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

    // A copy to another database (SQLite from either engine) keeps every row's moment to the
    // millisecond, and so its chain.
    void copyKeepsTheChain() {
        QVERIFY(Closings(3));
        const QString copy = u"sqlite:%1/copia.db"_s.arg(m_fx.Server().Dir());
        Run r = Server({u"copy"_s, u"--to"_s, copy});
        QVERIFY2(r.Code == 0, qPrintable(r.Out));
        r = Command(ServerProcess::Executable(), {u"check"_s, u"--db"_s, copy});
        QVERIFY2(r.Code == 0 && r.Out.contains(u"cadeia íntegra, 3 linhas conferidas"_s),
                 qPrintable(r.Out));
    }

    // A database from before the chain: its rows are chained once, in the order they were
    // written, when a server first opens it.
    void existingRowsChainedOnce() {
        QVERIFY(Closings(3));
        QString error;
        m_fx.Stop();
        // Back to the schema before the chain, with the rows it had.
        QVERIFY2(ByHand(u"DROP INDEX HISTALTERACAO_CADEIA; DROP TABLE HISTCADEIA; "
                        "ALTER TABLE HISTALTERACAO DROP COLUMN NRCADEIA; "
                        "ALTER TABLE HISTALTERACAO DROP COLUMN CDHASH; DROP TABLE ENCERRAMENTO; "
                        "DROP TABLE EXCECAO; "
                        "DELETE FROM SCHEMA_VERSION WHERE VERSION >= 5"_s,
                        &error),
                 qPrintable(error));
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
