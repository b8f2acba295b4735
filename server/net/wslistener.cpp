#include "wslistener.h"

#include "callcontext.h"
#include "httphead.h"
#include "remoteobject.h"
#include "requestpeek.h"
#include "rules/controlchars.h"
#include "rules/textcut.h"
#include "servercounters.h"
#include "serverlog.h"
#include "transport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QNetworkRequest>
#include <QSslSocket>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

#include <QWebSocket>
#include <QWebSocketCorsAuthenticator>
#include <optional>

#include <arpa/inet.h>
#include <climits>
#include <malloc.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

// Qt listens with a short backlog; a burst of clients (a whole office starting at nine) would
// see SYN retries of a second or more. The socket is therefore made here with the kernel's limit.
int OpenListeningSocket(const QHostAddress &address, quint16 port, QString *error) {
    sockaddr_storage storage{};
    socklen_t length = 0;
    int family = 0;
    if (address.protocol() == QAbstractSocket::IPv6Protocol) {
        auto *in6 = reinterpret_cast<sockaddr_in6 *>(&storage);
        in6->sin6_family = AF_INET6;
        in6->sin6_port = htons(port);
        const Q_IPV6ADDR raw = address.toIPv6Address();
        memcpy(&in6->sin6_addr, &raw, sizeof raw);
        family = AF_INET6;
        length = sizeof(sockaddr_in6);
    } else {
        auto *in4 = reinterpret_cast<sockaddr_in *>(&storage);
        in4->sin_family = AF_INET;
        in4->sin_port = htons(port);
        in4->sin_addr.s_addr = htonl(address.toIPv4Address());
        family = AF_INET;
        length = sizeof(sockaddr_in);
    }
    const int fd = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        *error = QString::fromLocal8Bit(strerror(errno));
        return -1;
    }
    const int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    // Accepted sockets inherit this: a reply written as frame header then payload must not wait
    // for the client's delayed acknowledgement (40 ms per large answer otherwise).
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    if (::bind(fd, reinterpret_cast<sockaddr *>(&storage), length) != 0 ||
        ::listen(fd, SOMAXCONN) != 0) {
        *error = QString::fromLocal8Bit(strerror(errno));
        ::close(fd);
        return -1;
    }
    return fd;
}

// The operator as a log line names it: what a token names, or what the client stated, marked.
QString OperatorShown(const Caller &who) {
    if (who.Operator.isEmpty())
        return u"-"_s;
    return ServerLog::Escape(who.Operator, 60) + (who.Verified ? QString() : u" (declarado)"_s);
}

// Said after a refused call's status: who to ask about it.
QString WhoNote(const Caller &who) {
    return u" operador=%1 perfil=%2 de=%3"_s.arg(OperatorShown(who), Roles::Name(who.Access),
                                                 who.Address.isEmpty() ? u"-"_s : who.Address);
}

QString PeerKey(const QHostAddress &address, quint16 port) {
    return address.toString() + u'|' + QString::number(port);
}

constexpr int HandshakeMs = 10000;
const QString HandshakeTimerName = u"handshakeTimer"_s;

// A connection that has not finished its TLS and WebSocket handshakes in time is closed.
void StartHandshakeTimer(QTcpSocket *socket, quint64 *timedOut) {
    auto *timer = new QTimer(socket);
    timer->setObjectName(HandshakeTimerName);
    timer->setSingleShot(true);
    QObject::connect(timer, &QTimer::timeout, socket, [socket, timedOut] {
        if (timedOut)
            ++*timedOut;
        socket->abort();
    });
    timer->start(HandshakeMs);
}

// The WebSocket side's own method names, the objects' methods in full.
QStringList KnownMethods(const QList<RemoteObject *> &objects) {
    QStringList names;
    for (const RemoteObject *object : objects)
        for (const QString &method : object->Methods())
            names.append(object->Name() + u'.' + method);
    return names;
}

void Family(QByteArray &out, const char *name, const char *type, const char *help) {
    out += QByteArray("# HELP ") + name + ' ' + help + "\n# TYPE " + name + ' ' + type + '\n';
}

void Sample(QByteArray &out, const char *name, quint64 value, const QByteArray &labels = {}) {
    out += name;
    if (!labels.isEmpty())
        out += '{' + labels + '}';
    out += ' ' + QByteArray::number(value) + '\n';
}

} // namespace

WsListener::WsListener(QList<RemoteObject *> objects, Settings settings, QObject *parent)
    : QObject(parent)
    , m_settings(std::move(settings))
    , m_dispatcher(objects)
    , m_shortNames(m_settings.ShortCallsHere ? m_dispatcher.QuotedShortMethods() : QStringList())
    , m_server(u"ger-server"_s, QWebSocketServer::NonSecureMode) {
    m_health = std::make_unique<HealthCheck>(m_settings.Health, m_settings.WorkerEnds);
    if (m_settings.Metrics)
        m_calls = std::make_unique<CallMetrics>(KnownMethods(objects));
    // The listener accepts, and makes each connection's TCP or TLS socket itself: it then knows
    // when bytes arrive, logs failed TLS handshakes, and closes so that the peer hears why.
    m_accept.OnIncoming = [this](qintptr descriptor) {
        OnIncoming(descriptor);
    };
    // Every handshake is taken at once, so the pending queue only has to absorb one burst.
    m_server.setMaxPendingConnections(1 << 16);
    const int workers =
        m_settings.Workers > 0 ? m_settings.Workers : qBound(4, QThread::idealThreadCount() * 2, 8);
    // Workers live as long as the listener: each keeps what the objects hold per thread (its
    // database connection) and lets it go itself when it ends, before its owner goes.
    m_pool = std::make_unique<WorkerPool>(workers, m_settings.WorkerEnds);
    connect(&m_server, &QWebSocketServer::newConnection, this, &WsListener::OnNewConnection);
    m_clock.start();
    m_sweep.setInterval(1000);
    connect(&m_sweep, &QTimer::timeout, this, &WsListener::Sweep);
    m_sweep.start();
    // A page in the user's browser may open a WebSocket to any address, the loopback included,
    // and the browser says whose page it is in Origin. Desktop clients send no Origin.
    connect(&m_server, &QWebSocketServer::originAuthenticationRequired, this,
            [this](QWebSocketCorsAuthenticator *authenticator) {
                const bool allowed = OriginAllowed(authenticator->origin());
                authenticator->setAllowed(allowed);
                if (!allowed) {
                    Refused(Refusal::Origin);
                    ServerLog::Write(ServerLog::Level::Warn,
                                     u"handshake recusado: origem %1 não permitida"_s.arg(
                                         ServerLog::Escape(authenticator->origin())));
                }
            });
}

