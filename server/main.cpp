#include "backend.h"
#include "changehistory.h"
#include "database.h"
#include "datatransfer.h"
#include "dbcopy.h"
#include "historyprune.h"
#include "metricsserver.h"
#include "serverlog.h"
#include "serveroptions.h"
#include "storedcheck.h"
#include "tokenfile.h"
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

#ifdef GER_HAVE_SYSTEMD
#include <systemd/sd-daemon.h>
#endif

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <functional>
#include <malloc.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

constexpr int ExitFailure = 1;
constexpr int ExitUsage = 2;

int g_signalPipe[2] = {-1, -1};

// Why the server will not start: one error line an operator reads at the terminal or in the
// journal.
void Refuse(const QString &text) {
    ServerLog::Write(ServerLog::Level::Error, u"ger-server: "_s + text);
}

// What the service manager is told: "READY=1" once clients can connect, "STOPPING=1" when
// leaving. Nothing happens outside systemd.
void Notify(const QString &state) {
#ifdef GER_HAVE_SYSTEMD
    sd_notify(0, state.toUtf8().constData());
#else
    Q_UNUSED(state);
#endif
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

// The file is the secret itself, so only its owner may read it.
bool ReadTokens(const QString &path, QList<WsListener::Settings::Token> &tokens, QString *error) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = u"não foi possível ler o arquivo do token %1: %2"_s.arg(path, file.errorString());
        return false;
    }
    if (file.permissions() & (QFile::ReadGroup | QFile::ReadOther)) {
        *error = u"o arquivo do token %1 pode ser lido por outros usuários; deixe-o só para o "
                 "dono (chmod 600)"_s.arg(path);
        return false;
    }
    return TokenFile::Parse(file.read(1024 * 1024), path, tokens, error);
}

