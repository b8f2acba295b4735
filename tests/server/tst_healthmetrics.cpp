// What a load balancer and a monitoring system see of the real ger-server: GET /health on the
// clients' port, GET /metrics on its own address checked by promtool, the counters moving with
// the calls, and the health answer following a PostgreSQL cluster that stops and starts again.

#include "jsonrpcmessage.h"
#include "serverprocess.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkRequest>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSslSocket>
#include <QTcpSocket>
#include <QTest>
#include <QWebSocket>

#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

struct HttpReply {
    QByteArray StatusLine;
    int Status = 0;
    QMap<QByteArray, QByteArray> Headers; // names in lower case
    QByteArray Body;
    bool Closed = false; // the server ended the connection after the answer
};

// One request on a fresh connection (`tls`: over TLS, any certificate taken), read until the
// server closes it (15 s at most).
HttpReply Exchange(quint16 port, const QByteArray &request, bool tls = false) {
    HttpReply reply;
    QSslSocket socket;
    if (tls) {
        socket.setPeerVerifyMode(QSslSocket::VerifyNone);
        socket.connectToHostEncrypted(u"127.0.0.1"_s, port);
        if (!socket.waitForEncrypted(10000))
            return reply;
    } else {
        socket.connectToHost(QHostAddress::LocalHost, port);
        if (!socket.waitForConnected(5000))
            return reply;
    }
    socket.write(request);
    QByteArray all;
    QElapsedTimer clock;
    clock.start();
    while (socket.state() == QAbstractSocket::ConnectedState && clock.elapsed() < 15000) {
        socket.waitForReadyRead(100);
        all += socket.readAll();
    }
    all += socket.readAll();
    reply.Closed = socket.state() != QAbstractSocket::ConnectedState;
    const qsizetype end = all.indexOf("\r\n\r\n");
    if (end < 0)
        return reply;
    const QList<QByteArray> lines = all.first(end).split('\n');
    reply.StatusLine = lines.first().trimmed();
    reply.Status = reply.StatusLine.split(' ').value(1).toInt();
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qsizetype colon = lines[i].indexOf(':');
        if (colon > 0)
            reply.Headers.insert(lines[i].first(colon).trimmed().toLower(),
                                 lines[i].sliced(colon + 1).trimmed());
    }
    reply.Body = all.sliced(end + 4);
    return reply;
}

QJsonObject Health(quint16 port) {
    return QJsonDocument::fromJson(Exchange(port, "GET /health HTTP/1.1\r\nHost: ger\r\n\r\n").Body)
        .object();
}

// The value of one series (name and labels exactly as written), 0 when it is not there.
double Value(const QByteArray &metrics, const QByteArray &series) {
    for (const QByteArray &line : metrics.split('\n'))
        if (line.startsWith(series + ' '))
            return line.sliced(series.size() + 1).toDouble();
    return 0;
}

QByteArray Scrape(quint16 port) {
    return Exchange(port, "GET /metrics HTTP/1.1\r\nHost: ger\r\n\r\n").Body;
}

// The port the server announced for its metrics.
quint16 MetricsPort(ServerProcess &server) {
    static const QRegularExpression announced(
        u"métricas em http://127\\.0\\.0\\.1:(\\d+)/metrics"_s);
    QRegularExpressionMatch match;
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 10000) {
        match = announced.match(QString::fromUtf8(server.Output()));
        if (match.hasMatch())
            return quint16(match.captured(1).toUInt());
        QTest::qWait(50);
    }
    return 0;
}

// One text message over a fresh WebSocket, and its answer; empty when none came.
QJsonObject Call(quint16 port, const QByteArray &text, const QByteArray &authorization = {},
                 const QString &origin = {}) {
    QWebSocket socket(origin);
    QNetworkRequest request(QUrl(u"ws://127.0.0.1:%1"_s.arg(port)));
    if (!authorization.isEmpty())
        request.setRawHeader("Authorization", authorization);
    QSignalSpy answers(&socket, &QWebSocket::textMessageReceived);
    QSignalSpy gone(&socket, &QWebSocket::disconnected);
    socket.open(request);
    QElapsedTimer clock;
    clock.start();
    while (socket.state() != QAbstractSocket::ConnectedState && gone.isEmpty() &&
           clock.elapsed() < 10000)
        QTest::qWait(10);
    if (socket.state() != QAbstractSocket::ConnectedState)
        return {};
    socket.sendTextMessage(QString::fromUtf8(text));
    if (!answers.wait(10000))
        return {};
    socket.close();
    return QJsonDocument::fromJson(answers.first().first().toString().toUtf8()).object();
}

