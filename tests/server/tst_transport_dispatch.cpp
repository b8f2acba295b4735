// The server's transport in-process, with remote objects made for the test: routing, faults
// raised by objects, answers delivered out of order, clients that leave mid-call.

#include "exceptions.h"
#include "netconnection.h"
#include "remoteobject.h"
#include "requestpeek.h"
#include "workerpool.h"
#include "wslistener.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTest>
#include <QThread>
#include <QWebSocket>

#include <atomic>
#include <stdexcept>
#include <thread>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

// Answers: "echo" (payload = params), "upper" (by-ref: every text argument upper-cased), "slow"
// (sleeps params[0] ms), "strict" (exactly one argument), "boom" (throws), "fail" (failed
// envelope).
class TestObject final : public RemoteObject {
public:
    explicit TestObject(QString name)
        : m_name(std::move(name)) {}
    QString Name() const override { return m_name; }
    bool HasMethod(const QString &method) const override { return Methods().contains(method); }
    QStringList Methods() const override {
        return {u"echo"_s, u"upper"_s, u"slow"_s, u"strict"_s, u"boom"_s, u"fail"_s};
    }
    CallOutcome Invoke(const QString &method, const QJsonArray &params) override {
        ++calls;
        CallOutcome out;
        if (method == u"echo"_s) {
            out.Result =
                TResultEnvelope::Success(QJsonObject{{u"object"_s, m_name}, {u"params"_s, params}});
        } else if (method == u"upper"_s) {
            QJsonArray byRef;
            for (const QJsonValue &v : params)
                byRef.append(v.toString().toUpper());
            out.Result = TResultEnvelope::Success({}, byRef);
            out.Company = params.isEmpty() ? QString() : params[0].toString();
        } else if (method == u"slow"_s) {
            QThread::msleep(ulong(params[0].toInt()));
            out.Result = TResultEnvelope::Success(params[0]);
        } else if (method == u"strict"_s) {
            if (params.size() != 1)
                out.ProtocolError = JsonRpc::Error{JsonRpc::InvalidParams, u"um argumento"_s};
        } else if (method == u"boom"_s) {
            throw std::runtime_error("defeito");
        } else if (method == u"fail"_s) {
            out.Result = TResultEnvelope::Failure(u"not_found"_s, u"Empresa não cadastrada."_s);
        }
        return out;
    }
    std::atomic<int> calls{0};

private:
    QString m_name;
};

QJsonObject Answer(QSignalSpy &spy, int index = 0) {
    if (spy.size() <= index && !spy.wait(5000))
        return {};
    return QJsonDocument::fromJson(spy.at(index).at(0).toString().toUtf8()).object();
}

} // namespace

class TstTransportDispatch final : public QObject {
    Q_OBJECT

    TestObject m_outer{u"Ger09400"_s};
    TestObject m_inner{u"Ger09400.rdmParamCtbl"_s};
    std::unique_ptr<WsListener> m_listener;

    std::unique_ptr<TNetConnection> Client(const QString &serverName) {
        auto c = std::make_unique<TNetConnection>();
        c->SetHost(u"127.0.0.1"_s);
        c->SetPort(m_listener->Port());
        c->SetServerName(serverName);
        c->SetTimeoutMs(5000);
        return c;
    }

private Q_SLOTS:
    void initTestCase() {
        WsListener::Settings settings;
        settings.Workers = 4;
        m_listener =
            std::make_unique<WsListener>(QList<RemoteObject *>{&m_outer, &m_inner}, settings);
        QString error;
        QVERIFY2(m_listener->Listen(QHostAddress::LocalHost, 0, &error), qPrintable(error));
    }

    void routing_data() {
        QTest::addColumn<QString>("method");
        QTest::addColumn<QString>("object"); // empty: unknown method
        QTest::newRow("longest name wins")
            << u"Ger09400.rdmParamCtbl.echo"_s << u"Ger09400.rdmParamCtbl"_s;
        QTest::newRow("shorter name") << u"Ger09400.echo"_s << u"Ger09400"_s;
        QTest::newRow("name without method") << u"Ger09400.rdmParamCtbl"_s << QString();
        QTest::newRow("name with empty method") << u"Ger09400.rdmParamCtbl."_s << QString();
        QTest::newRow("prefix not at a dot") << u"Ger09400x.echo"_s << QString();
        QTest::newRow("unknown method of known object")
            << u"Ger09400.rdmParamCtbl.nope"_s << QString();
        QTest::newRow("case matters") << u"ger09400.echo"_s << QString();
    }
    void routing() {
        QFETCH(QString, method);
        QFETCH(QString, object);
        const RpcDispatcher dispatcher({&m_outer, &m_inner});
        const RpcDispatcher::Target target = dispatcher.Resolve(method);
        QCOMPARE(target.Object ? target.Object->Name() : QString(), object);
    }

