#include "changewatch.h"

#include "database.h"
#include "serverlog.h"

#include <QRandomGenerator>

#include <libpq-fe.h>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <optional>

using namespace Qt::StringLiterals;
using Clock = std::chrono::steady_clock;

namespace {

// How often the channel is proved to carry this connection's own word back, and how long the
// word may take: a lost channel is noticed within seconds, not at the system's TCP timeout.
constexpr auto ProbeEvery = std::chrono::seconds(5);
constexpr auto ProbeWithin = std::chrono::seconds(5);
constexpr auto RetryAfter = std::chrono::milliseconds(1000);

} // namespace

ChangeWatch::ChangeWatch(Database &database)
    : m_database(database) {
    if (database.Kind() != Database::Dialect::Postgres)
        return;
    if (pipe2(m_wake, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    m_thread = std::thread([this] { Run(); });
}

ChangeWatch::~ChangeWatch() {
    m_stop.store(true);
    if (m_wake[1] >= 0) {
        const char byte = 1;
        [[maybe_unused]] const ssize_t written = write(m_wake[1], &byte, 1);
    }
    if (m_thread.joinable())
        m_thread.join();
    for (const int fd : m_wake)
        if (fd >= 0)
            close(fd);
}

bool ChangeWatch::Wait(int fd, std::chrono::milliseconds timeout, bool *ready) {
    pollfd fds[2] = {{m_wake[0], POLLIN, 0}, {fd, POLLIN, 0}};
    const int count = poll(fds, fd >= 0 ? 2 : 1, int(timeout.count()));
    if (ready)
        *ready = count > 0 && fd >= 0 && fds[1].revents != 0;
    return !m_stop.load() && fds[0].revents == 0;
}

void ChangeWatch::Run() {
    bool lost = false;
    while (!m_stop.load()) {
        const bool heard = Listen();
        if (heard && !m_stop.load()) {
            ServerLog::Write(ServerLog::Level::Warn,
                             u"o aviso de mudanças do PostgreSQL caiu: a consulta de períodos lê "
                             "o banco a cada chamada até ele voltar"_s);
            lost = true;
        } else if (!heard && !lost && !m_stop.load()) {
            ServerLog::Write(ServerLog::Level::Warn,
                             u"sem aviso de mudanças do PostgreSQL: a consulta de períodos lê o "
                             "banco a cada chamada"_s);
            lost = true;
        }
        // Its connection goes with the thread's others: a new one is opened for the next try.
        Database::CloseThreadConnections();
        if (!Wait(-1, RetryAfter))
            break;
    }
    Database::CloseThreadConnections();
}

bool ChangeWatch::Listen() {
    PGconn *pg = nullptr;
    try {
        QSqlDatabase db = m_database.Connection();
        pg = Database::PostgresHandle(db);
    } catch (const CallFailure &) {
        return false;
    }
    if (!pg)
        return false;
    // The server's word on a dropped connection would reach the log as a bare line: the loss is
    // logged by Run, in the log's own form.
    PQsetNoticeProcessor(
        pg, [](void *, const char *) {}, nullptr);
    PGresult *result = PQexec(pg, "LISTEN ger_periodos");
    const bool listening = PQresultStatus(result) == PGRES_COMMAND_OK;
    PQclear(result);
    if (!listening)
        return false;
    // Hearing is proved, not assumed: this connection announces a word of its own on the
    // channel and must hear it back. A pooler that accepts LISTEN but hands the session to
    // someone else, or a peer gone without a word, fails the proof within seconds.
    const QByteArray word = "sonda " + QByteArray::number(QRandomGenerator::global()->generate64());
    const QByteArray probe = "SELECT pg_notify('ger_periodos', '" + word + "')";
    std::optional<Clock::time_point> sentAt;
    Clock::time_point nextProbe = Clock::now();
    for (;;) {
        const Clock::time_point now = Clock::now();
        if (!sentAt && now >= nextProbe) {
            if (!PQsendQuery(pg, probe.constData()))
                break;
            sentAt = now;
        }
        if (sentAt && now - *sentAt > ProbeWithin)
            break;
        bool ready = false;
        if (!Wait(PQsocket(pg), std::chrono::milliseconds(500), &ready))
            break;
        if (!ready)
            continue;
        if (!PQconsumeInput(pg))
            break;
        bool failed = false;
        while (!PQisBusy(pg)) {
            PGresult *answer = PQgetResult(pg);
            if (!answer)
                break;
            failed = failed || PQresultStatus(answer) == PGRES_FATAL_ERROR;
            PQclear(answer);
        }
        bool changed = false;
        while (PGnotify *notice = PQnotifies(pg)) {
            const QByteArrayView payload(notice->extra);
            if (payload == word) {
                sentAt.reset();
                nextProbe = Clock::now() + ProbeEvery;
                if (!Hearing()) {
                    // What was kept while nobody listened may be old: it goes first.
                    m_heard.fetch_add(1, std::memory_order_acq_rel);
                    m_hearing.store(true, std::memory_order_release);
                    ServerLog::Write(ServerLog::Level::Debug,
                                     u"ouvindo as mudanças de períodos do PostgreSQL"_s);
                }
            } else if (!payload.startsWith("sonda ")) {
                changed = true; // another server's proof changes nothing
            }
            PQfreemem(notice);
        }
        if (changed)
            m_heard.fetch_add(1, std::memory_order_acq_rel);
        if (failed || PQstatus(pg) != CONNECTION_OK)
            break;
    }
    const bool heard = Hearing();
    m_hearing.store(false, std::memory_order_release);
    m_heard.fetch_add(1, std::memory_order_acq_rel);
    return heard;
}
