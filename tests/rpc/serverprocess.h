#pragma once

// Runs the real ger-server for a suite or a benchmark: a throwaway SQLite database in a temporary
// folder, any free loopback port, and the port read back from the server's "listening on" line.

#include <QDeadlineTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QStringList>
#include <QTemporaryDir>

#include <csignal>

class ServerProcess final {
public:
    ServerProcess() = default;
    ~ServerProcess() { Stop(); }
    ServerProcess(const ServerProcess &) = delete;
    ServerProcess &operator=(const ServerProcess &) = delete;

    static QString Executable() {
        return qEnvironmentVariable("GER_BIN_DIR") + QStringLiteral("/ger-server");
    }

    // `port` 0 takes any free port; a given port restarts a server where a client expects it.
    bool Start(const QStringList &extra = {}, quint16 port = 0,
               const QString &seed = QStringLiteral("demo")) {
        Stop();
        m_output.clear();
        QStringList args{QStringLiteral("--db"), QStringLiteral("sqlite:") + DbPath(),
                         QStringLiteral("--listen"), QStringLiteral("127.0.0.1:%1").arg(port)};
        if (!seed.isEmpty())
            args << QStringLiteral("--seed") << seed;
        args << extra;
        m_process.setProcessChannelMode(QProcess::SeparateChannels);
        m_process.start(Executable(), args);
        if (!m_process.waitForStarted(10000))
            return false;
        static const QRegularExpression listening(
            QStringLiteral("listening on wss?://[^\\s]+:(\\d+)"));
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

    void Kill() {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(10000);
        }
    }

    void Stop() {
        if (m_process.state() != QProcess::NotRunning) {
            ::kill(pid_t(m_process.processId()), SIGTERM);
            if (!m_process.waitForFinished(10000))
                Kill();
        }
    }

    bool Running() const { return m_process.state() == QProcess::Running; }
    quint16 Port() const { return m_port; }
    QString DbPath() const { return m_dir.filePath(QStringLiteral("ger.db")); }
    QString Dir() const { return m_dir.path(); }
    QString Url() const { return QStringLiteral("ws://127.0.0.1:%1").arg(m_port); }
    QByteArray Output() {
        m_output += m_process.readAllStandardError();
        return m_output;
    }
    QProcess &Process() { return m_process; }

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    QByteArray m_output;
    quint16 m_port = 0;
};