    void callsThroughTheClient_data() {
        QTest::addColumn<QString>("method");
        QTest::addColumn<QJsonArray>("params");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QString>("thrown"); // empty: no exception
        QTest::newRow("echo") << u"echo"_s << QJsonArray{1, u"a"_s} << true << QString();
        QTest::newRow("failed envelope is a value")
            << u"fail"_s << QJsonArray{} << false << QString();
        QTest::newRow("wrong arguments")
            << u"strict"_s << QJsonArray{} << false << u"um argumento"_s;
        QTest::newRow("object that throws") << u"boom"_s << QJsonArray{} << false
                                            << u"Erro interno do servidor de aplicação: defeito"_s;
        QTest::newRow("unknown method") << u"nada"_s << QJsonArray{} << false
                                        << u"Método desconhecido: Ger09400.rdmParamCtbl.nada"_s;
    }
    void callsThroughTheClient() {
        QFETCH(QString, method);
        QFETCH(QJsonArray, params);
        QFETCH(bool, ok);
        QFETCH(QString, thrown);
        auto client = Client(u"Ger09400.rdmParamCtbl"_s);
        try {
            const TResultEnvelope result = client->Call(method, params);
            QVERIFY2(thrown.isEmpty(), "expected an exception");
            QCOMPARE(result.Ok, ok);
            if (ok)
                QCOMPARE(result.Payload.toObject().value(u"params"_s).toArray(), params);
        } catch (const Exception &e) {
            QCOMPARE(e.Message(), thrown);
        }
        // A protocol fault leaves the connection usable.
        QVERIFY(client->Connected());
        QCOMPARE(client->Call(u"echo"_s, {}).Ok, true);
    }

    void failedEnvelopeThrowsWhenAsked() {
        auto client = Client(u"Ger09400.rdmParamCtbl"_s);
        client->SetThrowException(true);
        QVERIFY_THROWS_EXCEPTION(Exception, client->Call(u"fail"_s, {}));
        try {
            client->Call(u"fail"_s, {});
        } catch (const Exception &e) {
            QCOMPARE(e.Message(), u"Empresa não cadastrada."_s);
        }
    }

    void byRefArgumentsAreWrittenBack() {
        auto client = Client(u"Ger09400.rdmParamCtbl"_s);
        QString first = u"01,02"_s;
        QString second = u"abc"_s;
        QString untouched = u"keep"_s;
        client->Call(u"upper"_s, {first, second}, {&first, nullptr, &untouched});
        QCOMPARE(first, u"01,02"_s);
        QCOMPARE(second, u"abc"_s);     // no pointer given: nothing written
        QCOMPARE(untouched, u"keep"_s); // the server sent only two values
        client->Call(u"upper"_s, {u"xy"_s}, {&second});
        QCOMPARE(second, u"XY"_s);
    }

    void answersMatchTheirRequestsOutOfOrder() {
        QWebSocket socket;
        QSignalSpy answers(&socket, &QWebSocket::textMessageReceived);
        socket.open(QUrl(u"ws://127.0.0.1:%1"_s.arg(m_listener->Port())));
        QTRY_VERIFY(socket.state() == QAbstractSocket::ConnectedState);
        socket.sendTextMessage(
            QString::fromUtf8(JsonRpc::EncodeRequest(1, u"Ger09400.rdmParamCtbl.slow"_s, {300})));
        socket.sendTextMessage(
            QString::fromUtf8(JsonRpc::EncodeRequest(2, u"Ger09400.rdmParamCtbl.slow"_s, {0})));
        QTRY_COMPARE_WITH_TIMEOUT(answers.size(), 2, 5000);
        QCOMPARE(Answer(answers, 0).value(u"id"_s), QJsonValue(2));
        QCOMPARE(Answer(answers, 1).value(u"id"_s), QJsonValue(1));
        QCOMPARE(Answer(answers, 1).value(u"result"_s)[u"payload"_s], QJsonValue(300));
    }

