#pragma once

#include "rpcdispatcher.h"

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QSslConfiguration>
#include <QThreadPool>
#include <QWebSocketServer>

#include <optional>

class QWebSocket;
class RemoteObject;

// The WebSocket side of the server: accepts connections, checks the bearer token, reads one
// JSON-RPC request per text message and runs it on the worker pool. Answers go back on the
// thread that owns the sockets; the answer of a socket that closed meanwhile is dropped.
class WsListener final : public QObject {
    Q_OBJECT

public:
    static constexpr qint64 MaxMessageBytes = 16 * 1024 * 1024;

    struct Settings {
        QByteArray Token;                     // empty: no token asked for
        std::optional<QSslConfiguration> Tls; // set: wss
        int Workers = 0;                      // 0: chosen from the core count
        QStringList AllowedOrigins; // lower case; a handshake with another Origin is refused
    };

    WsListener(QList<RemoteObject *> objects, Settings settings, QObject *parent = nullptr);
    ~WsListener() override;

    bool Listen(const QHostAddress &address, quint16 port, QString *error);
    quint16 Port() const;
    QString Url() const;
    int ConnectionCount() const { return int(m_sockets.size()); }

    // Stops accepting, closes every connection and waits for the calls under way.
    void Shutdown();

private:
    void OnNewConnection();
    void OnText(QWebSocket *socket, const QString &text);
    void OnBinary(QWebSocket *socket);
    void Deliver(const QPointer<QWebSocket> &socket, const QString &method,
                 const RpcDispatcher::Outcome &outcome, qint64 elapsedNs);
    bool TokenMatches(const QByteArray &header) const;
    bool OriginAllowed(const QString &origin) const;

    Settings m_settings;
    RpcDispatcher m_dispatcher;
    QWebSocketServer m_server;
    QThreadPool m_pool;
    QSet<QWebSocket *> m_sockets;
};
