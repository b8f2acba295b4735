// The server against a PostgreSQL that goes away and comes back, and behind PgBouncer: a cluster
// of the suite's own (restarted under the server), the pooler in each of its modes, and the
// gate's listener proving that it hears across sessions.

#include "changewatch.h"
#include "database.h"
#include "jsonrpcmessage.h"
#include "methodsfixture.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <QWebSocket>

#include <unistd.h>

using namespace Qt::StringLiterals;

class TstDbOutage final : public QObject {
    Q_OBJECT

    MethodsFixture m_fx;
    const QString m_source = qEnvironmentVariable("GER_SOURCE_DIR");
    const QString m_clusterDir = qEnvironmentVariable("GER_OUTAGE_PG_DIR");
    const QString m_port = qEnvironmentVariable("GER_OUTAGE_PG_PORT");
    QString BouncerDir() const { return m_clusterDir + u"-bouncer"_s; }
    QString BouncerPort() const { return QString::number(m_port.toInt() + 1000); }

    // pg_ctl on the suite's cluster, as the user that owns it.
    bool PgCtl(const QStringList &args, QString *output) {
        const QStringList all{u"/usr/lib/postgresql/15/bin/pg_ctl"_s, u"-D"_s,
                              m_clusterDir + u"/data"_s, u"-w"_s};
        if (getuid() == 0)
            return RunCommand(u"runuser"_s,
                              QStringList{u"-u"_s, u"postgres"_s, u"--"_s} + all + args, output);
        return RunCommand(all.first(), all.mid(1) + args, output);
    }

    bool Bouncer(const QString &mode, QString *output) {
        return RunCommand(m_source + u"/scripts/pgbouncer-throwaway"_s,
                          {u"start"_s, BouncerDir(), BouncerPort(), m_port, mode}, output);
    }

    // The fixture's database, reached through the pooler.
    QString ThroughBouncer() const {
        QUrl url(m_fx.Url());
        url.setPort(BouncerPort().toInt());
        return url.toString();
    }

    // `calls` sent at once, eight a connection (as many as one may have under way), so that
    // they spread over the server's threads; each answer as "ok", the envelope's error code, or
    // "fault N".
    QStringList Burst(quint16 port, const QList<QPair<QString, QJsonArray>> &calls) {
        std::vector<std::unique_ptr<QWebSocket>> sockets;
        QStringList outcomes(calls.size(), u"unanswered"_s);
        int answered = 0;
        for (qsizetype first = 0; first < calls.size(); first += 8) {
            sockets.push_back(std::make_unique<QWebSocket>());
            QWebSocket &socket = *sockets.back();
            QSignalSpy connected(&socket, &QWebSocket::connected);
            socket.open(QUrl(u"ws://127.0.0.1:%1"_s.arg(port)));
            if (!connected.wait(5000))
                return {u"no connection"_s};
            connect(&socket, &QWebSocket::textMessageReceived, this, [&](const QString &text) {
                const QJsonObject reply = QJsonDocument::fromJson(text.toUtf8()).object();
                const int id = reply.value(u"id"_s).toInt(-1);
                if (id < 0 || id >= outcomes.size())
                    return;
                const QJsonObject result = reply.value(u"result"_s).toObject();
                outcomes[id] =
                    reply.contains(u"error"_s)
                        ? u"fault %1"_s.arg(
                              reply.value(u"error"_s).toObject().value(u"code"_s).toInt())
                    : result.value(u"ok"_s).toBool()
                        ? u"ok"_s
                        : result.value(u"error"_s).toObject().value(u"code"_s).toString();
                ++answered;
            });
        }
        for (qsizetype i = 0; i < calls.size(); ++i)
            sockets[size_t(i / 8)]->sendTextMessage(
                QString::fromUtf8(JsonRpc::EncodeRequest(int(i), calls[i].first, calls[i].second)));
        for (int waited = 0; answered < calls.size() && waited < 600; ++waited)
            QTest::qWait(100);
        return outcomes;
    }