QByteArray Request(const QString &method, const QJsonArray &params = {}) {
    return JsonRpc::EncodeRequest(1, method, params);
}

} // namespace

class TstHealthMetrics final : public QObject {
    Q_OBJECT

    ServerProcess m_server; // SQLite, metrics on
    quint16 m_metrics = 0;
    const QString m_source = qEnvironmentVariable("GER_SOURCE_DIR");

private Q_SLOTS:
    void initTestCase() {
        QVERIFY2(m_server.Start({u"--metrics-listen"_s, u"127.0.0.1:0"_s}),
                 m_server.Output().constData());
        m_metrics = MetricsPort(m_server);
        QVERIFY2(m_metrics != 0, m_server.Output().constData());
    }

    // Whatever plain HTTP arrives on the clients' port gets a whole answer, and the connection
    // ends; only GET (or HEAD) /health asks the database.
    void plainRequests_data() {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<int>("status");
        QTest::addColumn<bool>("withBody");
        QTest::addColumn<QByteArray>("allow");
        QTest::newRow("health") << QByteArray("GET /health HTTP/1.1\r\nHost: a\r\n\r\n") << 200
                                << true << QByteArray();
        QTest::newRow("health, HTTP/1.0 without headers")
            << QByteArray("GET /health HTTP/1.0\r\n\r\n") << 200 << true << QByteArray();
        QTest::newRow("health with a query")
            << QByteArray("GET /health?full=1 HTTP/1.1\r\n\r\n") << 200 << true << QByteArray();
        QTest::newRow("health, HEAD")
            << QByteArray("HEAD /health HTTP/1.1\r\n\r\n") << 200 << false << QByteArray();
        QTest::newRow("health, POST") << QByteArray("POST /health HTTP/1.1\r\n\r\n") << 405 << true
                                      << QByteArray("GET, HEAD");
        QTest::newRow("root without upgrade")
            << QByteArray("GET / HTTP/1.1\r\nHost: a\r\n\r\n") << 400 << true << QByteArray();
        QTest::newRow("upgrade to something else")
            << QByteArray("GET / HTTP/1.1\r\nUpgrade: h2c\r\n\r\n") << 400 << true << QByteArray();
        QTest::newRow("metrics on the clients' port")
            << QByteArray("GET /metrics HTTP/1.1\r\n\r\n") << 404 << true << QByteArray();
        QTest::newRow("health's neighbour")
            << QByteArray("GET /healthz HTTP/1.1\r\n\r\n") << 404 << true << QByteArray();
        QTest::newRow("not HTTP") << QByteArray("HELLO\r\n\r\n") << 400 << true << QByteArray();
        QTest::newRow("HTTP/2 line")
            << QByteArray("GET /health HTTP/2.0\r\n\r\n") << 400 << true << QByteArray();
        QTest::newRow("target not a path")
            << QByteArray("GET health HTTP/1.1\r\n\r\n") << 400 << true << QByteArray();
        QTest::newRow("control character in the method")
            << QByteArray("G\x1b[2JT /health HTTP/1.1\r\n\r\n") << 400 << true << QByteArray();
    }
    void plainRequests() {
        QFETCH(QByteArray, request);
        QFETCH(int, status);
        QFETCH(bool, withBody);
        QFETCH(QByteArray, allow);
        const HttpReply reply = Exchange(m_server.Port(), request);
        QCOMPARE(reply.Status, status);
        QVERIFY(reply.StatusLine.startsWith("HTTP/1.1 " + QByteArray::number(status) + ' '));
        QVERIFY(reply.Closed);
        QCOMPARE(reply.Headers.value("connection"), QByteArray("close"));
        QCOMPARE(reply.Headers.value("cache-control"), QByteArray("no-store"));
        QCOMPARE(reply.Headers.value("allow"), allow);
        const int length = reply.Headers.value("content-length").toInt();
        QVERIFY(length > 0);
        QCOMPARE(reply.Body.size(), withBody ? length : 0);
        QCOMPARE(reply.Headers.value("content-type"),
                 status == 200 ? QByteArray("application/json")
                               : QByteArray("text/plain; charset=utf-8"));
        // The server goes on serving WebSocket clients.
        QCOMPARE(Call(m_server.Port(), Request(u"ping"_s)).value(u"result"_s)[u"ok"_s], true);
    }

