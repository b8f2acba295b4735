#include "metricsserver.h"

#include "httphead.h"
#include "serverlog.h"

#include <QTcpSocket>
#include <QTimer>

using namespace Qt::StringLiterals;

MetricsServer::MetricsServer(std::function<QByteArray()> render, QObject *parent)
    : QObject(parent)
    , m_render(std::move(render)) {
    m_server.setMaxPendingConnections(MaxConnections);
    connect(&m_server, &QTcpServer::newConnection, this, &MetricsServer::OnConnection);
}

bool MetricsServer::Listen(const QHostAddress &address, quint16 port, QString *error) {
    if (m_server.listen(address, port))
        return true;
    if (error)
        *error = u"não foi possível escutar as métricas em %1:%2: %3"_s.arg(address.toString())
                     .arg(port)
                     .arg(m_server.errorString());
    return false;
}

QString MetricsServer::Url() const {
    const QHostAddress address = m_server.serverAddress();
    const QString host = address.protocol() == QAbstractSocket::IPv6Protocol
                             ? u"[%1]"_s.arg(address.toString())
                             : address.toString();
    return u"http://%1:%2/metrics"_s.arg(host).arg(m_server.serverPort());
}

void MetricsServer::OnConnection() {
    while (QTcpSocket *socket = m_server.nextPendingConnection()) {
        socket->setParent(this);
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QObject::destroyed, this, [this, socket] { m_heads.remove(socket); });
        if (m_heads.size() >= MaxConnections) {
            // A scraper asks once in a while; this many at once is not one.
            socket->abort();
            continue;
        }
        m_heads.insert(socket, QByteArray());
        auto *deadline = new QTimer(socket);
        deadline->setSingleShot(true);
        connect(deadline, &QTimer::timeout, socket, [socket] { socket->abort(); });
        deadline->start(TimeoutMs);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { OnBytes(socket); });
    }
}

void MetricsServer::OnBytes(QTcpSocket *socket) {
    const auto found = m_heads.find(socket);
    if (found == m_heads.end()) {
        socket->readAll();
        return;
    }
    QByteArray &head = *found;
    const qsizetype before = head.size();
    head += socket->read(HttpHead::MaxBytes - head.size());
    const qsizetype end = HttpHead::End(head, before - 3);
    if (end < 0) {
        if (head.size() >= HttpHead::MaxBytes)
            Finish(socket, HttpHead::Answer(431, "text/plain; charset=utf-8",
                                            "Cabeçalho do pedido grande demais.\n"));
        return;
    }
    const HttpHead request = HttpHead::Parse(QByteArrayView(head).first(end));
    const bool bodyless = request.Method == "HEAD";
    if (!request.Valid) {
        Finish(socket,
               HttpHead::Answer(400, "text/plain; charset=utf-8", "Pedido HTTP inválido.\n"));
    } else if (request.Path != "/metrics") {
        Finish(socket, HttpHead::Answer(404, "text/plain; charset=utf-8",
                                        "Só /metrics é servido neste endereço.\n", !bodyless));
    } else if (request.Method != "GET" && !bodyless) {
        Finish(socket, HttpHead::Answer(405, "text/plain; charset=utf-8", "Use GET.\n", true,
                                        "Allow: GET, HEAD\r\n"));
    } else {
        Finish(socket, HttpHead::Answer(200, ContentType, m_render(), !bodyless));
    }
}

void MetricsServer::Finish(QTcpSocket *socket, const QByteArray &answer) {
    m_heads.remove(socket);
    socket->write(answer);
    socket->disconnectFromHost();
}
