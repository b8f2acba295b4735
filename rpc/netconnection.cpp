#include "netconnection.h"

#include "exceptions.h"
#include "jsonnode.h"
#include "jsonrpcmessage.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QJsonObject>
#include <QNetworkRequest>
#include <QSslError>
#include <QSslSocket>
#include <QThread>
#include <QTimer>
#include <QUrl>
#include <QWebSocket>

using namespace Qt::StringLiterals;

namespace {

// A ws:// handshake with a server that speaks TLS ends in a bare close (the server took the
// HTTP request for a broken TLS record), which says nothing about the cause. A TLS handshake
// of our own, after that failure only, tells the address that would have worked.
bool SpeaksTls(const QString &host, quint16 port, int timeoutMs) {
    QSslSocket probe;
    probe.setPeerVerifyMode(QSslSocket::VerifyNone);
    QEventLoop loop;
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    QObject::connect(&probe, &QSslSocket::encrypted, &loop, &QEventLoop::quit);
    QObject::connect(&probe, &QSslSocket::errorOccurred, &loop, &QEventLoop::quit);
    probe.connectToHostEncrypted(host, port);
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    const bool tls = probe.isEncrypted();
    probe.abort();
    return tls;
}

} // namespace

TNetConnection::TNetConnection(QObject *parent)
    : QObject(parent) {}

TNetConnection::~TNetConnection() {
    DropSocket();
}

bool TNetConnection::Connected() const {
    return m_socket && m_socket->state() == QAbstractSocket::ConnectedState;
}

QString TNetConnection::Address() const {
    return u"%1:%2"_s.arg(m_host).arg(m_port);
}

QString TNetConnection::TimeoutText() const {
    const QString amount = m_timeoutMs % 1000 == 0
                               ? QString::number(m_timeoutMs / 1000)
                               : QString::number(m_timeoutMs / 1000.0, 'f', 1).replace(u'.', u',');
    const QString unit = m_timeoutMs == 1000 ? u"segundo"_s : u"segundos"_s;
    return u"O servidor de aplicação não respondeu em %1 %2."_s.arg(amount, unit);
}

QString TNetConnection::DroppedText() const {
    if (m_closeCode == 1008) {
        const QString reason = m_closeReason.isEmpty() ? u"acesso negado"_s : m_closeReason;
        return u"O servidor de aplicação recusou a conexão: %1."_s.arg(reason);
    }
    // Either side closes for too much data: the server for a request above its limit, this
    // socket for a reply above the same limit.
    if (m_closeCode == 1009 && m_lastRequestBytes > TJsonNode::MaxBytes)
        return u"A requisição excedeu o tamanho máximo aceito pelo servidor de aplicação."_s;
    if (m_closeCode == 1009)
        return u"Resposta inválida do servidor de aplicação: resposta acima de 16 MiB."_s;
    return u"A conexão com o servidor de aplicação foi interrompida."_s;
}

namespace {

// A refusal that came without words still has to tell the user something: an empty message box
// reads as success.
QString RefusalText(const QString &message, const QString &code) {
    if (!message.trimmed().isEmpty())
        return message;
    return u"O servidor de aplicação recusou a chamada sem dizer o motivo (código %1)."_s.arg(
        code.isEmpty() ? u"não informado"_s : code);
}

// Why a certificate is not trusted, in the user's words; the rest say only that it is not.
QString TlsFaultText(const QList<QSslError> &errors) {
    for (const QSslError &e : errors) {
        switch (e.error()) {
        case QSslError::CertificateExpired:
            return u"o certificado expirou"_s;
        case QSslError::CertificateNotYetValid:
            return u"o certificado ainda não é válido"_s;
        case QSslError::HostNameMismatch:
            return u"o certificado é de outro endereço"_s;
        case QSslError::SelfSignedCertificate:
        case QSslError::SelfSignedCertificateInChain:
        case QSslError::UnableToGetLocalIssuerCertificate:
        case QSslError::UnableToGetIssuerCertificate:
        case QSslError::UnableToVerifyFirstCertificate:
            return u"o certificado não foi emitido por uma autoridade confiável (use --ca-file)"_s;
        default:
            break;
        }
    }
    return u"o certificado não é confiável"_s;
}

} // namespace

