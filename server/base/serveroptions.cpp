#include "serveroptions.h"

#include "seedname.h"

#include <QCommandLineParser>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSet>
#include <QUrl>

using namespace Qt::StringLiterals;

namespace {

// Every option of ger-server, for parsing and for the help text alike.
void Describe(QCommandLineParser &parser) {
    parser.setApplicationDescription(
        u"Ger - Parâmetro Contábil: o servidor de aplicação. As opções também podem vir de um "
        "arquivo (--config); as da linha de comando prevalecem.\n\n"
        "ger-server import {empresas|saldos|lancamentos} ARQUIVO: importa um CSV (\";\" ou "
        "\",\", UTF-8 ou Windows-1252, datas dd/mm/aaaa) no banco de --db ou --config, mesmo "
        "com o serviço rodando; um arquivo com qualquer linha inválida não grava nada. Coluna "
        "REMOVER=S remove empresas sem registros.\n"
        "ger-server export {empresas|saldos|lancamentos|parametros|paramgeral|fechamentos|"
        "historico} ARQUIVO|-: exporta no mesmo formato (- é a saída padrão).\n"
        "ger-server copy --db ORIGEM --to DESTINO: copia o banco inteiro (SQLite para "
        "PostgreSQL ou o contrário) para um destino sem dados e confere cada tabela; pare o "
        "serviço antes.\n"
        "ger-server check: lista os registros que os clientes não conseguem ler e os saldos e "
        "lançamentos de empresas que EMPRESA não tem, e confere a cadeia de hashes do histórico "
        "de alterações; saída 0 nada encontrado, 1 encontrou ou não conseguiu ler o banco, 2 "
        "linha de comando errada.\n"
        "ger-server prune-history DATA ARQUIVO: grava em ARQUIVO e remove do histórico as "
        "alterações anteriores a DATA; o que fica continua conferindo.\n"
        "O comando vem antes ou depois das opções. import aceita --dry-run (só confere o arquivo "
        "e diz o que faria, sem gravar); export aceita --encoding utf8|utf8-bom|cp1252 (utf8-bom "
        "para o Excel atual, cp1252 para versões antigas)."_s);
    parser.addOption({{u"h"_s, u"help"_s}, u"Mostra esta ajuda e termina."_s});
    parser.addOption({{u"v"_s, u"version"_s}, u"Mostra a versão e termina."_s});
    parser.addOption({u"config"_s,
                      u"Arquivo de configuração: uma opção por linha, \"chave = valor\" (por "
                      "exemplo \"listen = 0.0.0.0:9400\")."_s,
                      u"arquivo"_s});
    parser.addOption({u"db"_s,
                      u"Banco: sqlite:CAMINHO, ou um endereço PostgreSQL como o libpq o lê "
                      "(postgresql://usuario@host:porta/banco?parametro=valor, vários hosts, ou "
                      "\"host=... dbname=...\"; a senha vem de PGPASSWORD ou do arquivo "
                      "~/.pgpass). Padrão: sqlite:ger.db."_s,
                      u"url"_s, ServerOptions().Db});
    parser.addOption({u"listen"_s,
                      u"Endereço em que escutar (porta 0: qualquer livre). Padrão: "
                      "127.0.0.1:9400."_s,
                      u"host:porta"_s, u"127.0.0.1:9400"_s});
    parser.addOption(
        {u"seed"_s, u"Preenche um banco vazio: demo, large ou large:N (N empresas)."_s, u"tipo"_s});
    parser.addOption({u"token-file"_s,
                      u"Arquivo com o token (32 caracteres ou mais) que todo cliente deve enviar; "
                      "só o dono pode lê-lo."_s,
                      u"arquivo"_s});
    parser.addOption(
        {u"tls-cert"_s, u"Certificado PEM: serve wss:// em vez de ws://."_s, u"arquivo"_s});
    parser.addOption({u"tls-key"_s, u"Chave privada PEM do certificado."_s, u"arquivo"_s});
    parser.addOption({u"log-level"_s,
                      u"Nível do registro: debug, info, warn ou error. Padrão: info."_s, u"nível"_s,
                      u"info"_s});
    parser.addOption({u"allow-origin"_s,
                      u"Origem web (esquema://host[:porta]) cujas páginas podem conectar; pode "
                      "repetir. Handshakes com qualquer outra Origin são recusados; clientes "
                      "que não enviam Origin não são afetados."_s,
                      u"origem"_s});
    parser.addOption({u"idle-timeout"_s,
                      u"Fecha a conexão que nada envia nem espera por este tempo (0: nunca). "
                      "Padrão: 600."_s,
                      u"segundos"_s, u"600"_s});
    parser.addOption({u"message-timeout"_s,
                      u"Fecha a conexão cuja mensagem, começada, não termina neste tempo. "
                      "Padrão: 60."_s,
                      u"segundos"_s, u"60"_s});
    parser.addOption({u"write-wait"_s,
                      u"Quanto uma chamada que grava espera pela gravação de outro programa no "
                      "banco SQLite (uma importação, por exemplo) antes de responder que o banco "
                      "está ocupado. Padrão: 25 (os clientes desistem em 30)."_s,
                      u"segundos"_s, u"25"_s});
    parser.addOption({u"metrics-listen"_s,
                      u"Endereço em que servir GET /metrics (formato de texto do Prometheus), "
                      "separado do endereço dos clientes (porta 0: qualquer livre). Padrão: "
                      "nenhum."_s,
                      u"host:porta"_s});
    parser.addOption({u"drain-time"_s,
                      u"Ao receber o sinal de parada, por quanto tempo GET /health responde 503 "
                      "enquanto as chamadas ainda são atendidas, para o balanceador tirar o "
                      "servidor de serviço antes (só quando GET /health foi pedido no último "
                      "minuto; 0: para na hora). Padrão: 10."_s,
                      u"segundos"_s, u"10"_s});
    parser.addOption({u"no-history"_s,
                      u"Não registra o histórico de alterações (só para medir o seu custo; o "
                      "registro é o padrão)."_s});
}

// Options a configuration file may set: every one that takes a value, but the file itself.
const QSet<QString> &ConfigurableKeys() {
    static const QSet<QString> keys = {
        u"db"_s,           u"listen"_s,          u"seed"_s,       u"token-file"_s,
        u"tls-cert"_s,     u"tls-key"_s,         u"log-level"_s,  u"allow-origin"_s,
        u"idle-timeout"_s, u"message-timeout"_s, u"write-wait"_s, u"metrics-listen"_s,
        u"drain-time"_s};
    return keys;
}

// The commands' own options, which they take off the line before the server's are read: true
// for one that takes a value.
const QHash<QString, bool> &CommandOptions() {
    static const QHash<QString, bool> own = {
        {u"to"_s, true}, {u"encoding"_s, true}, {u"dry-run"_s, false}};
    return own;
}

// Every option name ger-server knows, long and short: true for one that takes a value. Kept
// beside Describe, which declares the same names to the parser.
const QHash<QString, bool> &KnownOptions() {
    static const QHash<QString, bool> known = [] {
        QHash<QString, bool> all = CommandOptions();
        for (const char *flag : {"h", "help", "v", "version", "no-history"})
            all.insert(QString::fromLatin1(flag), false);
        all.insert(u"config"_s, true);
        for (const QString &valued : ConfigurableKeys())
            all.insert(valued, true);
        return all;
    }();
    return known;
}

// What is wrong with the options among `arguments` (from index 1), each known to `known`;
// empty when nothing is. Operands are left alone; `operands` receives them, `options` the rest.
QString SortArguments(const QStringList &arguments, const QHash<QString, bool> &known,
                      QStringList *operands, QStringList *options) {
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString &a = arguments.at(i);
        if (a == u"--"_s) {
            if (operands)
                *operands += arguments.mid(i + 1);
            break;
        }
        if (!a.startsWith(u'-') || a == u"-"_s) {
            if (operands)
                operands->append(a);
            continue;
        }
        QStringList names;
        QString shown = a;
        const qsizetype equals = a.indexOf(u'=');
        if (a.startsWith(u"--"_s)) {
            names << a.mid(2, equals < 0 ? -1 : equals - 2);
            shown = u"--"_s + names.constFirst();
        } else {
            // Single letters may come together, as in -hv.
            for (const QChar c : a.mid(1, equals < 0 ? -1 : equals - 1))
                names << QString(c);
        }
        bool takesNext = false;
        for (qsizetype n = 0; n < names.size(); ++n) {
            const auto found = known.constFind(names.at(n));
            if (found == known.constEnd())
                return u"opção desconhecida: %1 (veja ger-server --help)"_s.arg(
                    names.size() > 1 ? u"-"_s + names.at(n) : shown);
            const bool last = n + 1 == names.size();
            if (!*found || !last) {
                if (last && equals >= 0)
                    return u"a opção %1 não leva valor"_s.arg(shown);
                continue;
            }
            // A value that is the next option is a value forgotten: "--db --config x" must not
            // open a database called "--config".
            const QString value = equals >= 0 ? a.mid(equals + 1) : arguments.value(i + 1);
            if (value.isEmpty() || (equals < 0 && value.startsWith(u"--"_s)))
                return u"a opção %1 espera um valor"_s.arg(shown);
            takesNext = equals < 0;
        }
        if (options)
            options->append(a);
        if (takesNext) {
            ++i;
            if (options)
                options->append(arguments.at(i));
        }
    }
    return {};
}