    // On a wss:// server the same answers come over TLS; plain HTTP there is a failed TLS
    // handshake, counted as such.
    void overTls_data() {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<bool>("tls");
        QTest::addColumn<int>("status");
        QTest::newRow("health") << QByteArray("GET /health HTTP/1.1\r\n\r\n") << true << 200;
        QTest::newRow("root") << QByteArray("GET / HTTP/1.1\r\n\r\n") << true << 400;
        QTest::newRow("plain HTTP to TLS")
            << QByteArray("GET /health HTTP/1.1\r\n\r\n") << false << 0;
    }
    void overTls() {
        QFETCH(QByteArray, request);
        QFETCH(bool, tls);
        QFETCH(int, status);
        static ServerProcess server;
        static quint16 metrics = 0;
        if (!server.Running()) {
            QVERIFY(MakeThrowawayCertificate(server.Dir()));
            QVERIFY2(server.Start({u"--tls-cert"_s, server.Dir() + u"/cert.pem"_s, u"--tls-key"_s,
                                   server.Dir() + u"/key.pem"_s, u"--metrics-listen"_s,
                                   u"127.0.0.1:0"_s}),
                     server.Output().constData());
            metrics = MetricsPort(server);
            QVERIFY(metrics != 0);
        }
        const QByteArray refused = "ger_connections_refused_total{reason=\"tls\"}";
        const double before = Value(Scrape(metrics), refused);
        const HttpReply reply = Exchange(server.Port(), request, tls);
        QCOMPARE(reply.Status, status);
        if (status == 200)
            QCOMPARE(QJsonDocument::fromJson(reply.Body)[u"status"_s].toString(), u"ok"_s);
        QTRY_COMPARE_WITH_TIMEOUT(Value(Scrape(metrics), refused) - before, tls ? 0.0 : 1.0, 5000);
    }

    void healthNamesEveryField() {
        QProcess version;
        version.start(ServerProcess::Executable(), {u"--version"_s});
        QVERIFY(version.waitForFinished(10000));
        const QString expected =
            QString::fromUtf8(version.readAllStandardOutput()).trimmed().section(u' ', 1);
        QVERIFY(!expected.isEmpty());
        const HttpReply reply = Exchange(m_server.Port(), "GET /health HTTP/1.1\r\n\r\n");
        QCOMPARE(reply.Status, 200);
        QVERIFY(reply.Body.endsWith('\n'));
        const QJsonObject body = QJsonDocument::fromJson(reply.Body).object();
        QCOMPARE(QStringList(body.keys()),
                 QStringList({u"database"_s, u"gateHearing"_s, u"schemaVersion"_s, u"status"_s,
                              u"version"_s}));
        QCOMPARE(body[u"status"_s].toString(), u"ok"_s);
        QCOMPARE(body[u"version"_s].toString(), expected);
        QCOMPARE(body[u"database"_s].toString(), u"sqlite"_s);
        QCOMPARE(body[u"gateHearing"_s], QJsonValue(false)); // nothing to hear on SQLite
        const int schema = body[u"schemaVersion"_s].toInt();
        QVERIFY(schema > 0);
        QString output;
        QVERIFY(RunCommand(u"sqlite3"_s,
                           {m_server.DbPath(), u"SELECT MAX(VERSION) FROM SCHEMA_VERSION"_s},
                           &output));
        QCOMPARE(output.trimmed().toInt(), schema);
    }

