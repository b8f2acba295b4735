#include "rawclient.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

using namespace Qt::StringLiterals;

RawClient::~RawClient() {
    if (m_fd >= 0)
        ::close(m_fd);
}

bool RawClient::SendAll(const char *data, qsizetype size) {
    while (size > 0) {
        const ssize_t n = ::send(m_fd, data, size_t(size), MSG_NOSIGNAL);
        if (n <= 0) {
            m_error = u"envio falhou"_s;
            return false;
        }
        data += n;
        size -= n;
    }
    return true;
}

bool RawClient::ReadExactly(char *data, qsizetype size) {
    const qsizetype buffered = std::min(size, m_buffer.size());
    std::memcpy(data, m_buffer.constData(), size_t(buffered));
    m_buffer.remove(0, buffered);
    data += buffered;
    size -= buffered;
    while (size > 0) {
        const ssize_t n = ::recv(m_fd, data, size_t(size), 0);
        if (n <= 0) {
            m_error = u"conexão fechada pelo servidor"_s;
            return false;
        }
        data += n;
        size -= n;
    }
    return true;
}

bool RawClient::Connect(quint16 port) {
    m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (m_fd < 0 || ::connect(m_fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        m_error = u"conexão recusada"_s;
        return false;
    }
    const int on = 1;
    ::setsockopt(m_fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    const QByteArray handshake = "GET / HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(port) +
                                 "\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                                 "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
                                 "Sec-WebSocket-Version: 13\r\n\r\n";
    if (!SendAll(handshake.constData(), handshake.size()))
        return false;
    QByteArray head;
    char chunk[4096];
    while (!head.contains("\r\n\r\n")) {
        const ssize_t n = ::recv(m_fd, chunk, sizeof chunk, 0);
        if (n <= 0 || head.size() > 65536) {
            m_error = u"handshake sem resposta"_s;
            return false;
        }
        head.append(chunk, n);
    }
    if (!head.startsWith("HTTP/1.1 101")) {
        m_error = u"handshake recusado: "_s + QString::fromLatin1(head.left(head.indexOf('\r')));
        return false;
    }
    m_buffer = head.mid(head.indexOf("\r\n\r\n") + 4);
    return true;
}

QByteArray RawClient::Call(const QByteArray &request) {
    // A client's frames are masked; a zero mask keeps the payload as it is.
    QByteArray frame;
    frame.reserve(request.size() + 14);
    frame += char(0x81);
    const quint64 size = quint64(request.size());
    if (size < 126) {
        frame += char(0x80 | size);
    } else if (size < 65536) {
        frame += char(0x80 | 126);
        frame += char(size >> 8);
        frame += char(size & 0xff);
    } else {
        frame += char(0x80 | 127);
        for (int shift = 56; shift >= 0; shift -= 8)
            frame += char((size >> shift) & 0xff);
    }
    frame += QByteArray(4, '\0');
    frame += request;
    if (!SendAll(frame.constData(), frame.size()))
        return {};

    QByteArray message;
    for (;;) {
        unsigned char header[2];
        if (!ReadExactly(reinterpret_cast<char *>(header), 2))
            return {};
        quint64 length = header[1] & 0x7f;
        if (length >= 126) {
            unsigned char extended[8];
            const int bytes = length == 126 ? 2 : 8;
            if (!ReadExactly(reinterpret_cast<char *>(extended), bytes))
                return {};
            length = 0;
            for (int i = 0; i < bytes; ++i)
                length = (length << 8) | extended[i];
        }
        QByteArray payload(qsizetype(length), Qt::Uninitialized);
        if (!ReadExactly(payload.data(), payload.size()))
            return {};
        const int opcode = header[0] & 0x0f;
        if (opcode == 0x8) {
            m_error = u"conexão fechada pelo servidor"_s;
            return {};
        }
        if (opcode == 0x1 || opcode == 0x0)
            message += payload;
        if ((header[0] & 0x80) && (opcode == 0x1 || opcode == 0x0))
            return message;
    }
}