WsListener::~WsListener() {
    Shutdown();
}

bool WsListener::Listen(const QHostAddress &address, quint16 port, QString *error) {
    QString why;
    const int fd = OpenListeningSocket(address, port, &why);
    if (fd < 0 || !m_accept.setSocketDescriptor(fd)) {
        if (fd >= 0)
            ::close(fd);
        if (error)
            *error = u"não foi possível escutar em %1:%2: %3"_s.arg(address.toString())
                         .arg(port)
                         .arg(why.isEmpty() ? m_accept.errorString() : why);
        return false;
    }
    return true;
}

quint16 WsListener::Port() const {
    return m_accept.serverPort();
}

QString WsListener::Url() const {
    const QHostAddress address = m_accept.serverAddress();
    const QString host = address.protocol() == QAbstractSocket::IPv6Protocol
                             ? u"[%1]"_s.arg(address.toString())
                             : address.toString();
    return u"%1://%2:%3"_s.arg(m_settings.Tls ? u"wss"_s : u"ws"_s, host).arg(Port());
}

void WsListener::Shutdown() {
    m_health->SetStopping();
    if (m_accept.isListening())
        m_accept.close();
    m_sweep.stop();
    const QSet<QWebSocket *> sockets = m_sockets;
    m_sockets.clear();
    m_state.clear();
    m_holders.clear();
    m_unfinishedTotal = 0;
    m_queuedTotal = 0;
    for (QWebSocket *socket : sockets) {
        socket->disconnect(this);
        socket->close(QWebSocketProtocol::CloseCodeGoingAway);
        socket->deleteLater();
    }
    m_pool->WaitForDone();
}

qsizetype WsListener::TokenMatches(const QByteArray &header) const {
    // The scheme's name has no case (HTTP says so); the token does. Constant time in the tokens:
    // the time taken must not tell how much of a guess was right, nor which token came close.
    static const QByteArray scheme("bearer ");
    if (header.size() < scheme.size() || header.left(scheme.size()).toLower() != scheme)
        return -1;
    const QByteArray got = header.mid(scheme.size());
    qsizetype found = -1;
    for (qsizetype t = 0; t < m_settings.Tokens.size(); ++t) {
        const QByteArray &expected = m_settings.Tokens.at(t).Secret;
        unsigned char diff = got.size() == expected.size() ? 0 : 1;
        for (qsizetype i = 0; i < expected.size(); ++i) {
            const char c = i < got.size() ? got[i] : '\0';
            diff |= static_cast<unsigned char>(c ^ expected[i]);
        }
        if (diff == 0)
            found = t;
    }
    return found;
}

bool WsListener::OriginAllowed(const QString &origin) const {
    return origin.isEmpty() || m_settings.AllowedOrigins.contains(origin.toLower());
}

