#pragma once

#include <QByteArray>
#include <QByteArrayView>

// The head of a plain HTTP request on one of the server's ports: its request line, and whether
// it asks for a WebSocket. A head is read only up to MaxBytes, and in one pass.
class HttpHead final {
public:
    // Far above any WebSocket handshake (a browser's, cookies and all, is a few KiB).
    static constexpr qsizetype MaxBytes = 16 * 1024;

    // Just past the blank line that ends the head, searching `bytes` from `from` on; -1 when the
    // head has not ended yet.
    static qsizetype End(QByteArrayView bytes, qsizetype from = 0);
    static HttpHead Parse(QByteArrayView head);

    // A whole answer, after which the server closes the connection; `withBody` false for HEAD.
    static QByteArray Answer(int status, QByteArrayView contentType, QByteArrayView body,
                             bool withBody = true, QByteArrayView extraHeaders = {});
    // The request line as a log line may show it, escaped and cut.
    QString Shown() const;

    bool Valid = false; // "METHOD /target HTTP/1.x"
    QByteArray Method;
    QByteArray Path;        // the target without its query
    bool WebSocket = false; // "Upgrade: websocket"
    int Authorizations = 0; // "Authorization" headers: a proxy may add one of its own
};
