#pragma once

#include <QTcpServer>
#include <QTcpSocket>

#include <functional>

// The listening socket of the server: hands each accepted descriptor to OnIncoming, so that the
// server itself makes (and owns) the TCP or TLS socket under each WebSocket.
class Acceptor final : public QTcpServer {
public:
    std::function<void(qintptr)> OnIncoming;

protected:
    void incomingConnection(qintptr descriptor) override { OnIncoming(descriptor); }
};

// A plain TCP socket whose closing lets the peer hear it. Closing while the peer is still sending
// (a message too big, say) makes the kernel answer with a reset, and the peer loses the close
// frame that says why. So a close keeps a second descriptor of the connection: once the socket
// has sent what was queued and let go of its own, the sending side is ended and what still comes
// is read and dropped until the peer closes too, or for a few seconds at most.
class DrainingTcpSocket final : public QTcpSocket {
    Q_OBJECT
public:
    using QTcpSocket::QTcpSocket;
    ~DrainingTcpSocket() override;
    static constexpr int DrainMs = 3000;

    void close() override;
    void disconnectFromHost() override;

private:
    void KeepForDraining();
    int m_kept = -1; // the second descriptor, until a Drainer takes it
    QMetaObject::Connection m_handOver;
};
