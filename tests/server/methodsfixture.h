#pragma once

// A real ger-server with the demo seed on a fresh database for each test: a new SQLite file, or,
// when GER_TEST_PG_URL names a PostgreSQL server, a new database on it. The suite also opens the
// same database directly to look at what a call wrote and to plant faults.

#include "netconnection.h"
#include "packet.h"
#include "serverprocess.h"

#include <QCoreApplication>
#include <QJsonObject>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QUrl>

#include <memory>

class MethodsFixture final {
public:
    static bool OnPostgres() { return !qEnvironmentVariableIsEmpty("GER_TEST_PG_URL"); }

    // Starts the server on a new database; false with *error when anything fails.
    bool Start(QString *error) {
        Stop();
        ++s_counter;
        m_server = std::make_unique<ServerProcess>(); // a new folder, so a new SQLite file
        QStringList extra;
        if (OnPostgres()) {
            const QString name = QStringLiteral("ger_methods_%1_%2")
                                     .arg(QCoreApplication::applicationPid())
                                     .arg(s_counter);
            QSqlDatabase admin = Direct(AdminUrl(), QStringLiteral("admin"));
            if (!admin.isOpen()) {
                *error = admin.lastError().text();
                return false;
            }
            QSqlQuery q(admin);
            if (!q.exec(QStringLiteral("CREATE DATABASE %1").arg(name))) {
                *error = q.lastError().text();
                return false;
            }
            QUrl url(AdminUrl());
            url.setPath(QLatin1Char('/') + name);
            m_url = url.toString();
            // A later --db replaces the suite's default SQLite file.
            extra << QStringLiteral("--db") << m_url;
        } else {
            m_url = QStringLiteral("sqlite:") + m_server->DbPath();
        }
        if (!m_server->Start(extra)) {
            *error = QString::fromUtf8(m_server->Output());
            return false;
        }
        return true;
    }

    // The server dies at once (kill -9) and a new one starts on the same database.
    bool KillAndRestart(QString *error) {
        m_clients.clear();
        m_server->Kill();
        QStringList extra;
        if (OnPostgres())
            extra << QStringLiteral("--db") << m_url;
        if (m_server->Start(extra, 0, QString()))
            return true;
        *error = QString::fromUtf8(m_server->Output());
        return false;
    }

    // A new server on the same database, after the last one was stopped.
    bool Restart(QString *error) {
        m_clients.clear();
        if (m_server->Start(OnPostgres() ? QStringList{QStringLiteral("--db"), m_url}
                                         : QStringList{},
                            0, QString()))
            return true;
        *error = QString::fromUtf8(m_server->Output());
        return false;
    }
    ServerProcess &Server() { return *m_server; }

    quint16 Port() const { return m_server->Port(); }
    // The URL the server was started on, for a command to run beside it.
    QString Url() const { return m_url; }

    // `ger-server check` on the server's database, as the next start would judge it: true when
    // it finds nothing, else false with what it printed.
    bool Check(QString *error) const {
        QProcess p;
        p.start(ServerProcess::Executable(),
                {QStringLiteral("check"), QStringLiteral("--db"), m_url});
        p.waitForFinished(60000);
        if (p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0)
            return true;
        *error = QString::fromUtf8(p.readAllStandardOutput() + p.readAllStandardError());
        return false;
    }

    // The URL of a new database with nothing in it (no schema): a new PostgreSQL database, or
    // a SQLite file in the server's folder. Empty with *error on failure.
    QString NewEmptyDatabase(QString *error) {
        ++s_counter;
        if (!OnPostgres())
            return QStringLiteral("sqlite:%1/empty-%2.db").arg(m_server->Dir()).arg(s_counter);
        const QString name = QStringLiteral("ger_empty_%1_%2")
                                 .arg(QCoreApplication::applicationPid())
                                 .arg(s_counter);
        QSqlDatabase admin = Direct(AdminUrl(), QStringLiteral("admin"));
        QSqlQuery q(admin);
        if (!admin.isOpen() || !q.exec(QStringLiteral("CREATE DATABASE %1").arg(name))) {
            *error = admin.isOpen() ? q.lastError().text() : admin.lastError().text();
            return {};
        }
        QUrl url(AdminUrl());
        url.setPath(QLatin1Char('/') + name);
        return url.toString();
    }

