#pragma once

#include <QHash>
#include <QtGlobal>

#include <memory>

class QTcpSocket;

// Bytes in and out of every connection, as the kernel counts them (TCP_INFO): handshakes, frames,
// TLS records and plain HTTP alike, at no cost to the path of a call. Each watched socket's
// descriptor is duplicated, so its count can still be read once Qt has let go of its own, when
// the connection ends; the duplicate goes right then.
class ByteMeter final {
public:
    struct Bytes {
        quint64 In = 0;
        quint64 Out = 0;
    };
    static Bytes Read(int descriptor);

    ByteMeter() = default;
    ~ByteMeter();
    ByteMeter(const ByteMeter &) = delete;
    ByteMeter &operator=(const ByteMeter &) = delete;

    // Counts `socket` until it disconnects; on the thread that owns it.
    void Watch(QTcpSocket *socket);
    Bytes Total() const;

private:
    // Shared with the sockets' handlers, which may outlive the meter.
    struct State {
        QHash<QTcpSocket *, int> Open; // the socket and its duplicate descriptor
        Bytes Gone;
    };
    static void Ended(State &state, QTcpSocket *socket);

    std::shared_ptr<State> m_state = std::make_shared<State>();
};
