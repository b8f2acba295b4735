#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// Runs a program to its end (two minutes at most), its output and errors together in *output;
// true when it exited 0.
bool RunCommand(const QString &program, const QStringList &args, QString *output);

// Runs statements, in order, on a SQLite file; false (and the statement on stderr) at the first
// failure.
bool ExecSqlite(const QString &path, const QStringList &statements);

// A throwaway self-signed certificate for 127.0.0.1 (and the other names of `altNames`, as
// openssl writes a subjectAltName), as cert.pem and key.pem in `dir`, made with the openssl
// command; false when it could not be made. Being its own CA, it verifies itself.
bool MakeThrowawayCertificate(const QString &dir,
                              const QString &altNames = QStringLiteral("IP:127.0.0.1"));

// Runs the real ger-server for a suite or a benchmark: a throwaway SQLite database in a temporary
// folder, any free loopback port, and the port read back from the server's "escutando em" line.
class ServerProcess final {
public:
    ServerProcess() = default;
    ~ServerProcess() { Stop(); }
    ServerProcess(const ServerProcess &) = delete;
    ServerProcess &operator=(const ServerProcess &) = delete;

    static QString BinDir(); // GER_BIN_DIR, else the running test's own folder
    static QString Executable();

    // `port` 0 takes any free port; a given port restarts a server where a client expects it.
    // `seed` empty gives a database with no records at all. On failure Output() tells why.
    bool Start(const QStringList &extra = {}, quint16 port = 0,
               const QString &seed = QStringLiteral("demo"));
    void Kill();
    void Stop(); // SIGTERM, so the server can close cleanly; killed if it does not

    bool Running() const { return m_process.state() == QProcess::Running; }
    quint16 Port() const { return m_port; }
    QString DbPath() const { return m_dir.filePath(QStringLiteral("ger.db")); }
    QString Dir() const { return m_dir.path(); }
    QString Url() const { return QStringLiteral("ws://127.0.0.1:%1").arg(m_port); }
    QByteArray Output(); // everything the server wrote to stderr so far
    // The methods of the parameter object the log names from byte `from` of the output on, in
    // order ("SetContOpe"); needs --log-level info or lower. Waits for the log to settle first.
    QStringList LoggedCalls(qsizetype from);
    // Where the log stands once the lines of the calls made so far are out: the server writes
    // its log in batches, a few times a second.
    qsizetype LogMark();
    // Writes straight into the server's SQLite file, as set-up no client could do.
    bool ExecSql(const QStringList &statements) const;
    QProcess &Process() { return m_process; }

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    QByteArray m_output;
    quint16 m_port = 0;
};
