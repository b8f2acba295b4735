#pragma once

#include <QByteArray>
#include <QString>

// A load generator's WebSocket client: one blocking socket, no event loop, no JSON. It sends a
// request text and reads back the answer's bytes, so that many of them on their own threads cost
// the machine little beside the server they measure.
class RawClient final {
public:
    RawClient() = default;
    ~RawClient();
    RawClient(const RawClient &) = delete;
    RawClient &operator=(const RawClient &) = delete;

    // False (and Error() says why) when the connection or the handshake fails.
    bool Connect(quint16 port);
    // One text frame out, the next whole text message back; empty on failure.
    QByteArray Call(const QByteArray &request);
    QString Error() const { return m_error; }

private:
    bool SendAll(const char *data, qsizetype size);
    bool ReadExactly(char *data, qsizetype size);

    int m_fd = -1;
    QString m_error;
    QByteArray m_buffer; // bytes read past the last message
};
