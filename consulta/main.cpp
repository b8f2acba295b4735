// ger-consulta: asks the server's period gate whether modules may post on given days, for
// scripts and other systems, and lets a controller close, grant, list and revoke from a shell.
// Exit 0: all allowed (done); 1: some refused (the server said no); 2: it could not ask.

#include "exceptions.h"
#include "netconnection.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QJsonArray>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QUrl>

#include <cstdio>

using namespace Qt::StringLiterals;

namespace {

// The server takes no more in one call; a longer file is refused before anything is sent.
constexpr qsizetype MaxChecks = 100000;

struct Options {
    QString Url = u"ws://127.0.0.1:9400"_s;
    QByteArray Token;
    QString CaFile;
    QJsonArray Checks;
    QString Command; // empty: checks
    QStringList Arguments;
};

// The controller's commands: the gate's method and the arguments each takes.
struct Command {
    const char16_t *Word;
    const char16_t *Method;
    const char16_t *Usage;
    qsizetype Least;
    qsizetype Most;
};
constexpr Command Commands[] = {
    {u"encerrar", u"Encerrar", u"encerrar EMPRESAS DATA MOTIVO", 3, 3},
    {u"conceder", u"ConcederExcecao",
     u"conceder EMPRESAS MODULO INICIO FIM VALIDADE MOTIVO [CLIENTE]", 6, 7},
    {u"excecoes", u"Excecoes", u"excecoes EMPRESAS", 1, 1},
    {u"revogar", u"RevogarExcecao", u"revogar NUMERO MOTIVO", 2, 2},
};

const Command *findCommand(const QString &word) {
    for (const Command &c : Commands)
        if (word == QStringView(c.Word))
            return &c;
    return nullptr;
}

void print(FILE *to, const QString &line) {
    std::fputs(line.toUtf8().append('\n').constData(), to);
}

int usageError(const QString &text) {
    print(stderr, u"ger-consulta: "_s + text);
    return 2;
}

// One check a line, EMPRESA;MODULO;DATA, blanks around each field dropped; empty lines and lines
// starting with '#' skipped; LF or CRLF; UTF-8 with or without BOM. A file without any check is
// a mistake (an empty export, a wrong name), never "everything allowed".
bool readChecksFile(const QString &path, QJsonArray &checks, QString *error) {
    QFile file(path);
    if (!file.exists()) {
        *error = u"Arquivo não encontrado: %1"_s.arg(path);
        return false;
    }
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        *error = u"Não foi possível ler o arquivo %1"_s.arg(path);
        return false;
    }
    int number = 0;
    while (!file.atEnd()) {
        ++number;
        QString line = QString::fromUtf8(file.readLine(4096));
        if (number == 1 && line.startsWith(QChar(0xFEFF)))
            line.remove(0, 1);
        line = line.trimmed();
        if (line.isEmpty() || line.startsWith(u'#'))
            continue;
        const QStringList parts = line.split(u';');
        if (parts.size() != 3) {
            *error = u"%1, linha %2: era esperado EMPRESA;MODULO;DATA"_s.arg(path).arg(number);
            return false;
        }
        if (checks.size() == MaxChecks) {
            *error = u"%1: mais de %2 consultas; divida o arquivo"_s.arg(path).arg(MaxChecks);
            return false;
        }
        // As one text each: a request holds at most 65,536 arrays.
        checks.append(
            u"%1;%2;%3"_s.arg(parts.at(0).trimmed(), parts.at(1).trimmed(), parts.at(2).trimmed()));
    }
    if (checks.isEmpty()) {
        *error =
            u"%1: nenhuma consulta no arquivo (só linhas em branco ou comentários)"_s.arg(path);
        return false;
    }
    return true;
}