void WsListener::OnNewConnection() {
    while (QWebSocket *socket = m_server.nextPendingConnection()) {
        socket->setParent(this);
        socket->setMaxAllowedIncomingMessageSize(MaxMessageBytes);
        socket->setMaxAllowedIncomingFrameSize(MaxMessageBytes);
        socket->setOutgoingFrameSize(1 << 20);

        const qsizetype token = m_settings.Tokens.isEmpty()
                                    ? -1
                                    : TokenMatches(socket->request().rawHeader("Authorization"));
        if (!m_settings.Tokens.isEmpty() && token < 0) {
            // The token names no one; the client's own word is all there is to go on.
            const QByteArray stated = socket->request().rawHeader(OperatorHeader).trimmed();
            ServerLog::Write(ServerLog::Level::Warn,
                             u"conexão de %1 recusada: token inválido%2"_s.arg(
                                 socket->peerAddress().toString(),
                                 stated.isEmpty()
                                     ? QString()
                                     : u" (operador declarado: %1)"_s.arg(
                                           ServerLog::Escape(QString::fromUtf8(stated), 60))));
            Refused(Refusal::Token);
            socket->close(QWebSocketProtocol::CloseCodePolicyViolated, u"token inválido"_s);
            socket->deleteLater();
            continue;
        }

        // A token's name is who calls; without one, the client's word, marked as such.
        Caller who;
        if (token >= 0 && !m_settings.Tokens.at(token).Name.isEmpty()) {
            who = {m_settings.Tokens.at(token).Name, true, Role::Contador, {}};
        } else {
            QString stated = TextCut::Left(
                QString::fromUtf8(socket->request().rawHeader(OperatorHeader)).trimmed(), 60);
            stated.removeIf([](QChar c) { return ControlChars::IsControl(c.unicode()); });
            who = {stated, false, Role::Contador, {}};
        }
        if (token >= 0)
            who.Access = m_settings.Tokens.at(token).Access;
        who.Address = socket->peerAddress().toString();
        // The WebSocket gives up on a frame whose rest takes 5 s, with a close of its own: the
        // listener's message timeout is the rule, so that wait is made longer than it.
        for (QTimer *wait : socket->findChildren<QTimer *>()) {
            if (wait->parent() != socket)
                wait->setInterval(int(qMin<qint64>(m_settings.MessageTimeoutMs + 5000, INT_MAX)));
        }
        QTcpSocket *transport = TransportOf(socket);
        ++m_accepted;
        Connection state;
        state.Transport = transport;
        state.LastActivityMs = state.LastDrainMs = m_clock.elapsed();
        state.Who = who;
        m_sockets.insert(socket);
        m_state.insert(socket, std::move(state));
        connect(socket, &QWebSocket::textMessageReceived, this,
                [this, socket](const QString &text) { OnText(socket, text); });
        // Held as text, two bytes a character, until the message is whole.
        const auto frame = [this, socket](qint64 size, bool last) {
            const auto found = m_state.find(socket);
            if (found != m_state.end())
                found->FrameBytes = last ? 0 : found->FrameBytes + size;
        };
        connect(socket, &QWebSocket::textFrameReceived, this,
                [frame](const QString &text, bool last) { frame(2 * text.size(), last); });
        connect(socket, &QWebSocket::binaryFrameReceived, this,
                [frame](const QByteArray &data, bool last) { frame(data.size(), last); });
        connect(socket, &QWebSocket::binaryMessageReceived, this,
                [this, socket](const QByteArray &) { OnBinary(socket); });
        const QString peer = socket->peerAddress().toString();
        connect(socket, &QWebSocket::disconnected, this, [this, socket, peer] {
            // The WebSocket itself closes on a message over the limit; say so, as for the
            // closes this listener decides.
            if (socket->closeCode() == QWebSocketProtocol::CloseCodeTooMuchData) {
                ++m_closed[int(Closing::MessageTooLarge)];
                ServerLog::Write(ServerLog::Level::Warn,
                                 u"conexão de %1 fechada: mensagem acima de %2 MiB"_s.arg(peer).arg(
                                     MaxMessageBytes / (1024 * 1024)));
            }
            m_sockets.remove(socket);
            Forget(socket);
            socket->deleteLater();
        });
        // The transport below the WebSocket tells when bytes arrive; connected after the
        // WebSocket's own reader, this runs once that reader has taken what was complete.
        if (transport) {
            delete transport->findChild<QTimer *>(HandshakeTimerName);
            connect(transport, &QTcpSocket::readyRead, this, [this, socket] { OnBytes(socket); });
            connect(transport, &QTcpSocket::bytesWritten, this,
                    [this, socket] { OnWritten(socket); });
        }
        ServerLog::Write(ServerLog::Level::Debug,
                         u"conexão de %1"_s.arg(socket->peerAddress().toString()));
    }
}

void WsListener::OnIncoming(qintptr descriptor) {
    if (!m_settings.Tls) {
        auto *tcp = new DrainingTcpSocket(this);
        if (!tcp->setSocketDescriptor(descriptor)) {
            delete tcp;
            return;
        }
        StartHandshakeTimer(tcp, &m_refused[int(Refusal::HandshakeTimeout)]);
        Adopt(tcp);
        return;
    }
    auto *tls = new QSslSocket(this);
    if (!tls->setSocketDescriptor(descriptor)) {
        delete tls;
        return;
    }
    StartHandshakeTimer(tls, &m_refused[int(Refusal::HandshakeTimeout)]);
    tls->setSslConfiguration(*m_settings.Tls);
    const QString peer = tls->peerAddress().toString();
    connect(tls, &QSslSocket::encrypted, this, [this, tls] { Adopt(tls); });
    connect(tls, &QSslSocket::errorOccurred, this, [this, tls, peer](QAbstractSocket::SocketError) {
        if (tls->isEncrypted())
            return; // the WebSocket's own business from here on
        Refused(Refusal::Tls);
        ServerLog::Write(ServerLog::Level::Warn, u"handshake TLS de %1 falhou: %2"_s.arg(
                                                     peer, ServerLog::Escape(tls->errorString())));
        tls->abort();
        tls->deleteLater();
    });
    connect(tls, &QSslSocket::disconnected, tls, [tls] {
        if (!tls->isEncrypted())
            tls->deleteLater();
    });
    tls->startServerEncryption();
}

void WsListener::Adopt(QTcpSocket *transport) {
    const QString key = PeerKey(transport->peerAddress(), transport->peerPort());
    m_transports.insert(key, transport);
    connect(transport, &QObject::destroyed, this, [this, key, transport] {
        if (m_transports.value(key) == transport)
            m_transports.remove(key);
    });
    m_bytes.Watch(transport);
    m_heads.insert(transport, 0);
    connect(transport, &QObject::destroyed, this, [this, transport] { m_heads.remove(transport); });
    // Until the WebSocket server has it, a transport that goes is this listener's to delete.
    connect(transport, &QTcpSocket::disconnected, this, [this, transport] {
        if (m_heads.remove(transport))
            transport->deleteLater();
    });
    connect(transport, &QTcpSocket::readyRead, this, [this, transport] { ReadHead(transport); });
    if (transport->bytesAvailable() > 0)
        ReadHead(transport);
}

