#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

// A real ger-server on loopback, on a free port, over a SQLite file in a temporary folder.
class ServerProcess final {
public:
    // seed: "demo" or empty for a database with no records at all.
    explicit ServerProcess(const QString &seed = QStringLiteral("demo"));
    ~ServerProcess();

    bool Start(QString *error); // waits for the "listening on" line
    void Stop();
    int Port() const { return m_port; }
    QString Url() const;
    QString DatabasePath() const;
    static QString BinDir();

private:
    QString m_seed;
    QTemporaryDir m_dir;
    QProcess m_process;
    int m_port = 0;
};