// The parser's own two headings, which Qt writes in English without its translations.
QString PortugueseHelp(QString text) {
    text.replace(u"Usage: "_s, u"Uso: "_s);
    text.replace(u"Options:"_s, u"Opções:"_s);
    text.replace(u" [options]"_s, u" [opções]"_s);
    return text;
}

bool ConfigurableKey(const QString &key) {
    return ConfigurableKeys().contains(key);
}

} // namespace

bool ServerOptions::ParseListen(const QString &text, QHostAddress &address, quint16 &port) {
    const qsizetype colon = text.lastIndexOf(u':');
    if (colon <= 0)
        return false;
    QString host = text.left(colon);
    if (host.startsWith(u'[') && host.endsWith(u']'))
        host = host.mid(1, host.size() - 2);
    bool ok = false;
    const uint number = text.mid(colon + 1).toUInt(&ok);
    if (!ok || number > 65535)
        return false;
    QHostAddress parsed;
    if (host.compare(u"localhost"_s, Qt::CaseInsensitive) == 0)
        parsed = QHostAddress(QHostAddress::LocalHost);
    else if (!parsed.setAddress(host))
        return false;
    address = parsed;
    port = quint16(number);
    return true;
}

QString ServerOptions::UnreadableFile(const QString &path) {
    const QFileInfo info(path);
    if (!info.exists())
        return u"arquivo não encontrado: %1"_s.arg(path);
    if (info.isDir())
        return u"é uma pasta, não um arquivo: %1"_s.arg(path);
    if (!info.isReadable())
        return u"sem permissão para ler o arquivo: %1"_s.arg(path);
    return {};
}

