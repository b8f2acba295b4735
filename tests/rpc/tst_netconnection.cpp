// TNetConnection against peers that misbehave on purpose (made here) and against the real
// ger-server.

#include "exceptions.h"
#include "jsonnode.h"
#include "jsonrpcmessage.h"
#include "netconnection.h"
#include "serverprocess.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpServer>
#include <QTest>
#include <QWebSocket>
#include <QWebSocketServer>

#include <atomic>
#include <thread>

using namespace Qt::StringLiterals;

namespace {

enum class Peer {
    Refusing,
    SilentTcp,
    SilentWebSocket,
    AbortsOnCall,
    Garbage,
    PolicyClose,
    StrayThenAnswer,
    Oversized,
    TooDeep,
    ClosesTooMuchData
};

// A server that behaves as told: the failures a client meets in the field.
class FakePeer final : public QObject {
public:
    explicit FakePeer(Peer peer)
        : m_peer(peer) {
        if (peer == Peer::Refusing) {
            QTcpServer probe;
            probe.listen(QHostAddress::LocalHost, 0);
            m_port = probe.serverPort(); // closed again when probe goes: nobody listens there
        } else if (peer == Peer::SilentTcp) {
            m_tcp.listen(QHostAddress::LocalHost, 0);
            m_port = m_tcp.serverPort();
        } else {
            m_ws.listen(QHostAddress::LocalHost, 0);
            m_port = m_ws.serverPort();
            connect(&m_ws, &QWebSocketServer::newConnection, this, [this] {
                QWebSocket *s = m_ws.nextPendingConnection();
                s->setParent(this); // released with the peer
                ++connections;
                if (m_peer == Peer::ClosesTooMuchData) {
                    // As the server does with a request above its limit.
                    connect(s, &QWebSocket::textMessageReceived, s, [s](const QString &) {
                        s->close(QWebSocketProtocol::CloseCodeTooMuchData);
                    });
                    return;
                }
                if (m_peer == Peer::PolicyClose) {
                    s->close(QWebSocketProtocol::CloseCodePolicyViolated, u"token inválido"_s);
                    return;
                }
                connect(s, &QWebSocket::textMessageReceived, s, [this, s](const QString &t) {
                    Answer(s, QJsonDocument::fromJson(t.toUtf8()).object());
                });
            });
        }
    }
    quint16 Port() const { return m_port; }
    int connections = 0;

private:
    void Answer(QWebSocket *s, const QJsonObject &request) {
        const QJsonValue id = request.value(u"id"_s);
        const QJsonObject envelope{{u"ok"_s, true}, {u"payload"_s, u"right"_s}};
        switch (m_peer) {
        case Peer::AbortsOnCall:
            s->abort();
            break;
        case Peer::Garbage:
            s->sendTextMessage(u"{\"jsonrpc\":\"2.0\",\"id\":"_s + QString::number(id.toInt()));
            break;
        case Peer::Oversized: // well-formed, one byte over what a reply may hold
        {
            const QString head = u"{\"id\":%1,\"jsonrpc\":\"2.0\",\"result\":{\"ok\":true,"
                                 u"\"payload\":\""_s.arg(id.toInt());
            const QString tail = u"\"}}"_s;
            s->sendTextMessage(
                head + QString(TJsonNode::MaxBytes + 1 - head.size() - tail.size(), u'x') + tail);
            break;
        }
        case Peer::TooDeep:
            s->sendTextMessage(u"{\"id\":%1,\"jsonrpc\":\"2.0\",\"result\":{\"ok\":true,"
                               u"\"payload\":%2%3}}"_s.arg(id.toInt())
                                   .arg(QString(2000, u'['), QString(2000, u']')));
            break;
        case Peer::StrayThenAnswer:
            s->sendTextMessage(QString::fromUtf8(JsonRpc::EncodeResult(
                id.toInt() + 1000, QJsonObject{{u"ok"_s, true}, {u"payload"_s, u"wrong"_s}})));
            s->sendTextMessage(QString::fromUtf8(JsonRpc::EncodeResult(id, envelope)));
            break;
        default:
            break;
        }
    }

    Peer m_peer;
    quint16 m_port = 0;
    QTcpServer m_tcp;
    QWebSocketServer m_ws{u"fake"_s, QWebSocketServer::NonSecureMode};
};

QString Failure(TNetConnection &c, const QString &method = u"GetContOpe"_s) {
    try {
        c.Call(method, {});
    } catch (const Exception &e) {
        return e.Message();
    }
    return {};
}

} // namespace