void WsListener::ReadHead(QTcpSocket *transport) {
    const auto found = m_heads.find(transport);
    if (found == m_heads.end())
        return;
    // Peeked, not read: the WebSocket server reads the handshake itself. Only what arrived since
    // the last look is searched, and never more than the bound is looked at.
    const QByteArray bytes =
        transport->peek(qMin<qint64>(transport->bytesAvailable(), HttpHead::MaxBytes));
    const qsizetype end = HttpHead::End(bytes, *found - 3);
    if (end < 0) {
        *found = bytes.size();
        if (bytes.size() < HttpHead::MaxBytes)
            return;
        m_heads.erase(found);
        disconnect(transport, &QTcpSocket::readyRead, this, nullptr);
        Refused(Refusal::HeadTooLarge);
        ServerLog::Write(ServerLog::Level::Warn,
                         u"conexão de %1 fechada: cabeçalho do pedido acima de %2 KiB"_s
                             .arg(transport->peerAddress().toString())
                             .arg(HttpHead::MaxBytes / 1024));
        AnswerPlain(transport, HttpHead::Answer(431, "text/plain; charset=utf-8",
                                                "Cabeçalho do pedido grande demais.\n"));
        return;
    }
    m_heads.erase(found);
    disconnect(transport, &QTcpSocket::readyRead, this, nullptr);
    const HttpHead head = HttpHead::Parse(QByteArrayView(bytes).first(end));
    if (head.WebSocket && head.Authorizations > 1) {
        // Which one would count? The last, as a header map keeps it: a proxy that adds its own
        // would then pick the role unseen. Neither is taken.
        Refused(Refusal::Token);
        ServerLog::Write(ServerLog::Level::Warn,
                         u"conexão de %1 recusada: %2 cabeçalhos Authorization; envie um só"_s
                             .arg(transport->peerAddress().toString())
                             .arg(head.Authorizations));
        AnswerPlain(transport,
                    HttpHead::Answer(400, "text/plain; charset=utf-8",
                                     "Mais de um cabeçalho Authorization: envie um só.\n"));
        return;
    }
    if (head.WebSocket) {
        // The WebSocket server reads the handshake, upgrades, and deletes the socket once it is
        // disconnected.
        m_server.handleConnection(transport);
        return;
    }
    transport->read(end);
    ServePlain(transport, head);
}

void WsListener::ServePlain(QTcpSocket *transport, const HttpHead &head) {
    ServerLog::Write(
        ServerLog::Level::Debug,
        u"pedido HTTP de %1: %2"_s.arg(transport->peerAddress().toString(), head.Shown()));
    constexpr char Text[] = "text/plain; charset=utf-8";
    const bool bodyless = head.Method == "HEAD";
    const bool readable = head.Method == "GET" || bodyless;
    if (head.Valid && head.Path == "/health" && readable) {
        QPointer<QTcpSocket> guard(transport);
        m_health->Ask([this, guard, bodyless](const HealthCheck::Answer &answer) {
            ++m_healthAnswers[answer.Status == 200 ? 0 : 1];
            if (guard)
                AnswerPlain(guard, HttpHead::Answer(answer.Status, "application/json",
                                                    answer.Body + '\n', !bodyless));
        });
        return;
    }
    ++m_plainAnswers;
    if (!head.Valid)
        AnswerPlain(transport, HttpHead::Answer(400, Text, "Pedido HTTP inválido.\n"));
    else if (head.Path == "/health")
        AnswerPlain(transport,
                    HttpHead::Answer(405, Text, "Use GET.\n", true, "Allow: GET, HEAD\r\n"));
    else if (head.Path == "/" && readable)
        AnswerPlain(transport,
                    HttpHead::Answer(400, Text,
                                     "Este endereço atende WebSocket (JSON-RPC); a verificação "
                                     "de saúde está em /health.\n",
                                     !bodyless));
    else
        AnswerPlain(transport, HttpHead::Answer(404, Text, "Não encontrado.\n", !bodyless));
}

void WsListener::AnswerPlain(QTcpSocket *transport, const QByteArray &answer) {
    // Done with its handshake: a peer that keeps the connection open after the answer is let go
    // all the same, without counting as a handshake that timed out.
    delete transport->findChild<QTimer *>(HandshakeTimerName);
    StartHandshakeTimer(transport, nullptr);
    connect(transport, &QTcpSocket::disconnected, transport, &QObject::deleteLater);
    transport->write(answer);
    transport->disconnectFromHost();
}

void WsListener::BeginStop() {
    m_health->SetStopping();
}

bool WsListener::HealthAskedWithin(qint64 ms) const {
    return m_health->AskedWithin(ms);
}