    void notificationGetsNoAnswer() {
        QWebSocket socket;
        QSignalSpy answers(&socket, &QWebSocket::textMessageReceived);
        socket.open(QUrl(u"ws://127.0.0.1:%1"_s.arg(m_listener->Port())));
        QTRY_VERIFY(socket.state() == QAbstractSocket::ConnectedState);
        const int before = m_inner.calls;
        socket.sendTextMessage(
            u"{\"jsonrpc\":\"2.0\",\"method\":\"Ger09400.rdmParamCtbl.echo\",\"params\":[]}"_s);
        socket.sendTextMessage(QString::fromUtf8(JsonRpc::EncodeRequest(9, u"ping"_s, {})));
        QCOMPARE(Answer(answers).value(u"id"_s), QJsonValue(9));
        QTRY_COMPARE(m_inner.calls.load(), before + 1);
        QTest::qWait(50);
        QCOMPARE(answers.size(), 1);
    }

    void clientLeavingMidCallIsHarmless() {
        const int before = m_inner.calls;
        for (int i = 0; i < 10; ++i) {
            QWebSocket socket;
            socket.open(QUrl(u"ws://127.0.0.1:%1"_s.arg(m_listener->Port())));
            QTRY_VERIFY(socket.state() == QAbstractSocket::ConnectedState);
            socket.sendTextMessage(QString::fromUtf8(
                JsonRpc::EncodeRequest(1, u"Ger09400.rdmParamCtbl.slow"_s, {50})));
            socket.flush();
            socket.abort();
        }
        // Every orphaned call still ran to its end, and the answers went nowhere.
        QTRY_COMPARE_WITH_TIMEOUT(m_inner.calls.load(), before + 10, 5000);
        QTRY_COMPARE(m_listener->ConnectionCount(), 0);
        auto client = Client(u"Ger09400.rdmParamCtbl"_s);
        QVERIFY(client->Call(u"echo"_s, {}).Ok);
    }

    // The worker threads: every job started runs once, never more of them at a time than there
    // are threads, and the wait for the pool returns only after the last one, whether the jobs
    // come one by one (a thread looking for work takes them) or many at once from many threads.
    void workerPoolRunsEveryJobOnce_data() {
        QTest::addColumn<int>("threads");
        QTest::addColumn<int>("submitters");
        QTest::addColumn<int>("jobs");
        QTest::addColumn<int>("sleepUs");
        QTest::newRow("one thread, one after another") << 1 << 1 << 2000 << 0;
        QTest::newRow("four threads, a burst from eight") << 4 << 8 << 5000 << 0;
        QTest::newRow("slow jobs, more than threads") << 3 << 4 << 40 << 2000;
        QTest::newRow("jobs spaced past the look") << 2 << 1 << 20 << 500;
    }
    void workerPoolRunsEveryJobOnce() {
        QFETCH(int, threads);
        QFETCH(int, submitters);
        QFETCH(int, jobs);
        QFETCH(int, sleepUs);
        const int total = submitters * jobs;
        std::vector<std::atomic<int>> ran(static_cast<size_t>(total));
        std::atomic<int> busy{0};
        std::atomic<int> mostBusy{0};
        WorkerPool pool(threads);
        std::vector<std::thread> senders;
        for (int s = 0; s < submitters; ++s) {
            senders.emplace_back([&, s] {
                for (int j = 0; j < jobs; ++j) {
                    pool.Start([&, index = s * jobs + j] {
                        const int now = ++busy;
                        int seen = mostBusy.load();
                        while (now > seen && !mostBusy.compare_exchange_weak(seen, now)) {
                        }
                        if (sleepUs > 0)
                            std::this_thread::sleep_for(std::chrono::microseconds(sleepUs));
                        ++ran[size_t(index)];
                        --busy;
                    });
                    // Spaced jobs let the looking thread give up and sleep between them.
                    if (submitters == 1 && sleepUs > 0)
                        std::this_thread::sleep_for(std::chrono::microseconds(sleepUs));
                }
            });
        }
        for (std::thread &t : senders)
            t.join();
        pool.WaitForDone();
        for (int i = 0; i < total; ++i)
            QCOMPARE(ran[size_t(i)].load(), 1);
        QVERIFY(mostBusy.load() <= threads);
        // A pool that has finished takes nothing more.
        bool late = false;
        pool.Start([&late] { late = true; });
        pool.WaitForDone();
        QVERIFY(!late);
    }