class TstNetConnection final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void transportFailures_data() {
        QTest::addColumn<int>("peer");
        QTest::addColumn<QString>("message");
        QTest::newRow("refused")
            << int(Peer::Refusing)
            << u"Não foi possível conectar ao servidor de aplicação em 127.0.0.1:%1."_s;
        QTest::newRow("accepts, never shakes hands")
            << int(Peer::SilentTcp) << u"O servidor de aplicação não respondeu em 1 segundo."_s;
        QTest::newRow("never answers a call")
            << int(Peer::SilentWebSocket)
            << u"O servidor de aplicação não respondeu em 1 segundo."_s;
        QTest::newRow("drops mid-call")
            << int(Peer::AbortsOnCall)
            << u"A conexão com o servidor de aplicação foi interrompida."_s;
        QTest::newRow("truncated answer")
            << int(Peer::Garbage)
            << u"Resposta inválida do servidor de aplicação: resposta que não é JSON"_s;
        QTest::newRow("answer above the limit")
            << int(Peer::Oversized)
            << u"Resposta inválida do servidor de aplicação: resposta acima de 16 MiB."_s;
        QTest::newRow("answer nested too deep")
            << int(Peer::TooDeep)
            << u"Resposta inválida do servidor de aplicação: resposta que não é JSON "
               u"(aninhamento excessivo)."_s;
        QTest::newRow("refuses the token")
            << int(Peer::PolicyClose)
            << u"O servidor de aplicação recusou a conexão: token inválido."_s;
    }
    void transportFailures() {
        QFETCH(int, peer);
        QFETCH(QString, message);
        FakePeer fake{Peer(peer)};
        TNetConnection c;
        c.SetPort(fake.Port());
        c.SetServerName(u"Ger09400.rdmParamCtbl"_s);
        c.SetTimeoutMs(1000);
        const QString got = Failure(c);
        QVERIFY2(got.startsWith(message.contains(u"%1"_s) ? message.arg(fake.Port()) : message),
                 qPrintable(got));
        QVERIFY(!c.Connected());
        // The next call tries afresh instead of reusing a dead socket.
        if (Peer(peer) == Peer::SilentWebSocket || Peer(peer) == Peer::AbortsOnCall) {
            QVERIFY(!Failure(c).isEmpty());
            QCOMPARE(fake.connections, 2);
        }
    }

    // A close for too much data names the side that had too much: the request, when it was
    // above the limit, else the reply.
    void tooMuchDataNamesTheSide_data() {
        QTest::addColumn<qsizetype>("argument");
        QTest::addColumn<QString>("message");
        QTest::newRow("request above the limit")
            << qsizetype(TJsonNode::MaxBytes + 1)
            << u"A requisição excedeu o tamanho máximo aceito pelo servidor de aplicação."_s;
        QTest::newRow("small request")
            << qsizetype(10)
            << u"Resposta inválida do servidor de aplicação: resposta acima de 16 MiB."_s;
    }
    void tooMuchDataNamesTheSide() {
        QFETCH(qsizetype, argument);
        QFETCH(QString, message);
        FakePeer fake{Peer::ClosesTooMuchData};
        TNetConnection c;
        c.SetPort(fake.Port());
        c.SetTimeoutMs(10000);
        QString got;
        try {
            c.Call(u"x"_s, {QString(argument, u'a')});
        } catch (const Exception &e) {
            got = e.Message();
        }
        QCOMPARE(got, message);
    }

    // What a reply's bytes make of a refusal: the server's words when it gave some, else words of
    // the client's own, never an empty message.
    void refusalsAlwaysSaySomething_data() {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QString>("message");
        const auto failure = [](const char *code, const char *message) {
            return QByteArray(R"({"jsonrpc":"2.0","id":4,"error":{"code":)") + code +
                   R"(,"message":)" + message + "}}";
        };
        QTest::newRow("with words")
            << failure("-32601", R"("Método desconhecido")") << u"Método desconhecido"_s;
        QTest::newRow("empty") << failure("-32601", R"("")")
                               << u"O servidor de aplicação recusou a chamada sem dizer o motivo "
                                  u"(código -32601)."_s;
        QTest::newRow("blanks only") << failure("-32001", R"(" \t ")")
                                     << u"O servidor de aplicação recusou a chamada sem dizer o "
                                        u"motivo (código -32001)."_s;
        QTest::newRow("message not text")
            << failure("-32601", "1")
            << u"Resposta inválida do servidor de aplicação: erro de protocolo malformado na "
               u"resposta."_s;
    }
    void refusalsAlwaysSaySomething() {
        QFETCH(QByteArray, reply);
        QFETCH(QString, message);
        QString got;
        try {
            TNetConnection::ReplyEnvelope(reply);
        } catch (const Exception &e) {
            got = e.Message();
        }
        QCOMPARE(got, message);
    }

    void strayAnswersAreIgnored() {
        FakePeer fake{Peer::StrayThenAnswer};
        TNetConnection c;
        c.SetPort(fake.Port());
        c.SetTimeoutMs(5000);
        QCOMPARE(c.Call(u"x"_s, {}).Payload, QJsonValue(u"right"_s));
        QCOMPARE(c.Call(u"x"_s, {}).Payload, QJsonValue(u"right"_s));
        QCOMPARE(fake.connections, 1);
    }

    void beforeConnectRunsAtEveryConnect() {
        FakePeer fake{Peer::AbortsOnCall};
        TNetConnection c;
        c.SetPort(1); // wrong on purpose: the handler supplies the real one
        int runs = 0;
        c.OnBeforeConnect = [&](TNetConnection &self) {
            ++runs;
            self.SetHost(u"127.0.0.1"_s);
            self.SetPort(fake.Port());
        };
        c.SetConnected(true);
        QVERIFY(c.Connected());
        QCOMPARE(runs, 1);
        c.SetConnected(true); // already open: no new connect
        QCOMPARE(runs, 1);
        QVERIFY(!Failure(c).isEmpty()); // dropped by the peer
        c.Open();
        QCOMPARE(runs, 2);
        c.Close();
        QVERIFY(!c.Connected());
    }

    void realServerCallAndReconnect() {
        ServerProcess server;
        QVERIFY2(server.Start(), server.Output().constData());
        TNetConnection c;
        c.SetPort(server.Port());
        c.SetServerName(u"Ger09400.rdmParamCtbl"_s);
        c.SetTimeoutMs(10000);

        const TResultEnvelope first = c.Call(u"GetContOpe"_s, {});
        QVERIFY2(first.Ok, qPrintable(first.ErrorMessage));
        QCOMPARE(first.Payload.toArray().size(), 2);
        // The packets read from the reply's parse are the ones its tree holds.
        for (int i = 0; i < 2; ++i) {
            TTablePacket parsed;
            TTablePacket tree;
            QString error;
            QVERIFY2(first.PayloadPacket(parsed, &error, i), qPrintable(error));
            QVERIFY2(Packet::FromJson(first.Payload.toArray().at(i), tree, &error),
                     qPrintable(error));
            QVERIFY(!parsed.Rows.isEmpty());
            QCOMPARE(parsed.Fields, tree.Fields);
            QCOMPARE(parsed.Rows, tree.Rows);
        }
        QVERIFY(c.Ping() > 0);

        // The server dies while the client holds an open connection.
        const quint16 port = server.Port();
        server.Kill();
        const QString whileDown = Failure(c);
        QVERIFY2(whileDown == u"A conexão com o servidor de aplicação foi interrompida."_s ||
                     whileDown.startsWith(u"Não foi possível conectar"_s),
                 qPrintable(whileDown));
        QVERIFY(!c.Connected());

        QVERIFY2(server.Start({}, port, QString()), server.Output().constData());
        QVERIFY(c.Call(u"GetContOpe"_s, {}).Ok);
        QVERIFY(c.Connected());
    }

    // A ws:// address on a server that speaks TLS says which address would work, instead of
    // the bare "could not connect" its handshake ends in.
    void plainAddressOnTlsServer() {
        ServerProcess server;
        if (!MakeThrowawayCertificate(server.Dir()))
            QSKIP("openssl is not available");
        QVERIFY2(server.Start({u"--tls-cert"_s, server.Dir() + u"/cert.pem"_s, u"--tls-key"_s,
                               server.Dir() + u"/key.pem"_s}),
                 server.Output().constData());
        TNetConnection c;
        c.SetPort(server.Port());
        c.SetServerName(u"Ger09400.rdmParamCtbl"_s);
        c.SetTimeoutMs(5000);
        QCOMPARE(Failure(c), u"O servidor de aplicação em 127.0.0.1:%1 fala TLS: use "
                             "wss://127.0.0.1:%1 em vez de ws://."_s.arg(server.Port()));
    }

    void clientsOnThreadsNotStartedByQt() {
        // Benchmarks and tools drive one connection per plain thread.
        ServerProcess server;
        QVERIFY2(server.Start({u"--log-level"_s, u"warn"_s}), server.Output().constData());
        std::atomic<int> served{0};
        std::vector<std::thread> threads;
        for (int t = 0; t < 8; ++t) {
            threads.emplace_back([&] {
                TNetConnection c;
                c.SetPort(server.Port());
                c.SetServerName(u"Ger09400.rdmParamCtbl"_s);
                c.SetTimeoutMs(10000);
                for (int i = 0; i < 20; ++i) {
                    try {
                        if (c.Call(u"GetDataSaldEmpr"_s, {u"01"_s}).Ok)
                            ++served;
                    } catch (const Exception &) {
                    }
                }
            });
        }
        for (std::thread &thread : threads)
            thread.join();
        QCOMPARE(served.load(), 8 * 20);
    }
};

QTEST_GUILESS_MAIN(TstNetConnection)
#include "tst_netconnection.moc"