bool ServerOptions::ReadConfig(const QString &path, QStringList &arguments, QString *error) {
    if (const QString fault = UnreadableFile(path); !fault.isEmpty()) {
        *error = fault;
        return false;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        *error = u"não foi possível ler o arquivo de configuração %1: %2"_s.arg(path,
                                                                                file.errorString());
        return false;
    }
    // A configuration file is a few lines; anything this big is not one.
    constexpr qint64 MaxBytes = 64 * 1024;
    if (file.size() > MaxBytes) {
        *error = u"arquivo de configuração grande demais: %1"_s.arg(path);
        return false;
    }
    int number = 0;
    while (!file.atEnd()) {
        ++number;
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.isEmpty() || line.startsWith(u'#'))
            continue;
        const qsizetype equals = line.indexOf(u'=');
        const QString key = line.left(equals).trimmed();
        // Only the key is shown: the value may be an address with its password.
        if (equals < 0) {
            *error = u"%1, linha %2: esperado \"chave = valor\" com uma das opções do servidor, "
                     "encontrada uma linha sem \"=\""_s.arg(path)
                         .arg(number);
            return false;
        }
        if (!ConfigurableKey(key)) {
            *error = u"%1, linha %2: esperado \"chave = valor\" com uma das opções do servidor, "
                     "encontrada a chave \"%3\""_s.arg(path)
                         .arg(number)
                         .arg(ServerLog::Escape(key, 40));
            return false;
        }
        arguments << u"--"_s + key << line.mid(equals + 1).trimmed();
    }
    return true;
}

bool ServerOptions::Arrange(const QStringList &arguments, QStringList &arranged, QString *error) {
    QStringList operands, options;
    const QString fault = SortArguments(arguments, KnownOptions(), &operands, &options);
    if (!fault.isEmpty()) {
        *error = fault;
        return false;
    }
    arranged = QStringList{arguments.value(0)} + operands + options;
    return true;
}

