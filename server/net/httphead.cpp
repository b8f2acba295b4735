#include "httphead.h"

#include "serverlog.h"

#include <QString>

using namespace Qt::StringLiterals;

namespace {

bool IsTokenChar(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '_';
}

// Whether `haystack` holds `needle`, letters in either case; both short (a header's value).
bool ContainsNoCase(QByteArrayView haystack, QByteArrayView needle) {
    return QLatin1StringView(haystack).contains(QLatin1StringView(needle), Qt::CaseInsensitive);
}

QByteArrayView Trimmed(QByteArrayView text) {
    while (!text.isEmpty() && (text.front() == ' ' || text.front() == '\t'))
        text = text.sliced(1);
    while (!text.isEmpty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
        text.chop(1);
    return text;
}

const char *Reason(int status) {
    switch (status) {
    case 200:
        return "OK";
    case 400:
        return "Bad Request";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 431:
        return "Request Header Fields Too Large";
    case 503:
        return "Service Unavailable";
    default:
        return "Error";
    }
}

} // namespace

qsizetype HttpHead::End(QByteArrayView bytes, qsizetype from) {
    const qsizetype found = bytes.indexOf(QByteArrayView("\r\n\r\n"), qMax<qsizetype>(0, from));
    return found < 0 ? -1 : found + 4;
}

HttpHead HttpHead::Parse(QByteArrayView head) {
    HttpHead parsed;
    qsizetype lineEnd = head.indexOf(QByteArrayView("\r\n"));
    if (lineEnd < 0)
        lineEnd = head.size();
    const QByteArrayView line = head.first(lineEnd);
    const qsizetype firstSpace = line.indexOf(' ');
    const qsizetype lastSpace = line.lastIndexOf(' ');
    if (firstSpace <= 0 || lastSpace <= firstSpace + 1)
        return parsed;
    const QByteArrayView method = line.first(firstSpace);
    const QByteArrayView target = line.sliced(firstSpace + 1, lastSpace - firstSpace - 1);
    const QByteArrayView version = line.sliced(lastSpace + 1);
    for (char c : method)
        if (!IsTokenChar(c))
            return parsed;
    if (!target.startsWith('/') || target.contains(' ') ||
        (version != QByteArrayView("HTTP/1.1") && version != QByteArrayView("HTTP/1.0")))
        return parsed;
    parsed.Valid = true;
    parsed.Method = method.toByteArray();
    const qsizetype query = target.indexOf('?');
    parsed.Path = (query < 0 ? target : target.first(query)).toByteArray();

    qsizetype at = lineEnd + 2;
    while (at < head.size()) {
        qsizetype end = head.indexOf(QByteArrayView("\r\n"), at);
        if (end < 0)
            end = head.size();
        const QByteArrayView header = head.sliced(at, end - at);
        const qsizetype colon = header.indexOf(':');
        const QLatin1StringView name(colon > 0 ? Trimmed(header.first(colon)) : QByteArrayView());
        if (name.compare(QLatin1StringView("upgrade"), Qt::CaseInsensitive) == 0)
            parsed.WebSocket =
                parsed.WebSocket || ContainsNoCase(Trimmed(header.sliced(colon + 1)), "websocket");
        else if (name.compare(QLatin1StringView("authorization"), Qt::CaseInsensitive) == 0)
            ++parsed.Authorizations;
        at = end + 2;
    }
    return parsed;
}

QByteArray HttpHead::Answer(int status, QByteArrayView contentType, QByteArrayView body,
                            bool withBody, QByteArrayView extraHeaders) {
    QByteArray out;
    out.reserve(160 + extraHeaders.size() + (withBody ? body.size() : 0));
    out += "HTTP/1.1 " + QByteArray::number(status) + ' ' + Reason(status) + "\r\n";
    out += "Content-Type: ";
    out += contentType;
    out += "\r\nContent-Length: " + QByteArray::number(body.size()) +
           "\r\nCache-Control: no-store\r\nConnection: close\r\n";
    out += extraHeaders;
    out += "\r\n";
    if (withBody)
        out += body;
    return out;
}

QString HttpHead::Shown() const {
    if (!Valid)
        return u"(pedido inválido)"_s;
    return ServerLog::Escape(QString::fromLatin1(Method), 16) + u' ' +
           ServerLog::Escape(QString::fromLatin1(Path), 100);
}
