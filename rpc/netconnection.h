#pragma once

#include "envelope.h"

#include <QHash>
#include <QJsonArray>
#include <QObject>
#include <QPointer>
#include <QSslConfiguration>
#include <QString>

#include <functional>
#include <optional>

class QWebSocket;

// Blocking client of the application server. A call sends one JSON-RPC request and waits for its
// answer in a local event loop that lets timers and painting through but no user input, so the
// busy indicator keeps moving while the user cannot act. Transport failures (refused, dropped,
// timed out, protocol faults) throw Exception with a message for the user and leave the
// connection closed; the next call connects again.
class TNetConnection final : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString Host READ Host WRITE SetHost)
    Q_PROPERTY(int Port READ Port WRITE SetPort)
    Q_PROPERTY(QString ServerName READ ServerName WRITE SetServerName)
    Q_PROPERTY(bool Connected READ Connected WRITE SetConnected NOTIFY ConnectedChanged)
    Q_PROPERTY(bool ThrowException READ ThrowException WRITE SetThrowException)
    Q_PROPERTY(int TimeoutMs READ TimeoutMs WRITE SetTimeoutMs)
    Q_PROPERTY(bool UseTls READ UseTls WRITE SetUseTls)

public:
    explicit TNetConnection(QObject *parent = nullptr);
    ~TNetConnection() override;

    QString Host() const { return m_host; }
    void SetHost(const QString &host) { m_host = host; }
    int Port() const { return m_port; }
    void SetPort(int port) { m_port = port; }
    // Remote object the calls go to, e.g. "Ger09400.rdmParamCtbl".
    QString ServerName() const { return m_serverName; }
    void SetServerName(const QString &name) { m_serverName = name; }
    // When true a failed result envelope is thrown as Exception instead of being returned.
    bool ThrowException() const { return m_throwException; }
    void SetThrowException(bool on) { m_throwException = on; }
    // Bearer token sent in the handshake; empty sends none.
    QString Token() const { return m_token; }
    void SetToken(const QString &token) { m_token = token; }
    // A desktop's or a script's token file: the bare token, or the server's whole line
    // ("TOKEN NAME [ROLE]"), of which only the token is sent; blank lines and "#" skipped.
    static bool ReadTokenFile(const QString &path, QByteArray &token, QString *error);
    // The operator the server records the changes under when the token does not name one.
    QString Operator() const { return m_operator; }
    void SetOperator(const QString &name) { m_operator = name; }
    int TimeoutMs() const { return m_timeoutMs; }
    void SetTimeoutMs(int ms) { m_timeoutMs = ms; }
    bool UseTls() const { return m_useTls; }
    void SetUseTls(bool on) { m_useTls = on; }
    // Certificates to trust for wss, e.g. a private authority of the server's certificate.
    void SetSslConfiguration(const QSslConfiguration &config) { m_ssl = config; }

    // Runs at every connect, before the socket opens, so it can still set Host and Port.
    std::function<void(TNetConnection &)> OnBeforeConnect;

    bool Connected() const;
    void Open();
    void Close();
    void SetConnected(bool on);

    // Calls "<ServerName>.<method>" with positional arguments. On success the new values of the
    // by-reference arguments are written into byRef, in order.
    TResultEnvelope Call(const QString &method, const QJsonArray &params,
                         const QList<QString *> &byRef = {});
    // What a call makes of its reply's bytes, for those who hold the bytes themselves: the same
    // parse, checks and failures (thrown as Exception).
    static TResultEnvelope ReplyEnvelope(QByteArray reply);
    // Round trip of the transport's own "ping", in milliseconds.
    double Ping();

    // Calls made since the last reset and the time spent on them from send to decoded answer:
    // what the server and the wire cost the caller, apart from its own work.
    struct Usage {
        qint64 Calls = 0;
        qint64 Nanoseconds = 0;
    };
    Usage CallUsage() const { return m_usage; }
    void ResetCallUsage() { m_usage = {}; }

Q_SIGNALS:
    void ConnectedChanged(bool connected);
    // Internal wake-up for the waiting loops.
    void StateTouched();

private:
    enum class WaitEnd { Reply, Dropped, TimedOut };
    TJsonNode RoundTrip(const QString &fullMethod, const QJsonArray &params);
    WaitEnd WaitFor(const std::function<bool()> &done);
    void OnTextMessage(const QString &text);
    // A reply parsed whole (bounded by TJsonNode::MaxBytes); false with the reason otherwise.
    static bool ReadReply(const QString &text, TJsonNode &reply, QString *why);
    static bool ReadReply(QByteArray bytes, TJsonNode &reply, QString *why);
    static TResultEnvelope EnvelopeOf(const TJsonNode &result);
    void OnDisconnected();
    void DropSocket();
    QString Address() const;
    QString TimeoutText() const;
    QString DroppedText() const;

    QString m_host = QStringLiteral("127.0.0.1");
    int m_port = 9400;
    QString m_serverName;
    QString m_token;
    QString m_operator;
    bool m_throwException = false;
    int m_timeoutMs = 30000;
    bool m_useTls = false;
    std::optional<QSslConfiguration> m_ssl;

    QPointer<QWebSocket> m_socket;
    quint64 m_generation = 0; // bumped whenever the socket goes away
    qint64 m_nextId = 0;
    QHash<qint64, TJsonNode> m_replies; // answers received for calls still waiting, parsed
    QHash<qint64, bool> m_waiting;
    int m_closeCode = 0;
    QString m_closeReason;
    qsizetype m_lastRequestBytes = 0; // a close for too much data names the request or the reply
    QString m_protocolFault;          // why the peer was dropped for sending something unreadable
    QString m_tlsFault;               // why the server's certificate was not trusted
    Usage m_usage;
};
