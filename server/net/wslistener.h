#pragma once

#include "callcontext.h"

#include "bytemeter.h"
#include "callmetrics.h"
#include "healthcheck.h"
#include "rpcdispatcher.h"
#include "transport.h"
#include "workerpool.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QHostAddress>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QSslConfiguration>
#include <QTimer>
#include <QWebSocketProtocol>
#include <QWebSocketServer>

#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <vector>

class HttpHead;
class QTcpServer;
class QTcpSocket;
class QWebSocket;
class RemoteObject;

// The WebSocket side of the server: accepts connections, checks the bearer token, reads one
// JSON-RPC request per text message and runs it on the worker pool. Answers go back on the
// thread that owns the sockets; the answer of a socket that closed meanwhile is dropped.
class WsListener final : public QObject {
    Q_OBJECT

public:
    static constexpr qint64 MaxMessageBytes = 16 * 1024 * 1024;
    // Answers queued for one client that does not read them; past this, a client that still
    // sends is let go.
    static constexpr qint64 MaxQueuedReplyBytes = 32 * 1024 * 1024;
    // A client with this much of its answers unread has its next calls wait until it reads:
    // answers are only made for readers that keep up.
    static constexpr qint64 ReadBehindBytes = 1024 * 1024;
    // Answers queued for all clients together: room for the largest answers of all the workers
    // at once (eight of the gate's 100,000 checks take about 90 MB). Past it, clients that have
    // taken nothing for StalledMs go first, then those with the most unread.
    static constexpr qint64 MaxQueuedRepliesTotal = 128 * 1024 * 1024;
    static constexpr qint64 StalledMs = 1000;
    // Unfinished messages of all connections together, every byte counted: past this, the
    // connections holding the most are closed first, so a small message arriving in pieces goes
    // only after thousands of larger ones.
    static constexpr qint64 MaxUnfinishedBytes = 64 * 1024 * 1024;
    // Requests received and not yet answered (running, waiting for a worker, or held back), as
    // the server holds their text; a call that would pass it is refused unread.
    static constexpr qint64 MaxCallBytesTotal = 64 * 1024 * 1024;

    struct Settings {
        // Each token a client may present, with the operator it stands for (empty: anonymous).
        // None: no token asked for.
        struct Token {
            QByteArray Secret;
            QString Name;
            Role Access = Role::Contador;
        };
        QList<Token> Tokens;
        std::optional<QSslConfiguration> Tls; // set: wss
        int Workers = 0;                      // 0: chosen from the core count
        QStringList AllowedOrigins;      // lower case; a handshake with another Origin is refused
        qint64 IdleTimeoutMs = 600000;   // 0: never
        qint64 MessageTimeoutMs = 60000; // from a message's first bytes to its end
        // Run on each worker as its last work, before Shutdown returns: whatever the objects
        // keep per thread (their database connections) goes while its owner still exists.
        std::function<void()> WorkerEnds;
        // What GET /health reports, asked on a thread of its own, which runs WorkerEnds last.
        std::function<HealthCheck::Probe()> Health;
        // Count every call for the metrics.
        bool Metrics = false;
        std::function<bool()> GateHearing;
        // Short calls (RemoteObject::Short, their requests small) run on the thread that reads
        // the connection, which then holds a database connection of its own: a call crosses no
        // thread. Only for a database read in-process; a round trip over the network there
        // would hold up every other connection.
        bool ShortCallsHere = false;
    };
    // The largest request that may run where it was read.
    static constexpr qsizetype ShortCallChars = 1024;

    WsListener(QList<RemoteObject *> objects, Settings settings, QObject *parent = nullptr);
    ~WsListener() override;

    bool Listen(const QHostAddress &address, quint16 port, QString *error);
    quint16 Port() const;
    QString Url() const;
    int ConnectionCount() const { return int(m_sockets.size()); }
    // Calls one connection may have under way (running or waiting for a worker) at once; more
    // are refused at once, so a client that pipelines cannot queue without bound.
    static constexpr int CallsInFlightPerConnection = 8;
    int MaxCallsInFlight() const;

    // Stops accepting, closes every connection and waits for the calls under way.
    void Shutdown();
    // The first step of a stop: GET /health answers 503 while calls are still served.
    void BeginStop();
    // Whether GET /health was asked in the last `ms`: whether a balancer watches this server.
    bool HealthAskedWithin(qint64 ms) const;
    // Every metric, in the Prometheus text format.
    QByteArray MetricsText() const;