bool LoadTls(const QString &certPath, const QString &keyPath, QSslConfiguration &out,
             QString *error) {
    QFile certFile(certPath);
    QFile keyFile(keyPath);
    if (!certFile.open(QIODevice::ReadOnly) || !keyFile.open(QIODevice::ReadOnly)) {
        *error = u"não foi possível ler o certificado ou a chave TLS"_s;
        return false;
    }
    // Unlike the token, a key readable by all still works; it is said, not refused, so an upgrade
    // does not stop a running office.
    if (keyFile.permissions() & QFile::ReadOther)
        ServerLog::Write(ServerLog::Level::Warn,
                         u"a chave TLS %1 pode ser lida por outros usuários; deixe-a só para o "
                         "dono e o grupo do serviço (chmod 640)"_s.arg(keyPath));
    const QList<QSslCertificate> chain = QSslCertificate::fromData(certFile.readAll());
    const QByteArray keyPem = keyFile.readAll();
    QSslKey key(keyPem, QSsl::Rsa);
    if (key.isNull())
        key = QSslKey(keyPem, QSsl::Ec);
    if (chain.isEmpty() || key.isNull()) {
        *error = u"o certificado ou a chave TLS não é PEM válido"_s;
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

// The first stop signal runs `stopping`, which quits now or after the drain; a second quits at
// once.
void CatchStopSignals(std::function<void()> stopping) {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalPipe) != 0)
        return;
    auto *notifier =
        new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, notifier,
                     [notifier, stopping = std::move(stopping), first = true]() mutable {
                         char byte = 0;
                         [[maybe_unused]] const auto n = ::read(g_signalPipe[0], &byte, 1);
                         if (!first) {
                             notifier->setEnabled(false);
                             QCoreApplication::quit();
                             return;
                         }
                         first = false;
                         ServerLog::Announce(u"ger-server parando"_s);
                         Notify(u"STOPPING=1"_s);
                         stopping();
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
    // glibc raises its mmap threshold each time a mapped block is freed: after the first answer of
    // megabytes, the next ones are carved out of the heaps, and what they leave there stays with
    // the process (eight of the largest gate answers left 167 MB resident). Buffers of a megabyte
    // and more stay mapped, handed back the moment they are freed. A fixed threshold would also
    // fix the heaps' trim at 128 KiB, paying page faults on every call; the trim is left to the
    // listener's sweep instead.
    mallopt(M_MMAP_THRESHOLD, 1024 * 1024);
    mallopt(M_TRIM_THRESHOLD, 128 * 1024 * 1024);
    ServerLog::CaptureQtMessages();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(u"ger-server"_s);
    QCoreApplication::setApplicationVersion(QStringLiteral(GER_VERSION));
    ServerOptions options;
    QString error;
    QString text;
    // A command line mistake is said on the terminal, in the commands' one form.
    QStringList arguments;
    if (!ServerOptions::Arrange(QCoreApplication::arguments(), arguments, &error)) {
        std::fprintf(stderr, "ger-server: %s\n", error.toUtf8().constData());
        return ExitUsage;
    }
    if (DataTransfer::Handles(arguments))
        return DataTransfer::Run(arguments);
    if (arguments.value(1) == u"check"_s)
        return StoredCheck::Command(arguments);
    if (DbCopy::Handles(arguments))
        return DbCopy::Run(arguments);
    if (HistoryPrune::Handles(arguments))
        return HistoryPrune::Run(arguments);

    if (!ServerOptions::Parse(arguments, options, &error, &text)) {
        std::fprintf(stderr, "ger-server: %s\n", error.toUtf8().constData());
        return ExitUsage;
    }
    if (!text.isEmpty()) {
        // One write, past stdio's 4 KiB buffer: a reader that stops at the line it looks for
        // (`grep -q`) would otherwise end the help with SIGPIPE.
        const QByteArray out = text.trimmed().toUtf8() + '\n';
        [[maybe_unused]] const auto n = ::write(STDOUT_FILENO, out.constData(), size_t(out.size()));
        return 0;
    }
    ServerLog::SetLevel(options.Level);
    RaiseFileLimit();

    WsListener::Settings settings;
    settings.AllowedOrigins = options.AllowedOrigins;
    settings.IdleTimeoutMs = qint64(options.IdleTimeoutSeconds) * 1000;
    settings.MessageTimeoutMs = qint64(options.MessageTimeoutSeconds) * 1000;
    settings.WorkerEnds = &Database::CloseThreadConnections;
    settings.Metrics = !options.MetricsHost.isEmpty();
    if (!options.TokenFile.isEmpty() && !ReadTokens(options.TokenFile, settings.Tokens, &error)) {
        Refuse(error);
        return ExitUsage;
    }
    // Without a token anyone who can reach the port could rewrite the accounting periods.
    if (!options.ListenAddress.isLoopback() && settings.Tokens.isEmpty()) {
        Refuse(u"recusando escutar em %1 sem --token-file: só endereços de loopback podem ser "
               "servidos sem token"_s.arg(options.ListenHost));
        return ExitUsage;
    }
    if (!options.TlsCert.isEmpty()) {
        QSslConfiguration tls;
        if (!LoadTls(options.TlsCert, options.TlsKey, tls, &error)) {
            Refuse(error);
            return ExitUsage;
        }
        if (!TlsWorks(tls, &error)) {
            Refuse(u"o certificado e a chave TLS não funcionam juntos (a chave é deste "
                   "certificado?): %1"_s.arg(error));
            return ExitUsage;
        }
        settings.Tls = tls;
    }

    std::unique_ptr<Backend> backend = Backend::Open(options.Db, &error);
    if (!backend) {
        Refuse(u"não foi possível abrir %1: %2"_s.arg(Backend::Redacted(options.Db), error));
        return ExitFailure;
    }
    backend->SetWriteWait(options.WriteWaitSeconds);
    if (!options.Seed.isEmpty()) {
        bool seeded = false;
        if (!backend->Seed(options.Seed, &error, &seeded)) {
            Refuse(u"a semente \"%1\" falhou: %2"_s.arg(options.Seed, error));
            return ExitFailure;
        }
        ServerLog::Announce(
            seeded ? u"semente \"%1\" aplicada"_s.arg(options.Seed)
                   : u"semente \"%1\" não aplicada: o banco já tem empresas"_s.arg(options.Seed));
    }

    settings.Health = [b = backend.get()] {
        const Backend::Health h = b->Probe();
        return HealthCheck::Probe{h.Reached, h.SchemaVersion, h.KnownVersion, h.Kind, h.Hearing};
    };
    settings.GateHearing = [b = backend.get()] {
        return b->GateHearing();
    };
    settings.ShortCallsHere = backend->InProcess();

    ChangeHistory::SetRecording(options.History);
    if (!options.History)
        ServerLog::Announce(u"histórico de alterações desligado (--no-history)"_s);

    int rc = 0;
    {
        WsListener listener(backend->Objects(), settings);
        if (!listener.Listen(options.ListenAddress, options.ListenPort, &error)) {
            Refuse(error);
            return ExitFailure;
        }
        std::unique_ptr<MetricsServer> metrics;
        if (settings.Metrics) {
            metrics =
                std::make_unique<MetricsServer>([&listener] { return listener.MetricsText(); });
            if (!metrics->Listen(options.MetricsAddress, options.MetricsPort, &error)) {
                Refuse(error);
                return ExitFailure;
            }
        }
        // A balancer that asks GET /health sees 503 first and takes the server out while its
        // calls are still answered; without one watching there is nothing to wait for.
        const int drainSeconds = options.DrainSeconds;
        CatchStopSignals([&listener, drainSeconds] {
            listener.BeginStop();
            if (drainSeconds > 0 && listener.HealthAskedWithin(60000)) {
                ServerLog::Announce(
                    u"GET /health responde 503; as chamadas seguem atendidas por %1 s"_s.arg(
                        drainSeconds));
                QTimer::singleShot(drainSeconds * 1000, QCoreApplication::instance(),
                                   &QCoreApplication::quit);
            } else {
                QCoreApplication::quit();
            }
        });
        ServerLog::Announce(u"ger-server %1 escutando em %2"_s.arg(
            QCoreApplication::applicationVersion(), listener.Url()));
        if (metrics)
            ServerLog::Announce(u"métricas em %1"_s.arg(metrics->Url()));
        Notify(u"READY=1\nSTATUS=escutando em %1"_s.arg(listener.Url()));
        rc = QCoreApplication::exec();
        listener.Shutdown();
    }
    // The listener (and its workers) go before the backend whose connections they hold.
    backend.reset();
    return rc;
}