    // A schema newer than the server knows (another server upgraded the database) takes it out
    // of service; back to the version it knows, it is in again.
    void healthRefusesANewerSchema() {
        ServerProcess server;
        QVERIFY2(server.Start(), server.Output().constData());
        const int known = Health(server.Port())[u"schemaVersion"_s].toInt();
        QVERIFY(known > 0);
        QVERIFY(server.ExecSql({u"INSERT INTO SCHEMA_VERSION (VERSION, APPLIED) VALUES (%1, "
                                "'2030-01-01')"_s.arg(known + 1)}));
        QTRY_COMPARE_WITH_TIMEOUT(Health(server.Port())[u"reason"_s].toString(), u"schema_newer"_s,
                                  10000);
        const HttpReply reply = Exchange(server.Port(), "GET /health HTTP/1.1\r\n\r\n");
        QCOMPARE(reply.Status, 503);
        const QJsonObject body = QJsonDocument::fromJson(reply.Body).object();
        QCOMPARE(body[u"status"_s].toString(), u"unavailable"_s);
        QCOMPARE(body[u"schemaVersion"_s].toInt(), known + 1);
        QVERIFY(
            server.ExecSql({u"DELETE FROM SCHEMA_VERSION WHERE VERSION = %1"_s.arg(known + 1)}));
        QTRY_COMPARE_WITH_TIMEOUT(Health(server.Port())[u"status"_s].toString(), u"ok"_s, 10000);
    }

    // A request head is read up to 16 KiB, like a handshake: one byte more is refused.
    void headBound_data() {
        QTest::addColumn<int>("total");
        QTest::addColumn<int>("status");
        QTest::newRow("small") << 100 << 200;
        QTest::newRow("exactly the bound") << 16 * 1024 << 200;
        QTest::newRow("one byte over") << 16 * 1024 + 1 << 431;
        QTest::newRow("far over") << 200 * 1024 << 431;
    }
    void headBound() {
        QFETCH(int, total);
        QFETCH(int, status);
        const QByteArray start = "GET /health HTTP/1.1\r\nX-Filler: ";
        const QByteArray end = "\r\n\r\n";
        const QByteArray request = start + QByteArray(total - start.size() - end.size(), 'a') + end;
        QCOMPARE(request.size(), total);
        QCOMPARE(Exchange(m_server.Port(), request).Status, status);
    }

    // A head that never ends is let go like a handshake that never ends, without an answer.
    void unfinishedHeadIsLetGo() {
        const QByteArray series = "ger_connections_refused_total{reason=\"handshake_timeout\"}";
        const double before = Value(Scrape(m_metrics), series);
        const HttpReply reply = Exchange(m_server.Port(), "GET /health HTTP/1.1\r\nHost: a\r\n");
        QVERIFY(reply.Closed);
        QCOMPARE(reply.Status, 0);
        QCOMPARE(Value(Scrape(m_metrics), series) - before, 1.0);
    }

    // A message over the limit closes its connection, and says so in the metrics.
    void oversizedMessageCounted() {
        const QByteArray series = "ger_connections_closed_total{reason=\"message_too_large\"}";
        const double before = Value(Scrape(m_metrics), series);
        QWebSocket socket;
        QSignalSpy gone(&socket, &QWebSocket::disconnected);
        socket.open(QUrl(u"ws://127.0.0.1:%1"_s.arg(m_server.Port())));
        QTRY_COMPARE_WITH_TIMEOUT(socket.state(), QAbstractSocket::ConnectedState, 10000);
        socket.sendTextMessage(QString(16 * 1024 * 1024 + 1, u'a'));
        QTRY_VERIFY_WITH_TIMEOUT(!gone.isEmpty(), 30000);
        QTRY_COMPARE_WITH_TIMEOUT(Value(Scrape(m_metrics), series) - before, 1.0, 5000);
    }

