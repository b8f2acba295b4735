#pragma once

#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QObject>
#include <QTcpServer>

#include <functional>

class QTcpSocket;

// GET /metrics on an address of its own, in the Prometheus text format, for a scraper: plain
// HTTP, one request per connection, a few connections at once, each request head bounded in size
// and time like the WebSocket handshake.
class MetricsServer final : public QObject {
    Q_OBJECT

public:
    static constexpr int MaxConnections = 16;
    static constexpr int TimeoutMs = 10000;
    static constexpr char ContentType[] = "text/plain; version=0.0.4; charset=utf-8";

    // `render` makes the whole text, on this object's thread.
    explicit MetricsServer(std::function<QByteArray()> render, QObject *parent = nullptr);

    bool Listen(const QHostAddress &address, quint16 port, QString *error);
    QString Url() const; // http://HOST:PORT/metrics

private:
    void OnConnection();
    void OnBytes(QTcpSocket *socket);
    void Finish(QTcpSocket *socket, const QByteArray &answer);

    std::function<QByteArray()> m_render;
    QTcpServer m_server;
    QHash<QTcpSocket *, QByteArray> m_heads; // what each connection has sent so far
};