QByteArray WsListener::MetricsText() const {
    QByteArray out;
    out.reserve(64 * 1024);
    Family(out, "ger_build_info", "gauge", "The server's version, as a label.");
    Sample(out, "ger_build_info", 1,
           "version=\"" + QCoreApplication::applicationVersion().toUtf8() + '"');
    if (m_calls)
        m_calls->Render(out);
    Family(out, "ger_connections_open", "gauge", "WebSocket connections open.");
    Sample(out, "ger_connections_open", quint64(m_sockets.size()));
    Family(out, "ger_connections_accepted_total", "counter",
           "WebSocket connections accepted, their handshakes done.");
    Sample(out, "ger_connections_accepted_total", m_accepted);
    Family(out, "ger_connections_refused_total", "counter",
           "Connections refused before they were served, by reason.");
    static constexpr const char *RefusalNames[] = {"token", "origin", "tls", "handshake_timeout",
                                                   "head_too_large"};
    static_assert(std::size(RefusalNames) == size_t(Refusal::Count));
    for (int i = 0; i < int(Refusal::Count); ++i)
        Sample(out, "ger_connections_refused_total", m_refused[i],
               QByteArray("reason=\"") + RefusalNames[i] + '"');
    Family(out, "ger_connections_closed_total", "counter",
           "Connections the server closed for its limits, by reason.");
    static constexpr const char *ClosingNames[] = {"idle", "message_timeout", "message_too_large",
                                                   "server_full"};
    static_assert(std::size(ClosingNames) == size_t(Closing::Count));
    for (int i = 0; i < int(Closing::Count); ++i)
        Sample(out, "ger_connections_closed_total", m_closed[i],
               QByteArray("reason=\"") + ClosingNames[i] + '"');
    Family(out, "ger_unread_resets_total", "counter",
           "Connections reset because their client left answers unread past the limits.");
    Sample(out, "ger_unread_resets_total", m_unreadResets);
    const ByteMeter::Bytes bytes = m_bytes.Total();
    Family(out, "ger_received_bytes_total", "counter",
           "Bytes received on the server's port, handshakes and TLS included.");
    Sample(out, "ger_received_bytes_total", bytes.In);
    Family(out, "ger_sent_bytes_total", "counter",
           "Bytes sent on the server's port, handshakes and TLS included.");
    Sample(out, "ger_sent_bytes_total", bytes.Out);
    Family(out, "ger_health_answers_total", "counter", "Answers to GET /health, by status.");
    Sample(out, "ger_health_answers_total", m_healthAnswers[0], "code=\"200\"");
    Sample(out, "ger_health_answers_total", m_healthAnswers[1], "code=\"503\"");
    Family(out, "ger_http_other_requests_total", "counter",
           "Plain HTTP requests on the server's port for anything but /health.");
    Sample(out, "ger_http_other_requests_total", m_plainAnswers);
    Family(out, "ger_worker_queue_length", "gauge", "Calls waiting for a worker thread.");
    Sample(out, "ger_worker_queue_length", quint64(qMax(0, m_pool->Queued())));
    Family(out, "ger_database_errors_total", "counter",
           "Database failures, by kind: a failed statement, no connection, a connection lost.");
    Sample(out, "ger_database_errors_total",
           ServerCounters::Value(ServerCounters::DatabaseError::Failure), "kind=\"failure\"");
    Sample(out, "ger_database_errors_total",
           ServerCounters::Value(ServerCounters::DatabaseError::Unreachable),
           "kind=\"unreachable\"");
    Sample(out, "ger_database_errors_total",
           ServerCounters::Value(ServerCounters::DatabaseError::Lost), "kind=\"lost\"");
    Family(out, "ger_gate_kept_hits_total", "counter",
           "Period gate calls answered from the kept copy of the periods.");
    Sample(out, "ger_gate_kept_hits_total", ServerCounters::Value(ServerCounters::Gate::KeptHit));
    Family(out, "ger_gate_kept_reloads_total", "counter",
           "Reads of the periods into the gate's kept copy.");
    Sample(out, "ger_gate_kept_reloads_total",
           ServerCounters::Value(ServerCounters::Gate::KeptReload));
    Family(out, "ger_gate_direct_reads_total", "counter",
           "Period gate calls that read the database for themselves, no copy being kept.");
    Sample(out, "ger_gate_direct_reads_total",
           ServerCounters::Value(ServerCounters::Gate::DirectRead));
    Family(out, "ger_gate_hearing", "gauge",
           "1 while the period gate hears other programs' changes (PostgreSQL LISTEN).");
    Sample(out, "ger_gate_hearing", m_settings.GateHearing && m_settings.GateHearing() ? 1 : 0);
    return out;
}

QTcpSocket *WsListener::TransportOf(const QWebSocket *socket) {
    return m_transports.value(PeerKey(socket->peerAddress(), socket->peerPort()));
}

int WsListener::MaxCallsInFlight() const {
    return CallsInFlightPerConnection;
}

void WsListener::OnBytes(QWebSocket *socket) {
    const auto found = m_state.find(socket);
    if (found == m_state.end())
        return;
    Connection &c = *found;
    c.LastActivityMs = m_clock.elapsed();
    // The WebSocket has taken every complete frame: what the transport still holds is the
    // frame under way, and the complete frames of an unfinished message are counted apart.
    const qint64 pending = c.FrameBytes + (c.Transport ? c.Transport->bytesAvailable() : 0);
    const bool completed = c.Completed != c.SeenCompleted;
    c.SeenCompleted = c.Completed;
    if (pending == 0) {
        ClearPartial(socket, c);
        return;
    }
    // A message that began in the same read as the last one ended starts its clock now;
    // bytes trickling in never restart it.
    if (c.PartialSinceMs < 0 || completed)
        c.PartialSinceMs = c.LastActivityMs;
    SetUnfinished(socket, c, pending);
    while (m_unfinishedTotal > MaxUnfinishedBytes && !m_holders.empty()) {
        // 1013, "try again later", which this Qt does not name.
        ++m_closed[int(Closing::ServerFull)];
        Drop(m_holders.rbegin()->second, QWebSocketProtocol::CloseCode(1013),
             u"servidor ocupado recebendo outras mensagens; tente novamente"_s,
             u"mensagem inacabada entre as maiores com o servidor cheio"_s);
    }
}

void WsListener::SetUnfinished(QWebSocket *socket, Connection &c, qint64 bytes) {
    const qint64 before = c.Unfinished;
    c.Unfinished = bytes;
    if (before == bytes)
        return;
    if (before > 0)
        m_holders.erase({before, socket});
    if (bytes > 0)
        m_holders.insert({bytes, socket});
    m_unfinishedTotal += bytes - before;
}

void WsListener::ClearPartial(QWebSocket *socket, Connection &c) {
    c.PartialSinceMs = -1;
    c.FrameBytes = 0;
    SetUnfinished(socket, c, 0);
}

void WsListener::SyncQueued(Connection &c) {
    const qint64 now = c.Transport ? c.Transport->bytesToWrite() : 0;
    if (now < c.Queued)
        m_freedSinceTrim += c.Queued - now;
    if (now < c.Queued || now == 0)
        c.LastDrainMs = m_clock.elapsed();
    m_queuedTotal += now - c.Queued;
    c.Queued = now;
}

void WsListener::ShedQueued() {
    // Rare, and each pass lets one connection go: a scan for the largest is cheap enough. A
    // client still taking its answers, if only after a pause, is let go only when those that
    // take nothing are not enough.
    while (m_queuedTotal > MaxQueuedRepliesTotal) {
        const qint64 now = m_clock.elapsed();
        QWebSocket *largest = nullptr;
        qint64 most = 0;
        bool stalled = false;
        for (auto it = m_state.cbegin(); it != m_state.cend(); ++it) {
            if (it->Queued == 0)
                continue;
            const bool idle = now - it->LastDrainMs >= StalledMs;
            if ((idle && !stalled) || (idle == stalled && it->Queued > most)) {
                most = it->Queued;
                largest = it.key();
                stalled = idle;
            }
        }
        if (!largest)
            return;
        Abort(largest, u"%1 bytes de respostas não lidos com o limite de todos os clientes "
                       "atingido"_s.arg(most));
    }
}