    // Reads and writes of every kind a desktop makes, from four clients at once.
    static QList<QPair<QString, QJsonArray>> Load() {
        QList<QPair<QString, QJsonArray>> calls;
        for (int client = 0; client < 4; ++client) {
            for (int i = 0; i < 3; ++i) {
                calls.append({u"Ger09400.rdmParamCtbl.GetDataSaldEmpr"_s, {u"0%1"_s.arg(i + 1)}});
                calls.append({u"Ger09400.rdmParamCtbl.setUsuarioFechamentoPeriodo"_s,
                              {u"0%1"_s.arg(i + 1), u"30/11/2026"_s, u"maria"_s}});
            }
            calls.append(
                {u"Ger09400.Periodo.Consulta"_s,
                 {QJsonValue(QJsonArray{u"01;LANC;2026-12-01"_s, u"02;FIN;2026-12-01"_s})}});
            calls.append({u"Host.Cache.GetTabela"_s, {u"EMPRESA"_s}});
        }
        return calls;
    }

    static QStringList AllOk(qsizetype n) { return QStringList(n, u"ok"_s); }

    // Every line the server wrote is one of its log's: a time, a severity, a text.
    static QString RawLine(const QByteArray &output) {
        static const QRegularExpression line(
            u"^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}\\S* (debug|info|warn|error) \\S"_s);
        for (const QString &each : QString::fromUtf8(output).split(u'\n', Qt::SkipEmptyParts))
            if (!line.match(each).hasMatch())
                return each;
        return QString();
    }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY2(!m_clusterDir.isEmpty() && !m_port.isEmpty(), "no cluster of the suite's own");
        QString output;
        QVERIFY2(RunCommand(m_source + u"/scripts/pg-throwaway"_s,
                            {u"start"_s, m_clusterDir, m_port}, &output),
                 qPrintable(output));
    }

    void cleanupTestCase() {
        m_fx.Stop();
        QString output;
        RunCommand(m_source + u"/scripts/pgbouncer-throwaway"_s, {u"stop"_s, BouncerDir()},
                   &output);
        RunCommand(m_source + u"/scripts/pg-throwaway"_s, {u"stop"_s, m_clusterDir, m_port},
                   &output);
    }

    void init() {
        QString error;
        QVERIFY2(m_fx.Start(&error), qPrintable(error));
    }

    void cleanup() {
        m_fx.Stop();
        // The suite's own connections may have been cut with the server's.
        for (const QString &name : {u"admin"_s, u"direct"_s})
            QSqlDatabase::removeDatabase(name);
        QString output;
        RunCommand(m_source + u"/scripts/pgbouncer-throwaway"_s, {u"stop"_s, BouncerDir()},
                   &output);
    }

    // Whatever drops the server's sessions, the calls after it succeed, with no restart of the
    // server: those that found their connection dead started over on a new one.
    void callsOutliveTheirConnections_data() {
        QTest::addColumn<QString>("how");
        QTest::newRow("restart") << u"restart"_s;
        QTest::newRow("sessions terminated") << u"terminate"_s;
        QTest::newRow("idle sessions timed out") << u"idle"_s;
    }
    void callsOutliveTheirConnections() {
        QFETCH(QString, how);
        const auto load = Load();
        QCOMPARE(Burst(m_fx.Port(), load), AllOk(load.size()));
        QString output;
        if (how == u"restart"_s) {
            // Restarted while calls keep coming: those that meet it fail with `database` and
            // nothing else.
            QProcess restart;
            restart.setProcessChannelMode(QProcess::MergedChannels);
            const QStringList pgCtl{u"/usr/lib/postgresql/15/bin/pg_ctl"_s,
                                    u"-D"_s,
                                    m_clusterDir + u"/data"_s,
                                    u"-w"_s,
                                    u"restart"_s,
                                    u"-m"_s,
                                    u"fast"_s};
            if (getuid() == 0)
                restart.start(u"runuser"_s, QStringList{u"-u"_s, u"postgres"_s, u"--"_s} + pgCtl);
            else
                restart.start(pgCtl.first(), pgCtl.mid(1));
            QVERIFY(restart.waitForStarted());
            int rounds = 0;
            while (restart.state() != QProcess::NotRunning) {
                for (const QString &outcome : Burst(m_fx.Port(), load))
                    QVERIFY2(outcome == u"ok"_s || outcome == u"database"_s, qPrintable(outcome));
                ++rounds;
            }
            QVERIFY2(restart.exitCode() == 0, restart.readAll().constData());
            QVERIFY(rounds > 0);
        } else if (how == u"terminate"_s) {
            QVERIFY2(m_fx.Exec(u"SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE "
                               "datname = current_database() AND pid <> pg_backend_pid()"_s,
                               &output),
                     qPrintable(output));
        } else {
            QVERIFY2(
                m_fx.Exec(u"ALTER ROLE postgres SET idle_session_timeout = '300ms'"_s, &output),
                qPrintable(output));
            // The setting reaches sessions opened from now on: the server's are replaced once.
            QVERIFY2(m_fx.Exec(u"SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE "
                               "datname = current_database() AND pid <> pg_backend_pid()"_s,
                               &output),
                     qPrintable(output));
            QCOMPARE(Burst(m_fx.Port(), load), AllOk(load.size()));
            QTest::qWait(1000);
        }
        const QStringList after = Burst(m_fx.Port(), load);
        if (how == u"idle"_s)
            m_fx.Exec(u"ALTER ROLE postgres RESET idle_session_timeout"_s, &output);
        if (after != AllOk(load.size()))
            qDebug().noquote() << m_fx.ServerOutput().right(4000);
        QCOMPARE(after, AllOk(load.size()));
        QCOMPARE(Burst(m_fx.Port(), load), AllOk(load.size()));
        QCOMPARE(RawLine(m_fx.ServerOutput()), QString());
    }

    // While the database is down a call fails at once, saying so, and ping still answers; once
    // it is back the same server serves again.
    void callsFailWhileTheDatabaseIsAway() {
        const auto load = Load();
        QCOMPARE(Burst(m_fx.Port(), load), AllOk(load.size()));
        QString output;
        QVERIFY2(PgCtl({u"stop"_s, u"-m"_s, u"fast"_s}, &output), qPrintable(output));
        const auto start = [&] {
            return PgCtl({u"start"_s, u"-l"_s, m_clusterDir + u"/server.log"_s, u"-o"_s,
                          u"-p %1 -k %2 -c listen_addresses=127.0.0.1 -c fsync=off -c "
                          "max_connections=200"_s.arg(m_port, m_clusterDir)},
                         &output);
        };
        auto started = qScopeGuard([&] { start(); });
        QCOMPARE(Burst(m_fx.Port(), load), QStringList(load.size(), u"database"_s));
        TNetConnection &client = m_fx.Client();
        const TResultEnvelope failed = client.Call(u"GetDataSaldEmpr"_s, {u"01"_s});
        QCOMPARE(failed.ErrorCode, u"database"_s);
        QCOMPARE(failed.ErrorMessage, u"O banco de dados do servidor está inacessível no momento. "
                                      "Tente novamente em instantes."_s);
        QCOMPARE(Burst(m_fx.Port(), {{u"ping"_s, {}}}), QStringList{u"ok"_s});
        // A stop while the database is away closes what it holds in the log's own lines.
        QCOMPARE(RawLine(m_fx.ServerOutput()), QString());
        ServerProcess &server = m_fx.Server();
        server.Stop();
        QCOMPARE(server.Process().exitCode(), 0);
        QCOMPARE(RawLine(server.Output()), QString());
        started.dismiss();
        QVERIFY2(start(), qPrintable(output));
        QVERIFY2(m_fx.Restart(&output), qPrintable(output));
        QCOMPARE(Burst(m_fx.Port(), load), AllOk(load.size()));
        QCOMPARE(RawLine(m_fx.ServerOutput()), QString());
    }

    // In session mode each connection keeps its backend: calls from several clients never
    // fail, and the gate hears a window changed by SQL from outside.
    void servesThroughASessionPooler() {
        QString output;
        QVERIFY2(Bouncer(u"session"_s, &output), qPrintable(output));
        QVERIFY2(m_fx.StartSecond(&output, {u"--db"_s, ThroughBouncer()}), qPrintable(output));
        const auto load = Load();
        for (int round = 0; round < 4; ++round)
            QCOMPARE(Burst(m_fx.SecondPort(), load), AllOk(load.size()));
        const auto reason = [this] {
            const TResultEnvelope r =
                m_fx.SecondClient(u"Ger09400.Periodo"_s)
                    .Call(u"Consulta"_s, {QJsonValue(QJsonArray{u"01;FIS;2026-12-10"_s})});
            return r.PayloadValue().toArray().at(0).toArray().at(1).toString();
        };
        for (const auto &[window, expected] :
             {std::pair{"'2026-12-01', '2026-12-31'", "ok"},
              std::pair{"'2026-12-01', '2026-12-05'", "fora_da_janela"},
              std::pair{"NULL, NULL", "sem_janela"}}) {
            QVERIFY2(m_fx.Exec(u"UPDATE CONTOPECTBL SET (DTINIINTCONTFIS, DTFININTCONTFIS) = "
                               "(%1) WHERE CDEMPRESA = '01'"_s.arg(QLatin1StringView(window)),
                               &output),
                     qPrintable(output));
            QTRY_COMPARE_WITH_TIMEOUT(reason(), QString::fromLatin1(expected), 10000);
        }
        QVERIFY(!m_fx.SecondOutput().contains("sem aviso de mudanças"));
    }

    // Pooling per transaction or per statement loses what a session holds: the server says so
    // in one line and does not start.
    void refusesAPoolerThatSharesSessions_data() {
        QTest::addColumn<QString>("mode");
        QTest::newRow("transaction") << u"transaction"_s;
        QTest::newRow("statement") << u"statement"_s;
    }
    void refusesAPoolerThatSharesSessions() {
        QFETCH(QString, mode);
        QString output;
        QVERIFY2(Bouncer(mode, &output), qPrintable(output));
        QVERIFY(!m_fx.StartSecond(&output, {u"--db"_s, ThroughBouncer()}));
        QVERIFY2(output.contains(u": o PostgreSQL está atrás de um pooler que "
                                 "troca a sessão entre transações (modo transaction ou "
                                 "statement); ger-server precisa de uma sessão sua por conexão: "
                                 "use pool_mode = session\n"_s),
                 qPrintable(output));
    }

    // Behind a pooler that hands the listening session's backend to others, the word the
    // watch announces from another session never comes back: it never claims to hear.
    void watchDoesNotHearThroughATransactionPooler() {
        QString output;
        QVERIFY2(Bouncer(u"transaction"_s, &output), qPrintable(output));
        std::unique_ptr<Database> database = Database::Open(ThroughBouncer(), &output);
        QVERIFY2(database, qPrintable(output));
        {
            ChangeWatch watch(*database);
            for (int i = 0; i < 120; ++i) {
                QVERIFY(!watch.Hearing());
                QTest::qWait(100);
            }
        }
        // The same watch straight on the database does hear.
        std::unique_ptr<Database> direct = Database::Open(m_fx.Url(), &output);
        QVERIFY2(direct, qPrintable(output));
        ChangeWatch watch(*direct);
        QTRY_VERIFY_WITH_TIMEOUT(watch.Hearing(), 10000);
    }
};

QTEST_GUILESS_MAIN(TstDbOutage)
#include "tst_dboutage.moc"