bool ServerOptions::Parse(const QStringList &arguments, ServerOptions &out, QString *error,
                          QString *text) {
    static const QHash<QString, bool> serverOnly = [] {
        QHash<QString, bool> known = KnownOptions();
        for (auto it = CommandOptions().cbegin(); it != CommandOptions().cend(); ++it)
            known.remove(it.key());
        return known;
    }();
    // Qt's parser says what is wrong in English; these are the faults an operator makes.
    if (const QString fault = SortArguments(arguments, serverOnly, nullptr, nullptr);
        !fault.isEmpty()) {
        *error = fault;
        return false;
    }
    QCommandLineParser parser;
    Describe(parser);
    if (!parser.parse(arguments)) {
        *error = parser.errorText();
        return false;
    }
    if (parser.isSet(u"help"_s)) {
        *text = PortugueseHelp(parser.helpText());
        return true;
    }
    if (parser.isSet(u"version"_s)) {
        *text = u"ger-server %1"_s.arg(QStringLiteral(GER_VERSION));
        return true;
    }
    if (!parser.positionalArguments().isEmpty()) {
        *error = u"argumento inesperado: %1"_s.arg(parser.positionalArguments().constFirst());
        return false;
    }
    if (parser.isSet(u"config"_s)) {
        // The file's values come first, and only for options the command line leaves unset.
        QStringList fromFile;
        if (!ReadConfig(parser.value(u"config"_s), fromFile, error))
            return false;
        QStringList merged{arguments.value(0)};
        for (qsizetype i = 0; i + 1 < fromFile.size(); i += 2) {
            if (!parser.isSet(fromFile[i].mid(2)))
                merged << fromFile[i] << fromFile[i + 1];
        }
        merged += arguments.mid(1);
        if (const QString fault = SortArguments(merged, serverOnly, nullptr, nullptr);
            !fault.isEmpty()) {
            *error = u"%1: %2"_s.arg(parser.value(u"config"_s), fault);
            return false;
        }
        if (!parser.parse(merged)) {
            *error = parser.errorText();
            return false;
        }
    }

    ServerOptions o;
    o.Db = parser.value(u"db"_s);
    o.ListenHost = parser.value(u"listen"_s);
    if (!ParseListen(o.ListenHost, o.ListenAddress, o.ListenPort)) {
        *error =
            u"--listen espera HOST:PORTA com endereço numérico; recebeu \"%1\""_s.arg(o.ListenHost);
        return false;
    }
    o.Seed = parser.value(u"seed"_s);
    if (!o.Seed.isEmpty() && !SeedName::Valid(o.Seed, error))
        return false;
    o.TokenFile = parser.value(u"token-file"_s);
    o.History = !parser.isSet(u"no-history"_s);
    bool ok = false;
    const QString idle = parser.value(u"idle-timeout"_s);
    o.IdleTimeoutSeconds = idle.toInt(&ok);
    if (!ok || o.IdleTimeoutSeconds < 0 || o.IdleTimeoutSeconds > 7 * 24 * 3600) {
        *error = u"--idle-timeout espera segundos de 0 a 604800; recebeu \"%1\""_s.arg(idle);
        return false;
    }
    const QString message = parser.value(u"message-timeout"_s);
    o.MessageTimeoutSeconds = message.toInt(&ok);
    if (!ok || o.MessageTimeoutSeconds < 1 || o.MessageTimeoutSeconds > 3600) {
        *error = u"--message-timeout espera segundos de 1 a 3600; recebeu \"%1\""_s.arg(message);
        return false;
    }
    const QString wait = parser.value(u"write-wait"_s);
    o.WriteWaitSeconds = wait.toInt(&ok);
    if (!ok || o.WriteWaitSeconds < 1 || o.WriteWaitSeconds > 3600) {
        *error = u"--write-wait espera segundos de 1 a 3600; recebeu \"%1\""_s.arg(wait);
        return false;
    }
    const QString drain = parser.value(u"drain-time"_s);
    o.DrainSeconds = drain.toInt(&ok);
    if (!ok || o.DrainSeconds < 0 || o.DrainSeconds > 600) {
        *error = u"--drain-time espera segundos de 0 a 600; recebeu \"%1\""_s.arg(drain);
        return false;
    }
    if (parser.isSet(u"metrics-listen"_s)) {
        o.MetricsHost = parser.value(u"metrics-listen"_s);
        if (!ParseListen(o.MetricsHost, o.MetricsAddress, o.MetricsPort)) {
            *error = u"--metrics-listen espera HOST:PORTA com endereço numérico; recebeu "
                     "\"%1\""_s.arg(o.MetricsHost);
            return false;
        }
    }
    for (const QString &allowed : parser.values(u"allow-origin"_s)) {
        const QUrl url(allowed, QUrl::StrictMode);
        if (!url.isValid() || url.scheme().isEmpty() || url.host().isEmpty() ||
            !url.path().isEmpty()) {
            *error = u"--allow-origin espera esquema://host[:porta]; recebeu \"%1\""_s.arg(allowed);
            return false;
        }
        o.AllowedOrigins << url.toString(QUrl::FullyEncoded).toLower();
    }
    o.TlsCert = parser.value(u"tls-cert"_s);
    o.TlsKey = parser.value(u"tls-key"_s);
    if (o.TlsCert.isEmpty() != o.TlsKey.isEmpty()) {
        *error = u"--tls-cert e --tls-key vão juntos"_s;
        return false;
    }
    if (!ServerLog::ParseLevel(parser.value(u"log-level"_s), o.Level)) {
        *error = u"--log-level espera debug, info, warn ou error"_s;
        return false;
    }
    out = o;
    return true;
}
