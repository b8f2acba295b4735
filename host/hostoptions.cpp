#include "hostoptions.h"

#include "rpc/netconnection.h"

#include <QCommandLineParser>
#include <QDate>
#include <QDir>
#include <QFile>
#include <QSslCertificate>
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

namespace {

// Every option of ger-host, for parsing and for the help text alike.
void Describe(QCommandLineParser &parser) {
    parser.setApplicationDescription(u"Ger - Parâmetro Contábil: o programa de mesa."_s);
    parser.addOption({{u"h"_s, u"help"_s}, u"Mostra esta ajuda e termina."_s});
    parser.addOption({{u"v"_s, u"version"_s}, u"Mostra a versão e termina."_s});
    parser.addOption({u"server"_s,
                      u"Servidor de aplicação (ws://HOST:PORTA ou wss://...). Padrão: "
                      "ws://127.0.0.1:9400."_s,
                      u"url"_s, HostOptions().ServerUrl});
    parser.addOption({u"token-file"_s,
                      u"Arquivo com o token que o servidor exige (padrão: o arquivo que a "
                      "variável GER_TOKEN_FILE indica)."_s,
                      u"arquivo"_s});
    parser.addOption({u"ca-file"_s,
                      u"Certificados PEM em que confiar para wss://, além dos do sistema (uma "
                      "autoridade certificadora própria)."_s,
                      u"arquivo"_s});
    parser.addOption({u"operator"_s, u"Operador conectado (padrão: o usuário do sistema)."_s,
                      u"nome"_s});
    parser.addOption({u"local-db"_s,
                      u"Banco local (SQLite) das cópias de EMPRESA e CONTOPECTBL. Padrão: "
                      "ger-host-local.db na pasta de dados do usuário."_s,
                      u"arquivo"_s});
    parser.addOption({u"list"_s, u"Lista os parâmetros como a grade os mostra e termina."_s});
    parser.addOption({u"screenshot"_s, u"Salva a tela em PNG e termina."_s, u"arquivo"_s});
    parser.addOption({u"history"_s,
                      u"Mostra o histórico de alterações das empresas (\"T\" para todas, ou "
                      "códigos separados por vírgula) e termina."_s,
                      u"empresas"_s});
    parser.addOption({u"since"_s, u"Com --history: só as alterações deste dia em diante."_s,
                      u"dd/mm/aaaa"_s});
    parser.addOption(
        {u"page"_s,
         u"Página da captura (0 lista, 1 períodos, 2 controles, 3 cadastramento automático, 4 "
         "histórico de alterações da empresa da lista). Padrão: 0."_s,
         u"n"_s, u"0"_s});
}

} // namespace

QString HostOptions::HelpOrVersion(const QByteArray &which) {
    if (which == "--version" || which == "-v")
        return u"ger-host %1\n"_s.arg(QStringLiteral(GER_VERSION));
    QCommandLineParser parser;
    Describe(parser);
    QString text = parser.helpText();
    // The parser's own two headings, which Qt writes in English without its translations.
    text.replace(u"Usage: "_s, u"Uso: "_s);
    text.replace(u"Options:"_s, u"Opções:"_s);
    text.replace(u" [options]"_s, u" [opções]"_s);
    return text;
}

bool HostOptions::Parse(const QStringList &arguments, HostOptions &out, QString *error) {
    QCommandLineParser parser;
    Describe(parser);
    const QString server = u"server"_s, oper = u"operator"_s, localDb = u"local-db"_s,
                  list = u"list"_s, shot = u"screenshot"_s, page = u"page"_s,
                  tokenFile = u"token-file"_s, caFile = u"ca-file"_s;
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
    const QString tokenPath = parser.isSet(tokenFile) ? parser.value(tokenFile)
                                                      : qEnvironmentVariable("GER_TOKEN_FILE");
    if (!tokenPath.isEmpty()) {
        if (!TNetConnection::ReadTokenFile(tokenPath, o.Token, error))
            return false;
    }
    o.CaFile = parser.value(caFile);
    if (!o.CaFile.isEmpty() && QSslCertificate::fromPath(o.CaFile).isEmpty()) {
        *error = u"Nenhum certificado PEM em %1"_s.arg(o.CaFile);
        return false;
    }
    if (!o.CaFile.isEmpty() && url.scheme() != u"wss"_s) {
        *error = u"--ca-file vale para servidores wss://"_s;
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
    if (!ok || o.Page < 0 || o.Page > 4) {
        *error = u"Página inválida: %1 (0, 1, 2, 3 ou 4)"_s.arg(parser.value(page));
        return false;
    }
    o.History = parser.value(u"history"_s).trimmed();
    if (parser.isSet(u"history"_s) && o.History.isEmpty()) {
        *error = u"--history espera \"T\" ou códigos de empresa."_s;
        return false;
    }
    if (parser.isSet(u"since"_s)) {
        const QDate since = QDate::fromString(parser.value(u"since"_s).trimmed(), u"dd/MM/yyyy"_s);
        if (!since.isValid() || o.History.isEmpty()) {
            *error = u"--since espera uma data dd/mm/aaaa, com --history."_s;
            return false;
        }
        o.Since = since.toString(Qt::ISODate);
    }
    if (int(o.List) + int(!o.ScreenshotFile.isEmpty()) + int(!o.History.isEmpty()) > 1) {
        *error = u"Use só um de --list, --screenshot e --history."_s;
        return false;
    }
    out = o;
    return true;
}
