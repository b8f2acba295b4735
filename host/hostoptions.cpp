#include "hostoptions.h"

#include <QCommandLineParser>
#include <QDir>
#include <QStandardPaths>
#include <QUrl>

using namespace Qt::StringLiterals;

QString HostOptions::DefaultOperator() {
    QString name = qEnvironmentVariable("USER");
    if (name.isEmpty())
        name = qEnvironmentVariable("LOGNAME");
    return name.isEmpty() ? u"operador"_s : name;
}

QString HostOptions::DefaultLocalDbPath() {
    QString dir = QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation);
    if (dir.isEmpty() || !QDir().mkpath(dir)) {
        // No writable data folder (a bare container, a locked-down account): keep the copy
        // next to the working folder instead of failing to start.
        dir = QDir::current().absoluteFilePath(u"run"_s);
        QDir().mkpath(dir);
    }
    return QDir(dir).absoluteFilePath(u"ger-host-local.db"_s);
}

bool HostOptions::Parse(const QStringList &arguments, HostOptions &out, QString *error) {
    QCommandLineParser parser;
    parser.setApplicationDescription(u"Ger - Parâmetro Contábil"_s);
    parser.addHelpOption();
    const QCommandLineOption server(u"server"_s, u"Servidor de aplicação (ws://HOST:PORTA)."_s,
                                    u"url"_s, out.ServerUrl);
    const QCommandLineOption oper(u"operator"_s, u"Operador conectado."_s, u"nome"_s);
    const QCommandLineOption localDb(u"local-db"_s, u"Banco local (SQLite)."_s, u"arquivo"_s);
    const QCommandLineOption list(u"list"_s, u"Lista os parâmetros e termina."_s);
    const QCommandLineOption shot(u"screenshot"_s, u"Salva a tela em PNG e termina."_s,
                                  u"arquivo"_s);
    const QCommandLineOption page(
        u"page"_s,
        u"Página da captura (0 lista, 1 períodos, 2 controles, 3 cadastramento automático)."_s,
        u"n"_s, u"0"_s);
    parser.addOptions({server, oper, localDb, list, shot, page});
    if (!parser.parse(arguments)) {
        *error = parser.errorText();
        return false;
    }
    if (!parser.positionalArguments().isEmpty()) {
        *error = u"Argumento desconhecido: %1"_s.arg(parser.positionalArguments().constFirst());
        return false;
    }

    HostOptions o;
    o.ServerUrl = parser.value(server);
    const QUrl url(o.ServerUrl, QUrl::StrictMode);
    if (!url.isValid() || (url.scheme() != u"ws"_s && url.scheme() != u"wss"_s) ||
        url.host().isEmpty()) {
        *error = u"Endereço do servidor inválido: %1 (use ws://HOST:PORTA)"_s.arg(o.ServerUrl);
        return false;
    }
    o.ServerHost = url.host();
    o.ServerPort = url.port(9400);
    o.Operator = parser.isSet(oper) ? parser.value(oper) : DefaultOperator();
    o.LocalDbPath = parser.isSet(localDb) ? parser.value(localDb) : DefaultLocalDbPath();
    o.List = parser.isSet(list);
    o.ScreenshotFile = parser.value(shot);
    bool ok = false;
    o.Page = parser.value(page).toInt(&ok);
    if (!ok || o.Page < 0 || o.Page > 3) {
        *error = u"Página inválida: %1 (0, 1, 2 ou 3)"_s.arg(parser.value(page));
        return false;
    }
    if (o.List && !o.ScreenshotFile.isEmpty()) {
        *error = u"Use --list ou --screenshot, não os dois."_s;
        return false;
    }
    out = o;
    return true;
}
