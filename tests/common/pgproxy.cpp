#include "pgproxy.h"

#include <QTcpServer>
#include <QTcpSocket>

#include <vector>

namespace {

enum class State { Passing, Counting, Dropping, Frozen };

struct Session {
    State At = State::Passing;
    int Rows = 0;
    QByteArray Pending;
};

QByteArray message(char type, const QByteArray &body) {
    QByteArray out(1, type);
    const quint32 size = quint32(body.size() + 4);
    for (int shift : {24, 16, 8, 0})
        out += char((size >> shift) & 0xFF);
    return out + body;
}

} // namespace

class PgProxy::Engine final : public QObject {
public:
    Engine(quint16 target, Mode mode, QByteArray trigger, int rows, std::atomic<int> &spoilt)
        : m_target(target)
        , m_mode(mode)
        , m_trigger(std::move(trigger))
        , m_rows(rows)
        , m_spoilt(spoilt) {}

    quint16 Listen() {
        m_server = new QTcpServer(this);
        m_server->listen(QHostAddress::LocalHost);
        connect(m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *client = m_server->nextPendingConnection())
                pair(client);
        });
        return m_server->serverPort();
    }

    void Freeze() {
        for (const std::weak_ptr<Session> &watched : m_watched) {
            if (const std::shared_ptr<Session> session = watched.lock();
                session && session->At != State::Frozen) {
                session->At = State::Frozen;
                ++m_spoilt;
            }
        }
    }

private:
    void pair(QTcpSocket *client) {
        auto *upstream = new QTcpSocket(client);
        auto session = std::make_shared<Session>();
        connect(client, &QTcpSocket::readyRead, upstream, [=, this] {
            const QByteArray data = client->readAll();
            if (session->At == State::Passing && data.contains(m_trigger)) {
                session->Rows = 0;
                if (m_mode == Mode::Freeze)
                    m_watched.push_back(session);
                else
                    session->At = State::Counting;
            }
            upstream->write(data);
        });
        connect(upstream, &QTcpSocket::readyRead, client, [=, this] {
            if (session->At == State::Passing) {
                client->write(upstream->readAll());
                return;
            }
            session->Pending += upstream->readAll();
            if (session->At == State::Frozen) {
                session->Pending.clear();
                return;
            }
            // Whole messages only: a type byte and a length that counts itself.
            while (session->Pending.size() >= 5) {
                const auto *p = reinterpret_cast<const uchar *>(session->Pending.constData());
                const qsizetype size =
                    1 + qsizetype((quint32(p[1]) << 24) | (quint32(p[2]) << 16) |
                                  (quint32(p[3]) << 8) | quint32(p[4]));
                if (session->Pending.size() < size)
                    break;
                const QByteArray one = session->Pending.left(size);
                session->Pending.remove(0, size);
                if (session->At == State::Counting) {
                    if (one.at(0) == 'D' && session->Rows++ == m_rows) {
                        ++m_spoilt;
                        session->At = State::Dropping;
                        static const char fields[] = "SERROR\0VERROR\0C57014\0Mcanceling "
                                                     "statement due to statement timeout\0";
                        client->write(message('E', QByteArray(fields, sizeof fields)));
                    } else {
                        client->write(one);
                    }
                } else if (one.at(0) == 'Z') { // the server's own end of the result
                    client->write(message('Z', "E")); // as the client now believes it
                    session->At = State::Passing;
                    client->write(session->Pending);
                    session->Pending.clear();
                }
            }
        });
        connect(client, &QTcpSocket::disconnected, client, &QObject::deleteLater);
        connect(upstream, &QTcpSocket::disconnected, client,
                [client] { client->disconnectFromHost(); });
        upstream->connectToHost(QHostAddress::LocalHost, m_target);
    }

    QTcpServer *m_server = nullptr;
    quint16 m_target;
    Mode m_mode;
    QByteArray m_trigger;
    int m_rows;
    std::atomic<int> &m_spoilt;
    std::vector<std::weak_ptr<Session>> m_watched;
};

PgProxy::PgProxy(quint16 target, Mode mode, QByteArray trigger, int rows) {
    m_engine = new Engine(target, mode, std::move(trigger), rows, m_spoilt);
    m_engine->moveToThread(&m_thread);
    QObject::connect(&m_thread, &QThread::finished, m_engine, &QObject::deleteLater);
    m_thread.start();
    QMetaObject::invokeMethod(
        m_engine, [this] { return m_engine->Listen(); }, Qt::BlockingQueuedConnection, &m_port);
}

PgProxy::~PgProxy() {
    m_thread.quit();
    m_thread.wait();
}

void PgProxy::Freeze() {
    QMetaObject::invokeMethod(
        m_engine, [this] { m_engine->Freeze(); }, Qt::BlockingQueuedConnection);
}