void WsListener::OnWritten(QWebSocket *socket) {
    const auto found = m_state.find(socket);
    if (found == m_state.end())
        return;
    SyncQueued(*found);
    for (;;) {
        // A call run here may have let the connection go.
        const auto state = m_state.find(socket);
        if (state == m_state.end())
            return;
        Connection &c = *state;
        if (c.Queued >= ReadBehindBytes || c.Deferred.empty())
            return;
        auto [text, clock] = std::move(c.Deferred.front());
        c.Deferred.pop_front();
        const qint64 held = 2 * text.size();
        c.DeferredBytes -= held;
        Run(socket, c.Who, text, std::nullopt, clock, held);
    }
}

void WsListener::Forget(QWebSocket *socket) {
    const auto found = m_state.find(socket);
    if (found == m_state.end())
        return;
    ClearPartial(socket, *found);
    m_queuedTotal -= found->Queued;
    // Calls held back die with the connection; those under way count until they finish.
    m_callsTotal -= found->DeferredBytes;
    m_freedSinceTrim += found->Queued + found->Unfinished + found->DeferredBytes + 64 * 1024;
    m_state.erase(found);
}

void WsListener::Drop(QWebSocket *socket, QWebSocketProtocol::CloseCode code, const QString &reason,
                      const QString &logged) {
    ServerLog::Write(ServerLog::Level::Warn,
                     u"conexão de %1 fechada: %2"_s.arg(socket->peerAddress().toString(), logged));
    Forget(socket);
    m_sockets.remove(socket);
    socket->disconnect(this);
    socket->close(code, reason);
    socket->deleteLater();
}

void WsListener::Abort(QWebSocket *socket, const QString &logged) {
    ++m_unreadResets;
    ServerLog::Write(ServerLog::Level::Warn,
                     u"conexão de %1 fechada: %2"_s.arg(socket->peerAddress().toString(), logged));
    // A reset rather than an orderly end: the kernel drops what the client left unread at once,
    // instead of holding it until the client reads or the connection times out.
    const auto found = m_state.constFind(socket);
    if (found != m_state.cend() && found->Transport) {
        const linger now{1, 0};
        ::setsockopt(int(found->Transport->socketDescriptor()), SOL_SOCKET, SO_LINGER, &now,
                     sizeof now);
    }
    Forget(socket);
    m_sockets.remove(socket);
    socket->disconnect(this);
    socket->abort();
    socket->deleteLater();
}

void WsListener::Sweep() {
    // What closed connections and read answers freed goes back to the system once it is worth
    // it: after a burst the heap would otherwise stay at its peak.
    if (m_freedSinceTrim >= 16 * 1024 * 1024) {
        m_freedSinceTrim = 0;
        ::malloc_trim(0);
    }
    const qint64 now = m_clock.elapsed();
    QList<std::pair<QWebSocket *, bool>> late; // socket, idle (else an unfinished message)
    for (auto it = m_state.cbegin(); it != m_state.cend(); ++it) {
        const Connection &c = it.value();
        if (c.PartialSinceMs >= 0 && now - c.PartialSinceMs > m_settings.MessageTimeoutMs)
            late.append({it.key(), false});
        else if (m_settings.IdleTimeoutMs > 0 && c.InFlight == 0 &&
                 now - c.LastActivityMs > m_settings.IdleTimeoutMs)
            late.append({it.key(), true});
    }
    for (const auto &[socket, idle] : late) {
        ++m_closed[int(idle ? Closing::Idle : Closing::MessageTimeout)];
        if (idle)
            Drop(socket, QWebSocketProtocol::CloseCodeNormal, u"conexão ociosa"_s, u"ociosa"_s);
        else
            Drop(socket, QWebSocketProtocol::CloseCodePolicyViolated,
                 u"mensagem incompleta por tempo demais"_s, u"mensagem não terminada a tempo"_s);
    }
}

void WsListener::OnBinary(QWebSocket *socket) {
    socket->sendTextMessage(QString::fromUtf8(JsonRpc::EncodeError(
        QJsonValue(), JsonRpc::InvalidRequest,
        u"Mensagens binárias não são aceitas; envie a requisição como texto JSON."_s)));
    ServerLog::Write(ServerLog::Level::Warn, u"mensagem binária recusada"_s);
}

