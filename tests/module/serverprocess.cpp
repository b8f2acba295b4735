#include "serverprocess.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QRegularExpression>

using namespace Qt::StringLiterals;

ServerProcess::ServerProcess(const QString &seed)
    : m_seed(seed) {}

ServerProcess::~ServerProcess() {
    Stop();
}

QString ServerProcess::BinDir() {
    const QString dir = qEnvironmentVariable("GER_BIN_DIR");
    return dir.isEmpty() ? QCoreApplication::applicationDirPath() : dir;
}

QString ServerProcess::DatabasePath() const {
    return m_dir.filePath(u"ger.db"_s);
}

QString ServerProcess::Url() const {
    return u"ws://127.0.0.1:%1"_s.arg(m_port);
}

bool ServerProcess::Start(QString *error) {
    QStringList args{u"--db"_s,        u"sqlite:"_s + DatabasePath(),
                     u"--listen"_s,    u"127.0.0.1:0"_s,
                     u"--log-level"_s, u"warn"_s};
    if (!m_seed.isEmpty())
        args << u"--seed"_s << m_seed;
    m_process.setProcessChannelMode(QProcess::SeparateChannels);
    m_process.start(QDir(BinDir()).absoluteFilePath(u"ger-server"_s), args);
    if (!m_process.waitForStarted(10000)) {
        *error = u"ger-server não iniciou: "_s + m_process.errorString();
        return false;
    }
    static const QRegularExpression listening(u"listening on ws://[^:\\s]+:(\\d+)"_s);
    QByteArray seen;
    const QDeadlineTimer deadline(60000);
    while (!deadline.hasExpired()) {
        m_process.waitForReadyRead(200);
        seen += m_process.readAllStandardError();
        const auto match = listening.match(QString::fromUtf8(seen));
        if (match.hasMatch()) {
            m_port = match.captured(1).toInt();
            return true;
        }
        if (m_process.state() == QProcess::NotRunning)
            break;
    }
    *error = u"ger-server não ficou pronto: "_s + QString::fromUtf8(seen);
    return false;
}

void ServerProcess::Stop() {
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(5000)) {
        m_process.kill();
        m_process.waitForFinished(2000);
    }
}