    // The metrics' own address answers /metrics and nothing else.
    void metricsAddress_data() {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<int>("status");
        QTest::addColumn<bool>("withBody");
        QTest::newRow("metrics") << QByteArray("GET /metrics HTTP/1.1\r\n\r\n") << 200 << true;
        QTest::newRow("metrics with a query")
            << QByteArray("GET /metrics?x=1 HTTP/1.0\r\n\r\n") << 200 << true;
        QTest::newRow("HEAD") << QByteArray("HEAD /metrics HTTP/1.1\r\n\r\n") << 200 << false;
        QTest::newRow("POST") << QByteArray("POST /metrics HTTP/1.1\r\n\r\n") << 405 << true;
        QTest::newRow("health is not here")
            << QByteArray("GET /health HTTP/1.1\r\n\r\n") << 404 << true;
        QTest::newRow("not HTTP") << QByteArray("\x16\x03\x01\x02\x05\r\n\r\n") << 400 << true;
        QTest::newRow("head over the bound")
            << QByteArray("GET /metrics HTTP/1.1\r\nX: " + QByteArray(17 * 1024, 'b') + "\r\n\r\n")
            << 431 << true;
    }
    void metricsAddress() {
        QFETCH(QByteArray, request);
        QFETCH(int, status);
        QFETCH(bool, withBody);
        const HttpReply reply = Exchange(m_metrics, request);
        QCOMPARE(reply.Status, status);
        QVERIFY(reply.Closed);
        const int length = reply.Headers.value("content-length").toInt();
        QVERIFY(length > 0);
        QCOMPARE(reply.Body.size(), withBody ? length : 0);
        if (status == 200)
            QCOMPARE(reply.Headers.value("content-type"),
                     QByteArray("text/plain; version=0.0.4; charset=utf-8"));
        if (status == 405)
            QCOMPARE(reply.Headers.value("allow"), QByteArray("GET, HEAD"));
    }