void WsListener::OnText(QWebSocket *socket, const QString &text) {
    QElapsedTimer clock;
    clock.start();
    const auto found = m_state.find(socket);
    if (found == m_state.end())
        return; // already dropped
    Connection &connection = *found;
    ++connection.Completed;
    connection.LastActivityMs = m_clock.elapsed();
    // A client that sends without reading the answers would have them pile up here.
    SyncQueued(connection);
    if (connection.Queued > MaxQueuedReplyBytes) {
        Abort(socket, u"%1 bytes de respostas não lidos"_s.arg(connection.Queued));
        return;
    }

    // The I/O thread mostly moves bytes: a call is decoded, run and encoded on a worker. Small
    // messages that may be the transport's ping, and short calls where the database is a file,
    // are the exception, answered here without a thread hop.
    const bool mayBePing = text.size() <= 256 && text.contains(u"\"ping\""_s);
    const bool over = connection.InFlight >= MaxCallsInFlight();
    if (!mayBePing && !over && AdmitCall(2 * text.size())) {
        Start(socket, text, std::nullopt, clock);
        return;
    }
    if (!m_state.contains(socket))
        return; // let go to make room: it was not reading

    JsonRpc::Request request;
    if (mayBePing) {
        JsonRpc::Error fault;
        QJsonValue id;
        if (!JsonRpc::DecodeRequest(text.toUtf8(), request, &fault, &id)) {
            Deliver(socket, u"-"_s, RpcDispatcher::Fault(id, fault.Code, fault.Message, false),
                    clock.nsecsElapsed());
            return;
        }
    } else {
        // Refused unread: a flood of calls over the limit must not cost the thread that
        // serves every connection more than a glance at each.
        const RequestPeek peek = RequestPeek::Read(text);
        request.Id = peek.Id;
        request.Method = peek.Method;
    }

    if (request.Method == u"ping"_s) {
        Deliver(socket, request.Method, Pong(request), clock.nsecsElapsed());
        return;
    }

    if (over) {
        Deliver(socket, request.Method.isEmpty() ? u"-"_s : request.Method,
                RpcDispatcher::Fault(
                    request.Id, JsonRpc::TooManyCalls,
                    u"Chamadas demais em andamento nesta conexão (no máximo %1): aguarde as "
                    "respostas antes de enviar outras."_s.arg(MaxCallsInFlight()),
                    request.IsNotification()),
                clock.nsecsElapsed());
        return;
    }
    if (!mayBePing || !AdmitCall(2 * text.size())) {
        if (m_state.contains(socket))
            Deliver(socket, request.Method.isEmpty() ? u"-"_s : request.Method,
                    RpcDispatcher::Fault(request.Id, JsonRpc::TooManyCalls,
                                         u"Servidor ocupado com as chamadas de outros clientes: "
                                         "tente novamente em instantes."_s,
                                         request.IsNotification()),
                    clock.nsecsElapsed());
        return;
    }
    Start(socket, text, request, clock);
}

bool WsListener::AdmitCall(qint64 held) {
    while (m_callsTotal + held > MaxCallBytesTotal) {
        QWebSocket *largest = nullptr;
        qint64 most = 0;
        for (auto it = m_state.cbegin(); it != m_state.cend(); ++it) {
            if (it->DeferredBytes > most) {
                most = it->DeferredBytes;
                largest = it.key();
            }
        }
        if (!largest)
            return false;
        Abort(largest, u"%1 bytes de chamadas à espera de respostas não lidas com o limite de "
                       "todos os clientes atingido"_s.arg(most));
    }
    m_callsTotal += held;
    return true;
}

void WsListener::Start(QWebSocket *socket, const QString &text,
                       std::optional<JsonRpc::Request> decoded, const QElapsedTimer &clock) {
    const auto found = m_state.find(socket);
    const qint64 held = 2 * text.size();
    if (found == m_state.end()) {
        m_callsTotal -= held;
        return;
    }
    Connection &c = *found;
    ++c.InFlight;
    if (c.Queued < ReadBehindBytes && c.Deferred.empty()) {
        Run(socket, c.Who, decoded ? QString() : text, std::move(decoded), clock, held);
        return;
    }
    // Its answers wait unread: the call waits too, until the client reads.
    c.DeferredBytes += held;
    c.Deferred.emplace_back(text, clock);
}

RpcDispatcher::Outcome WsListener::Pong(const JsonRpc::Request &request) {
    RpcDispatcher::Outcome pong;
    if (!request.IsNotification())
        pong.Reply =
            JsonRpc::EncodeResult(request.Id, TResultEnvelope::Success(u"pong"_s).ToJson());
    pong.Status = u"ok"_s;
    return pong;
}

WsListener::Ran WsListener::RunCall(const Caller &who, const QString &text,
                                    std::optional<JsonRpc::Request> given) const {
    RpcDispatcher::Outcome outcome;
    QString method = u"-"_s;
    JsonRpc::Request request;
    JsonRpc::Error fault;
    QJsonValue id;
    if (given) {
        request = std::move(*given);
    } else if (!JsonRpc::DecodeRequest(text.toUtf8(), request, &fault, &id)) {
        // Too big to parse is not too big to glance at: the client still gets its id.
        if (fault.Unparsed) {
            const QJsonValue peeked = RequestPeek::Read(text).Id;
            id = peeked.isUndefined() ? QJsonValue::Null : peeked;
        }
        outcome = RpcDispatcher::Fault(id, fault.Code, fault.Message, false);
        request.Method.clear();
    }
    if (!request.Method.isEmpty()) {
        method = request.Method;
        const RpcDispatcher::Target target = m_dispatcher.Resolve(request.Method);
        if (request.Method == u"ping"_s) {
            outcome = Pong(request);
        } else if (!target.Object) {
            outcome = RpcDispatcher::Fault(request.Id, JsonRpc::MethodNotFound,
                                           u"Método desconhecido: %1"_s.arg(request.Method),
                                           request.IsNotification());
        } else if (!Roles::Allows(who.Access, target.Object->ClassOf(target.Method))) {
            // Refused before the object sees the call: nothing is read or written for it.
            outcome = RpcDispatcher::Refuse(
                request, u"forbidden"_s, Roles::Refusal(who.Access, who.Operator, request.Method));
        } else {
            CallerContext::Set(who);
            outcome = RpcDispatcher::Execute(target, request);
            CallerContext::Set({});
        }
    }
    // An audit of refused calls needs who tried, not only what.
    if (outcome.Status != u"ok"_s && outcome.LogNote.isEmpty())
        outcome.LogNote = WhoNote(who);
    return {std::move(method), std::move(outcome)};
}

bool WsListener::IsShort(const JsonRpc::Request &request) const {
    const RpcDispatcher::Target target = m_dispatcher.Resolve(request.Method);
    return target.Object && target.Object->Short(target.Method);
}

