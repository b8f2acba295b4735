#pragma once

#include "changehistory.h"

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

#include <memory>
#include <mutex>
#include <optional>
#include <vector>

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
    // Answers queued for a client that does not read them; past this the connection is closed.
    static constexpr qint64 MaxQueuedReplyBytes = 32 * 1024 * 1024;
    // Connections that may be in the middle of a message at once: each may hold up to
    // MaxMessageBytes unread, so this bounds what unfinished messages can take together.
    static constexpr int MaxUnfinishedMessages = 8;

    struct Settings {
        // Each token a client may present, with the operator it stands for (empty: anonymous).
        // None: no token asked for.
        QList<std::pair<QByteArray, QString>> Tokens;
        std::optional<QSslConfiguration> Tls; // set: wss
        int Workers = 0;                      // 0: chosen from the core count
        QStringList AllowedOrigins;      // lower case; a handshake with another Origin is refused
        qint64 IdleTimeoutMs = 600000;   // 0: never
        qint64 MessageTimeoutMs = 60000; // from a message's first bytes to its end
    };

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

private:
    void OnNewConnection();
    void OnText(QWebSocket *socket, const QString &text);
    void OnBinary(QWebSocket *socket);
    void Deliver(const QPointer<QWebSocket> &socket, const QString &method,
                 const RpcDispatcher::Outcome &outcome, qint64 elapsedNs);
    // On a worker: decodes (unless `decoded` is given), runs and encodes one message, then hands
    // the reply back to the I/O thread.
    void RunOnWorker(QWebSocket *socket, const Caller &who, const QString &text,
                     std::optional<JsonRpc::Request> decoded, QElapsedTimer clock);
    static RpcDispatcher::Outcome Pong(const JsonRpc::Request &request);
    // Calls finished on workers wait here for the I/O thread, which takes them all at once: under
    // load, one wake of the I/O thread delivers many answers.
    struct Finished {
        QPointer<QWebSocket> Socket;
        QString Method;
        RpcDispatcher::Outcome Outcome;
        qint64 ElapsedNs = 0;
    };
    void DeliverFinished();
    std::mutex m_finishedLock;
    std::vector<Finished> m_finished; // guarded by m_finishedLock
    // The handshake header in which a client without a named token states its operator.
    static constexpr char OperatorHeader[] = "X-Ger-Operador";
    // The index in Settings::Tokens of the token the header presents, -1 for none.
    qsizetype TokenMatches(const QByteArray &header) const;
    void OnBytes(QWebSocket *socket);
    QTcpSocket *TransportOf(const QWebSocket *socket);
    void OnIncoming(qintptr descriptor);
    void Adopt(QTcpSocket *transport);
    void Sweep();
    void Drop(QWebSocket *socket, QWebSocketProtocol::CloseCode code, const QString &reason,
              const QString &logged);
    bool OriginAllowed(const QString &origin) const;

    Settings m_settings;
    RpcDispatcher m_dispatcher;
    Acceptor m_accept;
    QWebSocketServer m_server;
    std::unique_ptr<WorkerPool> m_pool;
    // What the listener knows of each open connection.
    struct Connection {
        int InFlight = 0;
        qint64 LastActivityMs = 0;
        qint64 PartialSinceMs = -1; // bytes of a message arrived, the message not yet complete
        quint64 Completed = 0;      // messages received
        quint64 SeenCompleted = 0;  // Completed as the last arrival of bytes found it
        Caller Who;                 // the operator the connection's calls are recorded under
    };
    QSet<QWebSocket *> m_sockets;
    QHash<QWebSocket *, Connection> m_state;
    int m_unfinished = 0; // connections whose PartialSinceMs is set
    void ClearPartial(Connection &c);
    void Forget(QWebSocket *socket);
    QElapsedTimer m_clock;
    QHash<QString, QTcpSocket *> m_transports; // by peer address and port
    QTimer m_sweep;
};
