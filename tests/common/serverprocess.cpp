#include "serverprocess.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

#include <csignal>
#include <cstdio>

QString ServerProcess::BinDir() {
    const QString dir = qEnvironmentVariable("GER_BIN_DIR");
    return dir.isEmpty() ? QCoreApplication::applicationDirPath() : dir;
}

QString ServerProcess::Executable() {
    return QDir(BinDir()).absoluteFilePath(QStringLiteral("ger-server"));
}

bool ServerProcess::Start(const QStringList &extra, quint16 port, const QString &seed) {
    Stop();
    m_output.clear();
    QStringList args{QStringLiteral("--db"), QStringLiteral("sqlite:") + DbPath(),
                     QStringLiteral("--listen"), QStringLiteral("127.0.0.1:%1").arg(port)};
    if (!seed.isEmpty())
        args << QStringLiteral("--seed") << seed;
    args << extra;
    m_process.setProcessChannelMode(QProcess::SeparateChannels);
    m_process.start(Executable(), args);
    if (!m_process.waitForStarted(10000)) {
        m_output += "ger-server did not start: " + m_process.errorString().toUtf8();
        return false;
    }
    static const QRegularExpression listening(QStringLiteral("escutando em wss?://[^\\s]+:(\\d+)"));
    const QDeadlineTimer deadline(60000);
    while (!deadline.hasExpired()) {
        if (m_process.state() == QProcess::NotRunning && !m_process.bytesAvailable())
            return false;
        m_process.waitForReadyRead(100);
        m_output += m_process.readAllStandardError();
        const auto match = listening.match(QString::fromUtf8(m_output));
        if (match.hasMatch()) {
            m_port = quint16(match.captured(1).toUInt());
            return true;
        }
    }
    return false;
}

void ServerProcess::Kill() {
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished(10000);
    }
}

void ServerProcess::Stop() {
    if (m_process.state() != QProcess::NotRunning) {
        ::kill(pid_t(m_process.processId()), SIGTERM);
        if (!m_process.waitForFinished(10000))
            Kill();
    }
}

QByteArray ServerProcess::Output() {
    m_output += m_process.readAllStandardError();
    return m_output;
}

qsizetype ServerProcess::LogMark() {
    // Settled: nothing new for a few of the server's flush periods.
    const QDeadlineTimer deadline(5000);
    qsizetype size = Output().size();
    QElapsedTimer quiet;
    quiet.start();
    while (quiet.elapsed() < 200 && !deadline.hasExpired()) {
        m_process.waitForReadyRead(50);
        const qsizetype now = Output().size();
        if (now != size) {
            size = now;
            quiet.restart();
        }
    }
    return size;
}

bool MakeThrowawayCertificate(const QString &dir, const QString &altNames) {
    QProcess openssl;
    openssl.start(QStringLiteral("openssl"),
                  {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"),
                   QStringLiteral("rsa:2048"), QStringLiteral("-nodes"), QStringLiteral("-keyout"),
                   dir + QStringLiteral("/key.pem"), QStringLiteral("-out"),
                   dir + QStringLiteral("/cert.pem"), QStringLiteral("-days"), QStringLiteral("2"),
                   QStringLiteral("-subj"), QStringLiteral("/CN=127.0.0.1"),
                   QStringLiteral("-addext"), QStringLiteral("subjectAltName=") + altNames});
    return openssl.waitForFinished(60000) && openssl.exitCode() == 0;
}

QStringList ServerProcess::LoggedCalls(qsizetype from) {
    LogMark();
    static const QByteArray object = QByteArrayLiteral("rdmParamCtbl.");
    QStringList calls;
    for (const QByteArray &line : Output().mid(from).split('\n')) {
        const qsizetype at = line.indexOf(object);
        if (at < 0)
            continue;
        const qsizetype start = at + object.size();
        calls << QString::fromUtf8(line.mid(start, line.indexOf(' ', start) - start));
    }
    return calls;
}

bool ServerProcess::ExecSql(const QStringList &statements) const {
    return ExecSqlite(DbPath(), statements);
}

bool ExecSqlite(const QString &path, const QStringList &statements) {
    static const QString name = QStringLiteral("exec-sqlite");
    bool ok = true;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        ok = db.open();
        QSqlQuery q(db);
        for (const QString &statement : statements) {
            if (!ok)
                break;
            ok = q.exec(statement);
            if (!ok)
                std::fprintf(stderr, "%s: %s\n", qPrintable(statement),
                             qPrintable(q.lastError().text()));
        }
    }
    QSqlDatabase::removeDatabase(name);
    return ok;
}

bool RunCommand(const QString &program, const QStringList &args, QString *output) {
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    const bool done = p.waitForFinished(120000);
    *output = QString::fromUtf8(p.readAll());
    return done && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}