    // A call started just behind one that the looking thread takes must not wait for that one to
    // end: another thread runs it.
    void workerPoolCallBehindASlowOneRunsAtOnce() {
        WorkerPool pool(2);
        std::atomic<int> slowDone{0};
        for (int round = 0; round < 40; ++round) {
            // A quick call first, so that its thread is the one looking when the next two come.
            std::atomic<bool> warm{false};
            pool.Start([&warm] { warm = true; });
            while (!warm)
                std::this_thread::yield();
            std::this_thread::sleep_for(std::chrono::microseconds(50));
            const int before = slowDone;
            std::atomic<bool> quick{false};
            pool.Start([&slowDone] {
                std::this_thread::sleep_for(std::chrono::milliseconds(25));
                ++slowDone;
            });
            pool.Start([&quick] { quick = true; });
            while (!quick)
                std::this_thread::yield();
            QVERIFY2(slowDone == before, qPrintable(u"volta %1"_s.arg(round)));
            while (slowDone == before)
                std::this_thread::yield();
        }
    }

    // What the I/O thread reads of a request it refuses unparsed: the id and method when they
    // are plain, null otherwise, and never more than one pass over the text.
    void peekAtRefusedRequest_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("id"); // as JSON; "-" for none (a notification)
        QTest::addColumn<QString>("method");
        QTest::addColumn<bool>("object");
        const QString deep = QString(100000, u'[') + QString(100000, u']');
        QTest::newRow("ours")
            << u"{\"jsonrpc\":\"2.0\",\"id\":12,\"method\":\"X.Y\",\"params\":[]}"_s << u"12"_s
            << u"X.Y"_s << true;
        QTest::newRow("id last, past nested params")
            << u"{\"method\":\"ping\",\"params\":[{\"id\":1,\"a\":\"}]\\\"\"}],\"id\":\"a\\\"b\"}"_s
            << u"\"a\\\"b\""_s << u"ping"_s << true;
        QTest::newRow("notification")
            << u"{ \"method\" : \"X\" , \"params\" : [ 1 , 2 ] }"_s << u"-"_s << u"X"_s << true;
        QTest::newRow("id an object")
            << u"{\"id\":{\"a\":1},\"method\":\"X\"}"_s << u"null"_s << u"X"_s << true;
        QTest::newRow("very deep params")
            << u"{\"params\":%1,\"id\":3}"_s.arg(deep) << u"3"_s << QString() << true;
        QTest::newRow("cut in a string")
            << u"{\"id\":5,\"method\":\"X\",\"params\":[\"ab"_s << u"5"_s << u"X"_s << false;
        QTest::newRow("cut before the id")
            << u"{\"method\":\"X\",\"params\":[[["_s << u"null"_s << u"X"_s << false;
        QTest::newRow("not an object") << u"[1,2]"_s << u"null"_s << QString() << false;
        QTest::newRow("empty") << QString() << u"null"_s << QString() << false;
        QTest::newRow("id with a fraction")
            << u"{\"id\":1.5,\"method\":\"X\"}"_s << u"null"_s << u"X"_s << true;
        QTest::newRow("id out of range")
            << u"{\"id\":1e20,\"method\":\"X\"}"_s << u"null"_s << u"X"_s << true;
        QTest::newRow("whole id with an exponent")
            << u"{\"id\":1e3,\"method\":\"X\"}"_s << u"1000"_s << u"X"_s << true;
        QTest::newRow("method not text")
            << u"{\"id\":1,\"method\":7}"_s << u"1"_s << QString() << true;
    }
    void peekAtRefusedRequest() {
        QFETCH(QString, text);
        QFETCH(QString, id);
        QFETCH(QString, method);
        QFETCH(bool, object);
        const RequestPeek peek = RequestPeek::Read(text);
        if (id == u"-"_s)
            QVERIFY(peek.Id.isUndefined());
        else
            QCOMPARE(QJsonDocument(QJsonArray{peek.Id}).toJson(QJsonDocument::Compact),
                     (u"["_s + id + u"]"_s).toUtf8());
        QCOMPARE(peek.Method, method);
        QCOMPARE(peek.Object, object);
    }

    void pingNeedsNoObject() {
        auto client = Client(QString());
        const double ms = client->Ping();
        QVERIFY(ms > 0);
    }
};

QTEST_GUILESS_MAIN(TstTransportDispatch)
#include "tst_transport_dispatch.moc"