void TNetConnection::DropSocket() {
    if (!m_socket)
        return;
    QWebSocket *socket = m_socket;
    m_socket = nullptr;
    socket->disconnect(this);
    socket->abort();
    // The socket may be the sender of the signal being handled right now.
    socket->deleteLater();
    ++m_generation;
    m_replies.clear();
    Q_EMIT StateTouched();
    Q_EMIT ConnectedChanged(false);
}

TNetConnection::WaitEnd TNetConnection::WaitFor(const std::function<bool()> &done) {
    const quint64 generation = m_generation;
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    bool timedOut = false;
    connect(&timer, &QTimer::timeout, &loop, [&] {
        timedOut = true;
        loop.quit();
    });
    connect(this, &TNetConnection::StateTouched, &loop, [&] {
        if (done() || m_generation != generation)
            loop.quit();
    });
    if (done())
        return WaitEnd::Reply;
    timer.start(m_timeoutMs);
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    if (done())
        return WaitEnd::Reply;
    if (m_generation != generation)
        return WaitEnd::Dropped;
    return timedOut ? WaitEnd::TimedOut : WaitEnd::Dropped;
}

void TNetConnection::Open() {
    if (Connected())
        return;
    DropSocket();
    if (OnBeforeConnect)
        OnBeforeConnect(*this);

    m_closeCode = 0;
    m_closeReason.clear();
    m_protocolFault.clear();
    m_tlsFault.clear();
    // A thread not started by Qt gets its event dispatcher with its first event loop; the
    // socket's notifiers must find one already there or they never fire.
    if (!QThread::currentThread()->eventDispatcher())
        QEventLoop materialize;
    auto *socket = new QWebSocket(QString(), QWebSocketProtocol::VersionLatest, this);
    m_socket = socket;
    // A reply is never read past what a reply may hold, the server's own limit.
    socket->setMaxAllowedIncomingMessageSize(quint64(TJsonNode::MaxBytes));
    socket->setMaxAllowedIncomingFrameSize(quint64(TJsonNode::MaxBytes));
    if (m_ssl)
        socket->setSslConfiguration(*m_ssl);
    connect(socket, &QWebSocket::textMessageReceived, this, &TNetConnection::OnTextMessage);
    connect(socket, &QWebSocket::disconnected, this, &TNetConnection::OnDisconnected);
    connect(socket, &QWebSocket::connected, this, &TNetConnection::StateTouched);
    connect(socket, &QWebSocket::sslErrors, this,
            [this](const QList<QSslError> &errors) { m_tlsFault = TlsFaultText(errors); });
    // Some failures (an unknown host name) end the attempt without a disconnected signal.
    connect(socket, qOverload<QAbstractSocket::SocketError>(&QWebSocket::error), this, [this] {
        if (m_socket && m_socket->state() == QAbstractSocket::UnconnectedState)
            OnDisconnected();
        else
            Q_EMIT StateTouched();
    });

    QUrl url;
    url.setScheme(m_useTls ? u"wss"_s : u"ws"_s);
    url.setHost(m_host);
    url.setPort(m_port);
    url.setPath(u"/"_s);
    QNetworkRequest request(url);
    if (!m_token.isEmpty())
        request.setRawHeader("Authorization", "Bearer " + m_token.toUtf8());
    if (!m_operator.isEmpty())
        request.setRawHeader("X-Ger-Operador", m_operator.toUtf8());
    socket->open(request);

    const WaitEnd end = WaitFor([this] { return Connected(); });
    if (end != WaitEnd::Reply) {
        DropSocket();
        if (end == WaitEnd::TimedOut)
            throw Exception(TimeoutText());
        // A server that closes right after the handshake said why (e.g. a refused token).
        if (m_closeCode == int(QWebSocketProtocol::CloseCodePolicyViolated))
            throw Exception(DroppedText());
        if (!m_tlsFault.isEmpty())
            throw Exception(u"Conexão segura com o servidor de aplicação em %1 recusada: %2."_s.arg(
                Address(), m_tlsFault));
        if (!m_useTls && SpeaksTls(m_host, quint16(m_port), qMin(m_timeoutMs, 5000)))
            throw Exception(u"O servidor de aplicação em %1 fala TLS: use wss://%1 em vez de "
                            "ws://."_s.arg(Address()));
        throw Exception(
            u"Não foi possível conectar ao servidor de aplicação em %1."_s.arg(Address()));
    }
    Q_EMIT ConnectedChanged(true);
}

