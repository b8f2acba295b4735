#include "backend.h"
#include "serverlog.h"
#include "serveroptions.h"
#include "wslistener.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QSocketNotifier>
#include <QSslCertificate>
#include <QSslKey>
#include <QSslSocket>
#include <QTcpServer>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <functional>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

constexpr int ExitFailure = 1;
constexpr int ExitUsage = 2;

int g_signalPipe[2] = {-1, -1};

void Say(const QString &text) {
    const QByteArray line = text.toUtf8() + '\n';
    std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
    std::fflush(stderr);
}

void OnSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const auto n = ::write(g_signalPipe[1], &byte, 1);
}

// Each client is one descriptor; the default soft limit of 1024 would refuse a busy office.
void RaiseFileLimit() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
}

bool ReadToken(const QString &path, QByteArray &token, QString *error) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = u"cannot read token file %1: %2"_s.arg(path, file.errorString());
        return false;
    }
    token = file.readAll().trimmed();
    if (token.isEmpty()) {
        *error = u"token file %1 is empty"_s.arg(path);
        return false;
    }
    return true;
}

bool LoadTls(const QString &certPath, const QString &keyPath, QSslConfiguration &out,
             QString *error) {
    QFile certFile(certPath);
    QFile keyFile(keyPath);
    if (!certFile.open(QIODevice::ReadOnly) || !keyFile.open(QIODevice::ReadOnly)) {
        *error = u"cannot read the TLS certificate or key"_s;
        return false;
    }
    const QList<QSslCertificate> chain = QSslCertificate::fromData(certFile.readAll());
    const QByteArray keyPem = keyFile.readAll();
    QSslKey key(keyPem, QSsl::Rsa);
    if (key.isNull())
        key = QSslKey(keyPem, QSsl::Ec);
    if (chain.isEmpty() || key.isNull()) {
        *error = u"the TLS certificate or key is not valid PEM"_s;
        return false;
    }
    out = QSslConfiguration::defaultConfiguration();
    out.setLocalCertificateChain(chain);
    out.setPrivateKey(key);
    out.setPeerVerifyMode(QSslSocket::VerifyNone);
    return true;
}

// A key that does not belong to its certificate is only found out by a handshake, and then every
// client's handshake fails while the server seems to run. One handshake with itself on loopback,
// before listening, tells it at start.
class HandOver final : public QTcpServer {
public:
    std::function<void(qintptr)> OnIncoming;

protected:
    void incomingConnection(qintptr descriptor) override { OnIncoming(descriptor); }
};

bool TlsWorks(const QSslConfiguration &config, QString *error) {
    QSslSocket server, client;
    QString serverError;
    HandOver listener;
    listener.OnIncoming = [&](qintptr descriptor) {
        server.setSocketDescriptor(descriptor);
        server.setSslConfiguration(config);
        server.startServerEncryption();
    };
    if (!listener.listen(QHostAddress::LocalHost, 0)) {
        *error = listener.errorString();
        return false;
    }
    QObject::connect(&server, &QSslSocket::sslErrors, &server, [&](const QList<QSslError> &all) {
        if (!all.isEmpty())
            serverError = all.constFirst().errorString();
    });
    QObject::connect(&server, &QSslSocket::errorOccurred, &server,
                     [&] { serverError = server.errorString(); });
    client.setPeerVerifyMode(QSslSocket::VerifyNone);
    client.connectToHostEncrypted(u"127.0.0.1"_s, listener.serverPort());
    QEventLoop loop;
    QTimer::singleShot(10000, &loop, &QEventLoop::quit);
    QObject::connect(&client, &QSslSocket::encrypted, &loop, &QEventLoop::quit);
    QObject::connect(&client, &QSslSocket::errorOccurred, &loop, &QEventLoop::quit);
    QObject::connect(&server, &QSslSocket::errorOccurred, &loop, &QEventLoop::quit);
    loop.exec();
    if (client.isEncrypted())
        return true;
    *error = serverError.isEmpty() ? client.errorString() : serverError;
    return false;
}

void CatchStopSignals() {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalPipe) != 0)
        return;
    auto *notifier =
        new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [notifier] {
        char byte = 0;
        [[maybe_unused]] const auto n = ::read(g_signalPipe[0], &byte, 1);
        notifier->setEnabled(false);
        ServerLog::Write(ServerLog::Level::Info, u"stopping"_s);
        QCoreApplication::quit();
    });
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
    // A client vanishing mid-write must not take the server down.
    ::signal(SIGPIPE, SIG_IGN);
}

} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(u"ger-server"_s);

    ServerOptions options;
    QString error;
    QString help;
    if (!ServerOptions::Parse(QCoreApplication::arguments(), options, &error, &help)) {
        Say(u"ger-server: %1"_s.arg(error));
        return ExitUsage;
    }
    if (!help.isEmpty()) {
        Say(help);
        return 0;
    }
    ServerLog::SetLevel(options.Level);
    RaiseFileLimit();

    WsListener::Settings settings;
    settings.AllowedOrigins = options.AllowedOrigins;
    settings.IdleTimeoutMs = qint64(options.IdleTimeoutSeconds) * 1000;
    settings.MessageTimeoutMs = qint64(options.MessageTimeoutSeconds) * 1000;
    if (!options.TokenFile.isEmpty() && !ReadToken(options.TokenFile, settings.Token, &error)) {
        Say(u"ger-server: %1"_s.arg(error));
        return ExitUsage;
    }
    // Without a token anyone who can reach the port could rewrite the accounting periods.
    if (!options.ListenAddress.isLoopback() && settings.Token.isEmpty()) {
        Say(u"ger-server: refusing to listen on %1 without --token-file: only loopback "
            u"addresses may be served without a token"_s.arg(options.ListenHost));
        return ExitUsage;
    }
    if (!options.TlsCert.isEmpty()) {
        QSslConfiguration tls;
        if (!LoadTls(options.TlsCert, options.TlsKey, tls, &error)) {
            Say(u"ger-server: %1"_s.arg(error));
            return ExitUsage;
        }
        if (!TlsWorks(tls, &error)) {
            Say(u"ger-server: the TLS certificate and key do not work together (does the key "
                u"belong to the certificate?): %1"_s.arg(error));
            return ExitUsage;
        }
        settings.Tls = tls;
    }

    std::unique_ptr<Backend> backend = Backend::Open(options.Db, &error);
    if (!backend) {
        Say(u"ger-server: cannot open %1: %2"_s.arg(options.Db, error));
        return ExitFailure;
    }
    if (!options.Seed.isEmpty() && !backend->Seed(options.Seed, &error)) {
        Say(u"ger-server: seeding \"%1\" failed: %2"_s.arg(options.Seed, error));
        return ExitFailure;
    }

    int rc = 0;
    {
        WsListener listener(backend->Objects(), settings);
        if (!listener.Listen(options.ListenAddress, options.ListenPort, &error)) {
            Say(u"ger-server: %1"_s.arg(error));
            return ExitFailure;
        }
        CatchStopSignals();
        Say(u"listening on %1"_s.arg(listener.Url()));
        rc = QCoreApplication::exec();
        listener.Shutdown();
    }
    // The listener (and its workers) go before the backend whose connections they hold.
    backend.reset();
    return rc;
}
