#pragma once

#include "serverlog.h"

#include <QHostAddress>
#include <QString>
#include <QStringList>

// The command line of ger-server, over an optional configuration file.
struct ServerOptions {
    QString Db = QStringLiteral("sqlite:ger.db");
    QString ListenHost = QStringLiteral("127.0.0.1");
    QHostAddress ListenAddress = QHostAddress(QHostAddress::LocalHost);
    quint16 ListenPort = 9400;
    QString Seed;
    QString TokenFile;
    QStringList AllowedOrigins; // web origins whose pages may connect; none by default
    QString TlsCert;
    QString TlsKey;
    ServerLog::Level Level = ServerLog::Level::Info;
    int IdleTimeoutSeconds = 600;   // 0: idle connections are kept
    int MessageTimeoutSeconds = 60; // a message begun must be complete within this
    bool History = true;            // the change history of every write
    int WriteWaitSeconds = 25;      // a writing call's wait for another program's write
    // GET /metrics on an address of its own; empty: not served.
    QString MetricsHost;
    QHostAddress MetricsAddress;
    quint16 MetricsPort = 0;
    // After a stop signal, how long GET /health answers 503 while calls are still served, when a
    // balancer has been asking it.
    int DrainSeconds = 10;

    // The command line as the commands read it: the command and its operands first, then the
    // options with their values, whichever order the operator typed them in. The options are the
    // server's and the commands' own (--to, --encoding, --dry-run). False with *error on an option
    // no command knows, one without its value, or a value given to an option that takes none.
    static bool Arrange(const QStringList &arguments, QStringList &arranged, QString *error);
    // Why a file the operator named cannot be read, in the words every command uses ("arquivo
    // não encontrado: PATH"); empty when it can.
    static QString UnreadableFile(const QString &path);

    // False with *error set on a bad option; *text set (and true returned) for --help and
    // --version, which need nothing else to be right.
    static bool Parse(const QStringList &arguments, ServerOptions &out, QString *error,
                      QString *text);
    // "HOST:PORT", "[v6]:PORT"; "localhost" is the loopback address.
    static bool ParseListen(const QString &text, QHostAddress &address, quint16 &port);
    // The lines of a configuration file as command-line arguments: "chave = valor" per line,
    // the keys being the long options without their dashes; blank lines and lines starting with
    // '#' are skipped. False with *error naming the line on anything else.
    static bool ReadConfig(const QString &path, QStringList &arguments, QString *error);
};