    // Each call moves its own series by one, under a label the server chose: a method outside
    // the registered ones, whatever its name, is "outro".
    void callsCounted_data() {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("method");
        QTest::addColumn<QByteArray>("outcome");
        const QByteArray param = "Ger09400.rdmParamCtbl.";
        QTest::newRow("ok") << Request(u"Ger09400.rdmParamCtbl.GetContOpe"_s)
                            << param + "GetContOpe" << QByteArray("ok");
        QTest::newRow("ping") << Request(u"ping"_s) << QByteArray("ping") << QByteArray("ok");
        QJsonArray checks;
        checks.append(QJsonArray{u"01"_s, u"FIN"_s, u"2026-12-15"_s});
        QJsonArray gateParams;
        gateParams.append(checks);
        QTest::newRow("gate") << Request(u"Ger09400.Periodo.Consulta"_s, gateParams)
                              << QByteArray("Ger09400.Periodo.Consulta") << QByteArray("ok");
        QTest::newRow("envelope error")
            << Request(u"Ger09400.rdmParamCtbl.GetDataSaldEmpr"_s, {u"0123456789"_s})
            << param + "GetDataSaldEmpr" << QByteArray("invalid_argument");
        QTest::newRow("wrong arguments") << Request(u"Ger09400.rdmParamCtbl.GetDataSaldEmpr"_s)
                                         << param + "GetDataSaldEmpr" << QByteArray("-32602");
        QTest::newRow("unknown method") << Request(u"Ger09400.rdmParamCtbl.Nada"_s)
                                        << QByteArray("outro") << QByteArray("-32601");
        QTest::newRow("name made to forge a series")
            << Request(u"x\",outcome=\"ok\"} 999\nger_calls_total{method=\"y"_s)
            << QByteArray("outro") << QByteArray("-32601");
        QTest::newRow("not JSON") << QByteArray("{\"jsonrpc\": ") << QByteArray("outro")
                                  << QByteArray("-32700");
    }
    void callsCounted() {
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, method);
        QFETCH(QByteArray, outcome);
        const QByteArray series =
            "ger_calls_total{method=\"" + method + "\",outcome=\"" + outcome + "\"}";
        const QByteArray count = "ger_call_duration_seconds_count{method=\"" + method + "\"}";
        const QByteArray before = Scrape(m_metrics);
        const QJsonObject answer = Call(m_server.Port(), request);
        QVERIFY(!answer.isEmpty());
        // The log is written a few times a second, the counters at the answer: no wait needed.
        const QByteArray after = Scrape(m_metrics);
        QCOMPARE(Value(after, series) - Value(before, series), 1.0);
        QCOMPARE(Value(after, count) - Value(before, count), 1.0);
        QCOMPARE(Value(after, "ger_connections_accepted_total") -
                     Value(before, "ger_connections_accepted_total"),
                 1.0);
        QVERIFY(Value(after, "ger_received_bytes_total") >
                Value(before, "ger_received_bytes_total") + request.size());
        QVERIFY(Value(after, "ger_sent_bytes_total") > Value(before, "ger_sent_bytes_total"));
        // No series of any method or outcome but the server's own.
        for (const QByteArray &line : after.split('\n')) {
            if (!line.startsWith("ger_calls_total{"))
                continue;
            QVERIFY2(!line.contains("Nada") && !line.contains("method=\"x") &&
                         !line.contains("method=\"y"),
                     line.constData());
        }
        QVERIFY(!after.contains("999\nger_calls_total{method=\"y"));
    }

    void metricsPassPromtool() {
        Call(m_server.Port(), Request(u"Ger09400.rdmParamCtbl.GetContOpe"_s));
        Exchange(m_server.Port(), "GET /health HTTP/1.1\r\n\r\n");
        const QByteArray text = Scrape(m_metrics);
        QVERIFY(text.contains("ger_call_duration_seconds_bucket{"));
        QProcess promtool;
        promtool.setProcessChannelMode(QProcess::MergedChannels);
        promtool.start(u"promtool"_s, {u"check"_s, u"metrics"_s});
        QVERIFY2(promtool.waitForStarted(),
                 "promtool is missing: scripts/install-deps installs it (package prometheus)");
        promtool.write(text);
        promtool.closeWriteChannel();
        QVERIFY(promtool.waitForFinished(30000));
        const QByteArray said = promtool.readAll();
        QVERIFY2(promtool.exitCode() == 0 && said.trimmed().isEmpty(), said.constData());
        // Every family promised to operators is there.
        for (const char *family :
             {"ger_build_info", "ger_calls_total", "ger_call_duration_seconds",
              "ger_connections_open", "ger_connections_accepted_total",
              "ger_connections_refused_total", "ger_connections_closed_total",
              "ger_unread_resets_total", "ger_received_bytes_total", "ger_sent_bytes_total",
              "ger_health_answers_total", "ger_http_other_requests_total",
              "ger_worker_queue_length", "ger_database_errors_total", "ger_gate_kept_hits_total",
              "ger_gate_kept_reloads_total", "ger_gate_direct_reads_total", "ger_gate_hearing"})
            QVERIFY2(text.contains("# TYPE " + QByteArray(family) + ' '), family);
    }

    // Refused handshakes are counted by reason; an accepted one is not.
    void refusalsCounted_data() {
        QTest::addColumn<QByteArray>("authorization");
        QTest::addColumn<QString>("origin");
        QTest::addColumn<QByteArray>("series");
        const QByteArray right = "Bearer 0f3a9c41d2e8b6a05c19s3cr3t-t0ken-77";
        QTest::newRow("wrong token")
            << QByteArray("Bearer nope") << QString()
            << QByteArray("ger_connections_refused_total{reason=\"token\"}");
        QTest::newRow("no token") << QByteArray() << QString()
                                  << QByteArray("ger_connections_refused_total{reason=\"token\"}");
        QTest::newRow("other page")
            << right << u"https://evil.example"_s
            << QByteArray("ger_connections_refused_total{reason=\"origin\"}");
        QTest::newRow("accepted") << right << u"https://intranet.example"_s
                                  << QByteArray("ger_connections_accepted_total");
    }
    void refusalsCounted() {
        QFETCH(QByteArray, authorization);
        QFETCH(QString, origin);
        QFETCH(QByteArray, series);
        static ServerProcess server;
        static quint16 metrics = 0;
        if (!server.Running()) {
            QFile file(server.Dir() + u"/token"_s);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("0f3a9c41d2e8b6a05c19s3cr3t-t0ken-77\n");
            file.close();
            QVERIFY(file.setPermissions(QFile::ReadOwner | QFile::WriteOwner));
            QVERIFY2(server.Start({u"--token-file"_s, file.fileName(), u"--allow-origin"_s,
                                   u"https://intranet.example"_s, u"--metrics-listen"_s,
                                   u"127.0.0.1:0"_s}),
                     server.Output().constData());
            metrics = MetricsPort(server);
            QVERIFY(metrics != 0);
        }
        const QByteArray before = Scrape(metrics);
        const bool served =
            !Call(server.Port(), Request(u"ping"_s), authorization, origin).isEmpty();
        QCOMPARE(served, series == "ger_connections_accepted_total");
        QTRY_COMPARE_WITH_TIMEOUT(Value(Scrape(metrics), series) - Value(before, series), 1.0,
                                  5000);
        // The health answer needs no token.
        QCOMPARE(Exchange(server.Port(), "GET /health HTTP/1.1\r\n\r\n").Status, 200);
    }

    void optionsChecked_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QByteArray>("said");
        QTest::newRow("metrics address not numeric")
            << QStringList{u"--metrics-listen"_s, u"metrics.example:9401"_s}
            << QByteArray("--metrics-listen espera HOST:PORTA");
        QTest::newRow("metrics port out of range")
            << QStringList{u"--metrics-listen"_s, u"127.0.0.1:65536"_s}
            << QByteArray("--metrics-listen espera HOST:PORTA");
        QTest::newRow("metrics without a port")
            << QStringList{u"--metrics-listen"_s, u"127.0.0.1"_s}
            << QByteArray("--metrics-listen espera HOST:PORTA");
        QTest::newRow("drain below zero") << QStringList{u"--drain-time"_s, u"-1"_s}
                                          << QByteArray("--drain-time espera segundos de 0 a 600");
        QTest::newRow("drain above the most")
            << QStringList{u"--drain-time"_s, u"601"_s}
            << QByteArray("--drain-time espera segundos de 0 a 600");
    }
    void optionsChecked() {
        QFETCH(QStringList, args);
        QFETCH(QByteArray, said);
        QProcess server;
        server.start(ServerProcess::Executable(), args);
        QVERIFY(server.waitForFinished(20000));
        QCOMPARE(server.exitCode(), 2);
        QVERIFY2(server.readAllStandardError().contains(said), said.constData());
    }

    void metricsFromTheConfigurationFile() {
        ServerProcess server;
        const QString config = server.Dir() + u"/ger-server.conf"_s;
        QFile file(config);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("metrics-listen = 127.0.0.1:0\ndrain-time = 0\n");
        file.close();
        QVERIFY2(server.Start({u"--config"_s, config}), server.Output().constData());
        const quint16 port = MetricsPort(server);
        QVERIFY(port != 0);
        QVERIFY(Scrape(port).contains("# TYPE ger_calls_total counter"));
    }

    // Asked by a balancer, a stopping server answers 503 while it still serves calls, then
    // stops on its own.
    void stopDrainsFirst() {
        ServerProcess server;
        QVERIFY2(server.Start({u"--drain-time"_s, u"3"_s}), server.Output().constData());
        QCOMPARE(Exchange(server.Port(), "GET /health HTTP/1.1\r\n\r\n").Status, 200);
        server.Process().terminate();
        QTRY_COMPARE_WITH_TIMEOUT(Health(server.Port())[u"reason"_s].toString(), u"stopping"_s,
                                  5000);
        const HttpReply reply = Exchange(server.Port(), "GET /health HTTP/1.1\r\n\r\n");
        QCOMPARE(reply.Status, 503);
        QCOMPARE(QJsonDocument::fromJson(reply.Body)[u"status"_s].toString(), u"unavailable"_s);
        QCOMPARE(Call(server.Port(), Request(u"Ger09400.rdmParamCtbl.GetContOpe"_s))
                     .value(u"result"_s)[u"ok"_s],
                 true);
        QVERIFY(server.Process().waitForFinished(20000));
        QCOMPARE(server.Process().exitStatus(), QProcess::NormalExit);
        QCOMPARE(server.Process().exitCode(), 0);
    }

    // PostgreSQL stopped under the server: 503 and the database's errors counted; started
    // again: 200, without a restart of the server.
    void healthFollowsPostgres() {
        const QString dir = qEnvironmentVariable("GER_HEALTH_PG_DIR");
        const QString port = qEnvironmentVariable("GER_HEALTH_PG_PORT");
        QVERIFY2(!dir.isEmpty() && !port.isEmpty(), "no cluster of the suite's own");
        QString output;
        QVERIFY2(
            RunCommand(m_source + u"/scripts/pg-throwaway"_s, {u"start"_s, dir, port}, &output),
            qPrintable(output));
        const auto removeCluster = qScopeGuard([&] {
            QString ignored;
            RunCommand(m_source + u"/scripts/pg-throwaway"_s, {u"stop"_s, dir, port}, &ignored);
        });
        ServerProcess server;
        QVERIFY2(
            server.Start({u"--db"_s, u"postgresql://postgres@127.0.0.1:%1/postgres"_s.arg(port),
                          u"--metrics-listen"_s, u"127.0.0.1:0"_s}),
            server.Output().constData());
        const quint16 metrics = MetricsPort(server);
        QVERIFY(metrics != 0);
        QTRY_COMPARE_WITH_TIMEOUT(Health(server.Port())[u"gateHearing"_s], QJsonValue(true), 10000);
        QJsonObject body = Health(server.Port());
        QCOMPARE(body[u"status"_s].toString(), u"ok"_s);
        QCOMPARE(body[u"database"_s].toString(), u"postgresql"_s);
        QCOMPARE(Value(Scrape(metrics), "ger_gate_hearing"), 1.0);

        QVERIFY2(RunCommand(m_source + u"/scripts/pg-throwaway"_s, {u"halt"_s, dir}, &output),
                 qPrintable(output));
        QTRY_COMPARE_WITH_TIMEOUT(Exchange(server.Port(), "GET /health HTTP/1.1\r\n\r\n").Status,
                                  503, 15000);
        body = Health(server.Port());
        QCOMPARE(body[u"reason"_s].toString(), u"database"_s);
        QCOMPARE(body[u"database"_s].toString(), u"postgresql"_s);
        QVERIFY(!body.contains(u"schemaVersion"_s));
        const QJsonObject failed =
            Call(server.Port(), Request(u"Ger09400.rdmParamCtbl.GetContOpe"_s));
        QCOMPARE(failed[u"result"_s][u"error"_s][u"code"_s].toString(), u"database"_s);
        const QByteArray down = Scrape(metrics);
        QVERIFY(Value(down, "ger_database_errors_total{kind=\"unreachable\"}") > 0);
        QCOMPARE(Value(down, "ger_calls_total{method=\"Ger09400.rdmParamCtbl.GetContOpe\","
                             "outcome=\"database\"}"),
                 1.0);
        QTRY_COMPARE_WITH_TIMEOUT(Value(Scrape(metrics), "ger_gate_hearing"), 0.0, 10000);

        const QStringList pgCtl{
            u"/usr/lib/postgresql/15/bin/pg_ctl"_s,
            u"-D"_s,
            dir + u"/data"_s,
            u"-w"_s,
            u"start"_s,
            u"-l"_s,
            dir + u"/server.log"_s,
            u"-o"_s,
            u"-p %1 -k %2 -c listen_addresses=127.0.0.1 -c fsync=off -c max_connections=200"_s.arg(
                port, dir)};
        if (getuid() == 0)
            QVERIFY2(RunCommand(u"runuser"_s, QStringList{u"-u"_s, u"postgres"_s, u"--"_s} + pgCtl,
                                &output),
                     qPrintable(output));
        else
            QVERIFY2(RunCommand(pgCtl.first(), pgCtl.mid(1), &output), qPrintable(output));
        QTRY_COMPARE_WITH_TIMEOUT(Exchange(server.Port(), "GET /health HTTP/1.1\r\n\r\n").Status,
                                  200, 15000);
        QTRY_COMPARE_WITH_TIMEOUT(Health(server.Port())[u"gateHearing"_s], QJsonValue(true), 15000);
    }
};

QTEST_GUILESS_MAIN(TstHealthMetrics)
#include "tst_healthmetrics.moc"