void TNetConnection::Close() {
    if (!m_socket)
        return;
    if (m_socket->state() == QAbstractSocket::ConnectedState)
        m_socket->close();
    DropSocket();
}

void TNetConnection::SetConnected(bool on) {
    if (on)
        Open();
    else
        Close();
}

void TNetConnection::OnTextMessage(const QString &text) {
    // The reply is parsed here, once: the id says which call it answers, and the call reads the
    // rest from the same parse. Answers nobody waits for any more are dropped.
    TJsonNode reply;
    QString why;
    if (!ReadReply(text, reply, &why)) {
        // Nothing can be matched to a call any more: a peer that sends this is broken.
        m_protocolFault = why;
        DropSocket();
        return;
    }
    const TJsonNode id = reply.Value("id"_L1);
    qint64 key = 0;
    if (id.IsNumber()) {
        key = id.ToInteger();
    } else if (id.IsNull() && reply.Value("error"_L1).IsObject() && m_waiting.size() == 1) {
        // The server could not read the request's id (a request too large or not JSON): with
        // one call under way, the refusal is that call's, rather than a wait until the timeout.
        key = m_waiting.constBegin().key();
    } else {
        return;
    }
    if (!m_waiting.contains(key))
        return;
    m_replies.insert(key, std::move(reply));
    Q_EMIT StateTouched();
}

bool TNetConnection::ReadReply(const QString &text, TJsonNode &reply, QString *why) {
    // At most 3 bytes of UTF-8 per UTF-16 unit: a reply over the limit is refused unconverted.
    if (text.size() > TJsonNode::MaxBytes) {
        *why = u"resposta acima de %1 MiB"_s.arg(TJsonNode::MaxBytes / (1024 * 1024));
        return false;
    }
    return ReadReply(text.toUtf8(), reply, why);
}

bool TNetConnection::ReadReply(QByteArray bytes, TJsonNode &reply, QString *why) {
    if (bytes.size() > TJsonNode::MaxBytes) {
        *why = u"resposta acima de %1 MiB"_s.arg(TJsonNode::MaxBytes / (1024 * 1024));
        return false;
    }
    QString reason;
    if (!TJsonNode::Parse(std::move(bytes), reply, &reason)) {
        *why = u"resposta que não é JSON (%1)"_s.arg(reason);
        return false;
    }
    if (!reply.IsObject()) {
        *why = u"resposta que não é JSON (não é um objeto)"_s;
        return false;
    }
    return true;
}

TResultEnvelope TNetConnection::EnvelopeOf(const TJsonNode &result) {
    TResultEnvelope envelope;
    QString why;
    if (!TResultEnvelope::FromJson(result, envelope, &why))
        throw Exception(u"Resposta inválida do servidor de aplicação: %1."_s.arg(why));
    return envelope;
}