    // Why connections were refused or closed; the metrics name each.
    enum class Refusal { Token, Origin, Tls, HandshakeTimeout, HeadTooLarge, Count };
    enum class Closing { Idle, MessageTimeout, MessageTooLarge, ServerFull, Count };

private:
    void OnNewConnection();
    void OnText(QWebSocket *socket, const QString &text);
    void OnBinary(QWebSocket *socket);
    void Deliver(const QPointer<QWebSocket> &socket, const QString &method,
                 const RpcDispatcher::Outcome &outcome, qint64 elapsedNs);
    // Decodes (unless `decoded` is given), runs and encodes one message. Safe on any thread.
    struct Ran {
        QString Method;
        RpcDispatcher::Outcome Outcome;
    };
    Ran RunCall(const Caller &who, const QString &text,
                std::optional<JsonRpc::Request> decoded) const;
    // Runs a call here when it is short, else hands it to a worker, which hands the reply back.
    // `held`: the bytes the call counts in m_callsTotal until it is finished.
    // The connection may be gone when it returns.
    void Run(QWebSocket *socket, const Caller &who, const QString &text,
             std::optional<JsonRpc::Request> decoded, QElapsedTimer clock, qint64 held);
    bool IsShort(const JsonRpc::Request &request) const;
    void RunOnWorker(QWebSocket *socket, const Caller &who, const QString &text,
                     std::optional<JsonRpc::Request> decoded, QElapsedTimer clock, qint64 held);
    static RpcDispatcher::Outcome Pong(const JsonRpc::Request &request);
    // Calls finished on workers wait here for the I/O thread, which takes them all at once: under
    // load, one wake of the I/O thread delivers many answers.
    struct Finished {
        QPointer<QWebSocket> Socket;
        QString Method;
        RpcDispatcher::Outcome Outcome;
        qint64 ElapsedNs = 0;
        qint64 Held = 0;
    };
    void DeliverFinished();
    void Complete(const Finished &done);
    // The answer as one text message, written under the WebSocket straight from its UTF-8.
    void SendText(QWebSocket *socket, const QByteArray &utf8);
    std::mutex m_finishedLock;
    std::vector<Finished> m_finished; // guarded by m_finishedLock
    // The handshake header in which a client without a named token states its operator.
    static constexpr char OperatorHeader[] = "X-Ger-Operador";
    // The index in Settings::Tokens of the token the header presents, -1 for none.
    qsizetype TokenMatches(const QByteArray &header) const;
    void OnBytes(QWebSocket *socket);
    void OnWritten(QWebSocket *socket);
    // Runs a call now, or keeps it until the client has read its answers.
    void Start(QWebSocket *socket, const QString &text, std::optional<JsonRpc::Request> decoded,
               const QElapsedTimer &clock);
    QTcpSocket *TransportOf(const QWebSocket *socket);
    void OnIncoming(qintptr descriptor);
    void Adopt(QTcpSocket *transport);
    // Reads the request head without taking it: a WebSocket handshake goes on to the WebSocket
    // server, a plain request is answered here.
    void ReadHead(QTcpSocket *transport);
    void ServePlain(QTcpSocket *transport, const HttpHead &head);
    // Writes a plain answer and closes.
    static void AnswerPlain(QTcpSocket *transport, const QByteArray &answer);
    void Sweep();
    void Drop(QWebSocket *socket, QWebSocketProtocol::CloseCode code, const QString &reason,
              const QString &logged);
    // For a client that does not read: a close frame would only wait behind what it left
    // unread, so the connection goes at once, and its memory with it.
    void Abort(QWebSocket *socket, const QString &logged);
    bool OriginAllowed(const QString &origin) const;

    Settings m_settings;
    RpcDispatcher m_dispatcher;
    // A request is read on the listener's thread only if it names one of these.
    QStringList m_shortNames;
    Acceptor m_accept;
    QWebSocketServer m_server;
    std::unique_ptr<WorkerPool> m_pool;
    // What the listener knows of each open connection.
    struct Connection {
        QPointer<QTcpSocket> Transport;
        int InFlight = 0; // calls running, waiting for a worker, or deferred
        qint64 LastActivityMs = 0;
        qint64 PartialSinceMs = -1; // bytes of a message arrived, the message not yet complete
        quint64 Completed = 0;      // messages received
        quint64 SeenCompleted = 0;  // Completed as the last arrival of bytes found it
        qint64 FrameBytes = 0;      // complete frames of the message under way
        qint64 Unfinished = 0;      // bytes of the message under way, as last counted
        qint64 Queued = 0;          // answers written, not yet taken by the client
        qint64 LastDrainMs = 0;     // when the client last took some, or had none waiting
        qint64 DeferredBytes = 0;   // the text of the calls in Deferred
        Caller Who;                 // the operator the connection's calls are recorded under
        // Calls waiting for the client to read its answers; counted in InFlight.
        std::deque<std::pair<QString, QElapsedTimer>> Deferred;
    };
    QSet<QWebSocket *> m_sockets;
    QHash<QWebSocket *, Connection> m_state;
    // Unfinished bytes, and who holds them, largest last.
    qint64 m_unfinishedTotal = 0;
    std::set<std::pair<qint64, QWebSocket *>> m_holders;
    qint64 m_queuedTotal = 0;
    qint64 m_callsTotal = 0;
    // Makes room for a call of `held` bytes, letting go of clients whose calls wait for them to
    // read; false when there is none, and the call must be refused.
    bool AdmitCall(qint64 held);
    // Freed since memory was last handed back to the system.
    qint64 m_freedSinceTrim = 0;
    void SetUnfinished(QWebSocket *socket, Connection &c, qint64 bytes);
    void ClearPartial(QWebSocket *socket, Connection &c);
    void SyncQueued(Connection &c);
    // Lets the clients with the most unread answers go until all of them fit the total.
    void ShedQueued();
    void Forget(QWebSocket *socket);
    QElapsedTimer m_clock;
    QHash<QString, QTcpSocket *> m_transports; // by peer address and port
    // Transports whose request head is still being read, with how much of it was searched.
    QHash<QTcpSocket *, qsizetype> m_heads;
    QTimer m_sweep;

    std::unique_ptr<HealthCheck> m_health;
    std::unique_ptr<CallMetrics> m_calls; // null: calls are not counted
    ByteMeter m_bytes;
    // Counted on the I/O thread only, and read there.
    quint64 m_accepted = 0;
    quint64 m_unreadResets = 0;
    quint64 m_refused[int(Refusal::Count)] = {};
    quint64 m_closed[int(Closing::Count)] = {};
    quint64 m_healthAnswers[2] = {}; // 200, 503
    quint64 m_plainAnswers = 0;      // any other plain HTTP request
    void Refused(Refusal why) { ++m_refused[int(why)]; }
};
