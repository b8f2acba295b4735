#include "bytemeter.h"

#include <QTcpSocket>

#include <fcntl.h>
#include <linux/tcp.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

ByteMeter::Bytes ByteMeter::Read(int descriptor) {
    Bytes bytes;
    if (descriptor < 0)
        return bytes;
    tcp_info info{};
    socklen_t length = sizeof info;
    if (::getsockopt(descriptor, IPPROTO_TCP, TCP_INFO, &info, &length) != 0)
        return bytes;
    // An older kernel fills less of the structure.
    if (length >= offsetof(tcp_info, tcpi_bytes_retrans) + sizeof info.tcpi_bytes_retrans) {
        bytes.In = info.tcpi_bytes_received;
        // Sent once each: a segment sent again is not counted twice.
        bytes.Out = info.tcpi_bytes_sent - info.tcpi_bytes_retrans;
    }
    return bytes;
}

ByteMeter::~ByteMeter() {
    for (const int descriptor : std::as_const(m_state->Open))
        ::close(descriptor);
    m_state->Open.clear();
}

void ByteMeter::Watch(QTcpSocket *socket) {
    const int descriptor = ::fcntl(int(socket->socketDescriptor()), F_DUPFD_CLOEXEC, 0);
    if (descriptor < 0)
        return;
    m_state->Open.insert(socket, descriptor);
    const std::weak_ptr<State> weak = m_state;
    const auto ended = [weak, socket] {
        if (const auto state = weak.lock())
            Ended(*state, socket);
    };
    // Held past the disconnection, the duplicate would keep the connection itself open.
    QObject::connect(socket, &QAbstractSocket::disconnected, socket, ended);
    QObject::connect(socket, &QObject::destroyed, socket, ended);
}

void ByteMeter::Ended(State &state, QTcpSocket *socket) {
    const auto found = state.Open.find(socket);
    if (found == state.Open.end())
        return;
    const int descriptor = *found;
    state.Open.erase(found);
    const Bytes last = Read(descriptor);
    ::close(descriptor);
    state.Gone.In += last.In;
    state.Gone.Out += last.Out;
}

ByteMeter::Bytes ByteMeter::Total() const {
    Bytes total = m_state->Gone;
    for (const int descriptor : std::as_const(m_state->Open)) {
        const Bytes now = Read(descriptor);
        total.In += now.In;
        total.Out += now.Out;
    }
    return total;
}