bool parse(const QStringList &arguments, Options &o, QString *error) {
    QCommandLineParser parser;
    // The controller's commands from the same table the parser reads them by.
    QString commands;
    for (const Command &c : Commands)
        commands += u"\n  ger-consulta "_s + QString::fromUtf16(c.Usage);
    parser.setApplicationDescription(
        u"Pergunta ao servidor se os módulos podem lançar na contabilidade nas datas dadas.\n"
        "Saída 0: permitido (todas, com --file); 1: recusado; 2: erro.\n\n"
        "Com um token de contador, também encerra e concede exceções (saída 0: feito; 1: "
        "recusado pelo servidor; 2: erro):%1\n"
        "\n  ger-consulta encerrar --dry-run EMPRESAS DATA  (só diz o que impediria o "
        "encerramento)\nEMPRESAS é T ou códigos separados por vírgulas; excecoes e encerrar "
        "--dry-run bastam um token de auditor."_s.arg(commands));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOption({u"server"_s,
                      u"O servidor, ws://HOST:PORTA ou wss://HOST:PORTA (padrão: "
                      "ws://127.0.0.1:9400)."_s,
                      u"URL"_s, o.Url});
    parser.addOption({u"token-file"_s,
                      u"Arquivo com o token que o servidor exige (padrão: $GER_TOKEN_FILE)."_s,
                      u"ARQUIVO"_s});
    parser.addOption({u"ca-file"_s,
                      u"Certificados PEM a aceitar para wss:// além dos do sistema."_s,
                      u"ARQUIVO"_s});
    parser.addOption({u"file"_s,
                      u"Uma consulta EMPRESA;MODULO;DATA por linha; linhas vazias e as que "
                      "começam com # são ignoradas."_s,
                      u"ARQUIVO"_s});
    parser.addOption({u"dry-run"_s,
                      u"Com encerrar: diz o que impediria o encerramento (ou quantas empresas "
                      "ele encerraria), sem encerrar."_s});
    parser.addPositionalArgument(u"EMPRESA"_s, u"Código da empresa."_s);
    parser.addPositionalArgument(u"MODULO"_s, u"LANC, DFE, DFS, FIN, GPA, FIS ou VEXT."_s);
    parser.addPositionalArgument(u"DATA"_s, u"dd/mm/aaaa ou aaaa-mm-dd."_s);
    parser.process(arguments); // --help and --version end here

    o.Url = parser.value(u"server"_s);
    const QUrl url(o.Url, QUrl::StrictMode);
    if (!url.isValid() || (url.scheme() != u"ws"_s && url.scheme() != u"wss"_s) ||
        url.host().isEmpty()) {
        *error = u"Endereço do servidor inválido: %1 (use ws://HOST:PORTA)"_s.arg(o.Url);
        return false;
    }
    const QString tokenPath = parser.isSet(u"token-file"_s)
                                  ? parser.value(u"token-file"_s)
                                  : qEnvironmentVariable("GER_TOKEN_FILE");
    if (!tokenPath.isEmpty() && !TNetConnection::ReadTokenFile(tokenPath, o.Token, error))
        return false;
    o.CaFile = parser.value(u"ca-file"_s);
    if (!o.CaFile.isEmpty() && QSslCertificate::fromPath(o.CaFile).isEmpty()) {
        *error = u"Nenhum certificado PEM em %1"_s.arg(o.CaFile);
        return false;
    }
    if (!o.CaFile.isEmpty() && url.scheme() != u"wss"_s) {
        *error = u"--ca-file vale para servidores wss://"_s;
        return false;
    }
    const QStringList positional = parser.positionalArguments();
    if (const Command *command = positional.isEmpty() ? nullptr : findCommand(positional.first())) {
        const qsizetype given = positional.size() - 1;
        const bool dryRun = parser.isSet(u"dry-run"_s);
        if (dryRun && QStringView(command->Method) != u"Encerrar") {
            *error = u"--dry-run vale só para encerrar"_s;
            return false;
        }
        // A dry run needs no reason: it closes nothing.
        const qsizetype least = dryRun ? command->Least - 1 : command->Least;
        if (parser.isSet(u"file"_s) || given < least || given > command->Most) {
            *error = u"Uso: ger-consulta "_s + QString::fromUtf16(command->Usage);
            return false;
        }
        o.Command = dryRun ? u"ConferirEncerramento"_s : QString::fromUtf16(command->Method);
        o.Arguments = dryRun ? positional.mid(1, 2) : positional.mid(1);
        if (o.Command == u"ConcederExcecao"_s && given == 6)
            o.Arguments.append(QString());
        return true;
    }
    if (parser.isSet(u"dry-run"_s)) {
        *error = u"--dry-run vale só para encerrar"_s;
        return false;
    }
    if (parser.isSet(u"file"_s)) {
        if (!positional.isEmpty()) {
            *error = u"Use --file ou EMPRESA MODULO DATA, não ambos."_s;
            return false;
        }
        return readChecksFile(parser.value(u"file"_s), o.Checks, error);
    }
    if (positional.size() != 3) {
        *error = u"Uso: ger-consulta EMPRESA MODULO DATA, ger-consulta --file ARQUIVO, ou "
                 "ger-consulta encerrar|conceder|excecoes|revogar ..."_s;
        return false;
    }
    o.Checks.append(QJsonArray{positional.at(0), positional.at(1), positional.at(2)});
    return true;
}

QString day(const QJsonValue &iso) {
    const QString text = iso.toString();
    // The wire's aaaa-mm-dd, shown as the screens show a day.
    return text.size() >= 10 ? u"%1/%2/%3"_s.arg(text.mid(8, 2), text.mid(5, 2), text.left(4))
                             : text;
}