void WsListener::Run(QWebSocket *socket, const Caller &who, const QString &text,
                     std::optional<JsonRpc::Request> decoded, QElapsedTimer clock, qint64 held) {
    if (!decoded && text.size() <= ShortCallChars &&
        std::any_of(m_shortNames.cbegin(), m_shortNames.cend(),
                    [&text](const QString &name) { return text.contains(name); })) {
        // Read here to learn what it asks: a small text costs a microsecond or two. Any other
        // call is read on a worker, so that this thread, which serves every connection, only
        // glances at it.
        JsonRpc::Request request;
        if (JsonRpc::DecodeRequest(text.toUtf8(), request, nullptr, nullptr))
            decoded = std::move(request);
    }
    if (!m_settings.ShortCallsHere || !decoded || !IsShort(*decoded)) {
        RunOnWorker(socket, who, decoded ? QString() : text, std::move(decoded), clock, held);
        return;
    }
    Ran ran = RunCall(who, QString(), std::move(decoded));
    Complete({socket, std::move(ran.Method), std::move(ran.Outcome), clock.nsecsElapsed(), held});
}

void WsListener::RunOnWorker(QWebSocket *socket, const Caller &who, const QString &text,
                             std::optional<JsonRpc::Request> given, QElapsedTimer clock,
                             qint64 held) {
    QPointer<QWebSocket> guard(socket);
    m_pool->Start([this, guard, text, given = std::move(given), clock, who, held]() mutable {
        Ran ran = RunCall(who, text, std::move(given));
        Finished done{guard, std::move(ran.Method), std::move(ran.Outcome), clock.nsecsElapsed(),
                      held};
        bool first = false;
        {
            std::lock_guard lock(m_finishedLock);
            first = m_finished.empty();
            m_finished.push_back(std::move(done));
        }
        // Only the first answer of a batch wakes the I/O thread; the rest ride along.
        if (first)
            QMetaObject::invokeMethod(this, &WsListener::DeliverFinished, Qt::QueuedConnection);
    });
}

void WsListener::DeliverFinished() {
    std::vector<Finished> batch;
    {
        std::lock_guard lock(m_finishedLock);
        batch.swap(m_finished);
    }
    for (const Finished &done : batch)
        Complete(done);
}

void WsListener::Complete(const Finished &done) {
    m_callsTotal -= done.Held;
    // What the call took, twice its text and its answer at least, is free once the answer is out.
    m_freedSinceTrim += 2 * done.Held + 2 * done.Outcome.Reply.size();
    if (done.Socket) {
        const auto state = m_state.find(done.Socket.data());
        if (state != m_state.end()) {
            --state->InFlight;
            state->LastActivityMs = m_clock.elapsed();
        }
    }
    Deliver(done.Socket, done.Method, done.Outcome, done.ElapsedNs);
}

void WsListener::SendText(QWebSocket *socket, const QByteArray &utf8) {
    const auto state = m_state.constFind(socket);
    QTcpSocket *transport = state != m_state.cend() ? state->Transport.data() : nullptr;
    if (!transport || !socket->isValid()) {
        // The WebSocket's own way, through a text it converts back to UTF-8.
        socket->sendTextMessage(QString::fromUtf8(utf8));
        return;
    }
    // Frames as the WebSocket makes them (a megabyte each, unmasked from a server), written
    // straight from the encoder's bytes: no round trip through a UTF-16 copy of the answer.
    // The WebSocket writes its own frames (pongs, the close) whole on this same thread, so
    // frames never interleave.
    constexpr qsizetype FrameBytes = 1 << 20;
    qsizetype offset = 0;
    do {
        const qsizetype size = qMin(FrameBytes, utf8.size() - offset);
        const bool last = offset + size == utf8.size();
        char head[10];
        int headSize = 2;
        head[0] = char((last ? 0x80 : 0x00) | (offset == 0 ? 0x1 : 0x0));
        if (size < 126) {
            head[1] = char(size);
        } else if (size <= 0xFFFF) {
            head[1] = char(126);
            head[2] = char(size >> 8);
            head[3] = char(size & 0xFF);
            headSize = 4;
        } else {
            head[1] = char(127);
            for (int i = 0; i < 8; ++i)
                head[2 + i] = char((quint64(size) >> (8 * (7 - i))) & 0xFF);
            headSize = 10;
        }
        transport->write(head, headSize);
        transport->write(utf8.constData() + offset, size);
        offset += size;
    } while (offset < utf8.size());
}

void WsListener::Deliver(const QPointer<QWebSocket> &socket, const QString &method,
                         const RpcDispatcher::Outcome &outcome, qint64 elapsedNs) {
    if (m_calls)
        m_calls->Record(method, outcome.Status, elapsedNs);
    const bool alive = socket && m_sockets.contains(socket.data());
    if (alive && !outcome.Reply.isEmpty())
        SendText(socket.data(), outcome.Reply);
    if (alive) {
        const auto state = m_state.find(socket.data());
        if (state != m_state.end())
            SyncQueued(*state);
        ShedQueued();
    }

    // Pings are the measuring stick of the benchmarks; logging each one would distort them.
    // A refused call is worth an operator's look at any level but error.
    const auto level = outcome.Status != u"ok"_s ? ServerLog::Level::Warn
                       : method == u"ping"_s     ? ServerLog::Level::Debug
                                                 : ServerLog::Level::Info;
    if (!ServerLog::Enabled(level))
        return;
    // Refused on this thread (over a limit, unreadable): the worker did not name the caller.
    QString note = outcome.LogNote;
    if (note.isEmpty() && level == ServerLog::Level::Warn && alive) {
        const auto state = m_state.constFind(socket.data());
        if (state != m_state.cend())
            note = WhoNote(state->Who);
    }
    // The method and the company come from the client.
    ServerLog::Write(level,
                     u"chamada %1 empresa=%2 %3 ms %4%5%6"_s.arg(
                         ServerLog::Escape(method),
                         outcome.Company.isEmpty() ? u"-"_s : ServerLog::Escape(outcome.Company),
                         QString::number(elapsedNs / 1e6, 'f', 1), outcome.Status, note,
                         alive ? QString() : u" (cliente saiu)"_s));
}
