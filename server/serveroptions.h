#pragma once

#include "serverlog.h"

#include <QHostAddress>
#include <QString>
#include <QStringList>

// The command line of ger-server.
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

    // False with *error set on a bad option; *helpText set (and true returned) for --help.
    static bool Parse(const QStringList &arguments, ServerOptions &out, QString *error,
                      QString *helpText);
    // "HOST:PORT", "[v6]:PORT"; "localhost" is the loopback address.
    static bool ParseListen(const QString &text, QHostAddress &address, quint16 &port);
};