// One of the controller's commands: what the server did, or its refusal (exit 1).
int runCommand(TNetConnection &connection, const Options &o) {
    const TResultEnvelope result =
        connection.Call(o.Command, QJsonArray::fromStringList(o.Arguments));
    if (!result.Ok) {
        print(stdout, u"recusado: "_s + result.ErrorMessage);
        return 1;
    }
    const QJsonValue payload = result.PayloadValue();
    if (o.Command == u"Encerrar"_s) {
        print(stdout,
              u"encerrado até %1: %2 empresa(s)"_s.arg(o.Arguments.at(1)).arg(payload.toInteger()));
    } else if (o.Command == u"ConferirEncerramento"_s) {
        print(stdout, u"nada impede o encerramento até %1: %2 empresa(s) (--dry-run: nada foi "
                      "encerrado)"_s.arg(o.Arguments.at(1))
                          .arg(payload.toInteger()));
    } else if (o.Command == u"ConcederExcecao"_s) {
        print(stdout, u"exceção nº %1 concedida"_s.arg(payload.toInteger()));
    } else if (o.Command == u"RevogarExcecao"_s) {
        print(stdout, u"exceção nº %1 revogada"_s.arg(o.Arguments.at(0).trimmed()));
    } else {
        // NREXCECAO, CDEMPRESA, CDMODULO, DTINICIO, DTFIM, DTEXPIRA, DSMOTIVO, NMCLIENTE, ...
        for (const QJsonValue &row : payload[u"rows"_s].toArray()) {
            const QJsonArray f = row.toArray();
            const QString client =
                f.at(7).isNull() ? QString() : u" para %1"_s.arg(f.at(7).toString());
            print(stdout, u"nº %1 %2 %3 %4 a %5%6, validade %7, %8: %9"_s.arg(
                              QString::number(f.at(0).toInteger()), f.at(1).toString(),
                              f.at(2).isNull() ? u"todos"_s : f.at(2).toString(), day(f.at(3)),
                              day(f.at(4)), client, f.at(5).toString(), f.at(10).toString(),
                              f.at(6).toString()));
        }
    }
    return 0;
}

} // namespace

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(u"ger-consulta"_s);
    QCoreApplication::setApplicationVersion(QStringLiteral(GER_VERSION));
    Options o;
    QString error;
    if (!parse(QCoreApplication::arguments(), o, &error))
        return usageError(error);

    const QUrl url(o.Url);
    TNetConnection connection;
    connection.SetHost(url.host());
    connection.SetPort(url.port(9400));
    connection.SetUseTls(url.scheme() == u"wss"_s);
    connection.SetToken(QString::fromUtf8(o.Token));
    connection.SetServerName(u"Ger09400.Periodo"_s);
    connection.SetTimeoutMs(120000);
    if (!o.CaFile.isEmpty()) {
        QSslConfiguration config = QSslConfiguration::defaultConfiguration();
        QList<QSslCertificate> trusted = config.caCertificates();
        trusted += QSslCertificate::fromPath(o.CaFile);
        config.setCaCertificates(trusted);
        connection.SetSslConfiguration(config);
    }

    if (!o.Command.isEmpty()) {
        try {
            return runCommand(connection, o);
        } catch (const Exception &e) {
            return usageError(e.Message());
        }
    }

    QJsonArray answers;
    try {
        const TResultEnvelope result =
            connection.Call(u"Consulta"_s, QJsonArray{QJsonValue(o.Checks)});
        if (!result.Ok)
            return usageError(result.ErrorMessage);
        answers = result.PayloadValue().toArray();
    } catch (const Exception &e) {
        return usageError(e.Message());
    }
    if (answers.size() != o.Checks.size())
        return usageError(
            u"Resposta do servidor com %1 linha(s) para %2 consulta(s)."_s.arg(answers.size())
                .arg(o.Checks.size()));
    bool allAllowed = true;
    for (qsizetype i = 0; i < answers.size(); ++i) {
        const QJsonValue check = o.Checks.at(i);
        const QStringList part =
            check.isString()
                ? check.toString().split(u';')
                : QStringList{check[0].toString(), check[1].toString(), check[2].toString()};
        const QJsonArray answer = answers.at(i).toArray();
        const QString asked = u"%1 %2 %3: "_s.arg(part.value(0), part.value(1), part.value(2));
        if (answer.at(0).toString() == u"S"_s && answer.at(3).isNull()) {
            // Allowed by an exception, which the text names.
            print(stdout, asked + u"permitido: "_s + answer.at(2).toString());
        } else if (answer.at(0).toString() == u"S"_s) {
            print(stdout, asked + u"permitido (janela %1 a %2)"_s.arg(day(answer.at(3)),
                                                                      day(answer.at(4))));
        } else {
            allAllowed = false;
            print(stdout, asked + u"recusado: "_s + answer.at(2).toString());
        }
    }
    return allAllowed ? 0 : 1;
}