TResultEnvelope TNetConnection::ReplyEnvelope(QByteArray reply) {
    TJsonNode parsed;
    JsonRpc::ParsedResponse response;
    QString why;
    if (!ReadReply(std::move(reply), parsed, &why) ||
        !JsonRpc::DecodeResponse(parsed, response, &why))
        throw Exception(u"Resposta inválida do servidor de aplicação: %1."_s.arg(why));
    if (response.Failure)
        throw Exception(
            RefusalText(response.Failure->Message, QString::number(response.Failure->Code)));
    return EnvelopeOf(response.Result);
}

void TNetConnection::OnDisconnected() {
    if (m_socket) {
        m_closeCode = int(m_socket->closeCode());
        m_closeReason = m_socket->closeReason();
    }
    DropSocket();
}

bool TNetConnection::ReadTokenFile(const QString &path, QByteArray &token, QString *error) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = u"Não foi possível ler o arquivo do token: %1"_s.arg(path);
        return false;
    }
    // The name (and role) belong to the server's side, whom the token stands for: never sent.
    for (const QByteArray &raw : file.read(4096).split('\n')) {
        const QByteArray line = raw.simplified();
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        token = line.left(line.indexOf(' ') < 0 ? line.size() : line.indexOf(' '));
        return true;
    }
    *error = u"O arquivo do token está vazio: %1"_s.arg(path);
    return false;
}

TJsonNode TNetConnection::RoundTrip(const QString &fullMethod, const QJsonArray &params) {
    if (!Connected())
        Open();

    QElapsedTimer clock;
    clock.start();
    const qint64 id = ++m_nextId;
    m_waiting.insert(id, true);
    const QByteArray request = JsonRpc::EncodeRequest(id, fullMethod, params);
    m_lastRequestBytes = request.size();
    m_socket->sendTextMessage(QString::fromUtf8(request));
    const WaitEnd end = WaitFor([this, id] { return m_replies.contains(id); });
    m_waiting.remove(id);
    const TJsonNode reply = m_replies.take(id);

    if (end == WaitEnd::TimedOut) {
        // A late answer must not be taken for the next call's, so the connection goes.
        DropSocket();
        throw Exception(TimeoutText());
    }
    if (end == WaitEnd::Dropped) {
        DropSocket();
        if (!m_protocolFault.isEmpty())
            throw Exception(
                u"Resposta inválida do servidor de aplicação: %1."_s.arg(m_protocolFault));
        throw Exception(DroppedText());
    }

    JsonRpc::ParsedResponse response;
    QString why;
    if (!JsonRpc::DecodeResponse(reply, response, &why)) {
        DropSocket();
        throw Exception(u"Resposta inválida do servidor de aplicação: %1."_s.arg(why));
    }
    ++m_usage.Calls;
    m_usage.Nanoseconds += clock.nsecsElapsed();
    if (response.Failure)
        throw Exception(
            RefusalText(response.Failure->Message, QString::number(response.Failure->Code)));
    return response.Result;
}

TResultEnvelope TNetConnection::Call(const QString &method, const QJsonArray &params,
                                     const QList<QString *> &byRef) {
    const QString fullMethod = m_serverName.isEmpty() ? method : m_serverName + u'.' + method;
    TResultEnvelope envelope = EnvelopeOf(RoundTrip(fullMethod, params));

    if (envelope.Ok) {
        const qsizetype n = qMin(byRef.size(), envelope.ByRef.size());
        for (qsizetype i = 0; i < n; ++i) {
            if (byRef[i] && envelope.ByRef[i].isString())
                *byRef[i] = envelope.ByRef[i].toString();
        }
    } else if (m_throwException) {
        throw Exception(RefusalText(envelope.ErrorMessage, envelope.ErrorCode));
    }
    return envelope;
}

double TNetConnection::Ping() {
    if (!Connected())
        Open();
    QElapsedTimer clock;
    clock.start();
    RoundTrip(u"ping"_s, {});
    return clock.nsecsElapsed() / 1e6;
}
