#include "transport.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Owns a duplicate descriptor of a connection the server has closed: ends the sending side, then
// reads and drops until the peer closes or the time is up.
class Drainer final : public QObject {
public:
    Drainer(int descriptor, QObject *parent)
        : QObject(parent)
        , m_fd(descriptor)
        , m_readable(descriptor, QSocketNotifier::Read, this) {
        ::shutdown(m_fd, SHUT_WR);
        connect(&m_readable, &QSocketNotifier::activated, this, [this] { Read(); });
        QTimer::singleShot(DrainingTcpSocket::DrainMs, this, [this] { Finish(); });
    }
    ~Drainer() override {
        if (m_fd >= 0)
            ::close(m_fd);
    }

private:
    void Read() {
        char buffer[65536];
        for (;;) {
            const ssize_t got = ::recv(m_fd, buffer, sizeof buffer, MSG_DONTWAIT);
            if (got > 0)
                continue;
            if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
                return;
            Finish(); // the peer closed, or the connection is gone
            return;
        }
    }
    void Finish() {
        m_readable.setEnabled(false);
        deleteLater();
    }

    int m_fd;
    QSocketNotifier m_readable;
};

} // namespace

void DrainingTcpSocket::KeepForDraining() {
    if (m_kept >= 0 || state() != QAbstractSocket::ConnectedState)
        return;
    m_kept = ::dup(int(socketDescriptor()));
    if (m_kept < 0)
        return;
    // Once this socket has flushed and closed its own descriptor, the kept one takes over.
    QObject *owner = parent() ? parent() : QCoreApplication::instance();
    m_handOver = connect(this, &QAbstractSocket::disconnected, owner, [this, owner] {
        disconnect(m_handOver);
        new Drainer(m_kept, owner);
        m_kept = -1;
    });
}

DrainingTcpSocket::~DrainingTcpSocket() {
    // Gone before it was ever disconnected: nothing will drain, and the base's own teardown must
    // not hand over a descriptor closed here.
    disconnect(m_handOver);
    if (m_kept >= 0)
        ::close(m_kept);
}

void DrainingTcpSocket::close() {
    KeepForDraining();
    QTcpSocket::close();
}

void DrainingTcpSocket::disconnectFromHost() {
    KeepForDraining();
    QTcpSocket::disconnectFromHost();
}