    // One more server on the same database, as when several serve one PostgreSQL database.
    bool StartSecond(QString *error, const QStringList &extra = {}) {
        m_second = std::make_unique<ServerProcess>();
        if (m_second->Start(QStringList{QStringLiteral("--db"), m_url} + extra, 0, QString()))
            return true;
        *error = QString::fromUtf8(m_second->Output());
        return false;
    }

    quint16 SecondPort() const { return m_second->Port(); }
    QByteArray SecondOutput() { return m_second->Output(); }

    TNetConnection &SecondClient(const QString &object = QStringLiteral("Ger09400.rdmParamCtbl")) {
        TNetConnection &c = Client(object);
        c.SetPort(m_second->Port());
        return c;
    }

    void Stop() {
        m_clients.clear();
        if (m_second)
            m_second->Stop();
        if (m_server)
            m_server->Stop();
        if (QSqlDatabase::contains(QStringLiteral("direct"))) {
            QSqlDatabase::database(QStringLiteral("direct"), false).close();
            QSqlDatabase::removeDatabase(QStringLiteral("direct"));
        }
    }

    // A new client of the parameter object (or of `object`), throwing on failed envelopes off.
    TNetConnection &Client(const QString &object = QStringLiteral("Ger09400.rdmParamCtbl")) {
        auto c = std::make_unique<TNetConnection>();
        c->SetHost(QStringLiteral("127.0.0.1"));
        c->SetPort(m_server->Port());
        c->SetServerName(object);
        c->SetTimeoutMs(60000);
        m_clients.push_back(std::move(c));
        return *m_clients.back();
    }

    QByteArray ServerOutput() { return m_server->Output(); }

    // The server's database, opened by the test itself.
    QSqlDatabase Db() { return Direct(m_url, QStringLiteral("direct")); }

    // First column of the first row, or an invalid QVariant.
    QVariant Scalar(const QString &sql) {
        QSqlQuery q(Db());
        if (!q.exec(sql) || !q.next())
            return {};
        return q.value(0);
    }

    // The first column of every row, as text ("-" for null).
    QStringList Column(const QString &sql) { return Column(Db(), sql); }
    static QStringList Column(const QSqlDatabase &db, const QString &sql) {
        QSqlQuery q(db);
        QStringList out;
        if (!q.exec(sql))
            return {QStringLiteral("<erro> ") + q.lastError().text()};
        while (q.next())
            out << (q.value(0).isNull() ? QStringLiteral("-") : q.value(0).toString());
        return out;
    }

    bool Exec(const QString &sql, QString *error) {
        QSqlQuery q(Db());
        if (q.exec(sql))
            return true;
        *error = q.lastError().text();
        return false;
    }

    // A connection of the test's own to the database at `url`, under `name`.
    static QSqlDatabase Direct(const QString &url, const QString &name) {
        if (QSqlDatabase::contains(name)) {
            QSqlDatabase db = QSqlDatabase::database(name, false);
            if (db.isOpen())
                return db;
            QSqlDatabase::removeDatabase(name);
        }
        QSqlDatabase db;
        if (url.startsWith(QStringLiteral("sqlite:"))) {
            db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
            db.setDatabaseName(url.mid(7));
            db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000"));
        } else {
            const QUrl parsed(url);
            db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name);
            db.setHostName(parsed.host());
            db.setPort(parsed.port(5432));
            db.setUserName(parsed.userName());
            db.setDatabaseName(parsed.path().mid(1));
        }
        db.open();
        return db;
    }

private:
    static QString AdminUrl() { return qEnvironmentVariable("GER_TEST_PG_URL"); }

    static inline int s_counter = 0;
    std::unique_ptr<ServerProcess> m_server;
    std::unique_ptr<ServerProcess> m_second;
    QString m_url;
    std::vector<std::unique_ptr<TNetConnection>> m_clients;
};
