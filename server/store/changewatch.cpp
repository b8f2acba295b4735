#include "changewatch.h"

#include "database.h"
#include "serverlog.h"

#include <QRandomGenerator>

#include <libpq-fe.h>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <optional>

using namespace Qt::StringLiterals;
using Clock = std::chrono::steady_clock;

namespace {

// How often the channel is proved to carry this connection's own word back: often enough that
// each proof is renewed well inside ChangeWatch::TrustFor. A word that takes longer than
// ProbeWithin gives the session up (reads go to the database long before, when trust lapses).
constexpr auto ProbeEvery = std::chrono::milliseconds(500);
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

bool ChangeWatch::Wait(std::initializer_list<int> fds, std::chrono::milliseconds timeout,
                       bool *ready) {
    pollfd all[3] = {{m_wake[0], POLLIN, 0}, {-1, POLLIN, 0}, {-1, POLLIN, 0}};
    nfds_t count = 1;
    for (const int fd : fds)
        if (fd >= 0 && count < 3)
            all[count++] = {fd, POLLIN, 0};
    const int got = poll(all, count, int(timeout.count()));
    if (ready) {
        *ready = false;
        for (nfds_t i = 1; got > 0 && i < count; ++i)
            *ready = *ready || all[i].revents != 0;
    }
    return !m_stop.load() && all[0].revents == 0;
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
        if (!Wait({}, RetryAfter))
            break;
    }
    Database::CloseThreadConnections();
}

PGconn *ChangeWatch::Connect() {
    const QByteArray info = m_database.PostgresConnInfo();
    PGconn *pg = PQconnectStart(info.constData());
    if (!pg)
        return nullptr;
    PostgresPollingStatusType state = PGRES_POLLING_WRITING;
    const Clock::time_point until = Clock::now() + std::chrono::seconds(10);
    while (state != PGRES_POLLING_OK && state != PGRES_POLLING_FAILED && Clock::now() < until) {
        pollfd fds[2] = {
            {m_wake[0], POLLIN, 0},
            {PQsocket(pg), short(state == PGRES_POLLING_WRITING ? POLLOUT : POLLIN), 0}};
        if (poll(fds, 2, 100) < 0 || fds[0].revents != 0 || m_stop.load())
            break;
        if (fds[1].revents != 0)
            state = PQconnectPoll(pg);
    }
    if (state != PGRES_POLLING_OK) {
        PQfinish(pg);
        return nullptr;
    }
    PQsetNoticeProcessor(pg, &Database::PostgresNotice, nullptr);
    return pg;
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
    // Hearing is proved, not assumed: a word of this watch's own is announced on the channel
    // from another session, as every other program's change is, and must come back. A pooler
    // that hands the listening session's backend to others between transactions, or a peer
    // gone without a word, fails the proof within seconds.
    const std::unique_ptr<PGconn, void (*)(PGconn *)> sender(Connect(), PQfinish);
    if (!sender)
        return false;
    const QByteArray word = "sonda " + QByteArray::number(QRandomGenerator::global()->generate64());
    const QByteArray probe = "SELECT pg_notify('ger_periodos', '" + word + "')";
    std::optional<Clock::time_point> sentAt;
    Clock::time_point nextProbe = Clock::now();
    for (;;) {
        const Clock::time_point now = Clock::now();
        if (!sentAt && now >= nextProbe) {
            if (!PQsendQuery(sender.get(), probe.constData()))
                break;
            sentAt = now;
        }
        if (sentAt && now - *sentAt > ProbeWithin)
            break;
        bool ready = false;
        const auto wait =
            sentAt
                ? std::chrono::milliseconds(250)
                : std::clamp(std::chrono::duration_cast<std::chrono::milliseconds>(nextProbe - now),
                             std::chrono::milliseconds(1), std::chrono::milliseconds(250));
        if (!Wait({PQsocket(pg), PQsocket(sender.get())}, wait, &ready))
            break;
        if (!ready)
            continue;
        if (!PQconsumeInput(pg) || !PQconsumeInput(sender.get()))
            break;
        bool failed = false;
        for (PGconn *each : {pg, sender.get()}) {
            while (!PQisBusy(each)) {
                PGresult *answer = PQgetResult(each);
                if (!answer)
                    break;
                failed = failed || PQresultStatus(answer) == PGRES_FATAL_ERROR;
                PQclear(answer);
            }
        }
        bool changed = false;
        while (PGnotify *notice = PQnotifies(pg)) {
            const QByteArrayView payload(notice->extra);
            if (payload == word && sentAt) {
                // Notices arrive in the order their transactions committed: every change
                // committed before the word was sent has been heard by now.
                const Clock::rep until =
                    (*sentAt + ChangeWatch::TrustFor).time_since_epoch().count();
                const bool lapsed = m_hearing.load(std::memory_order_acquire) &&
                                    Clock::now().time_since_epoch().count() >=
                                        m_trustedUntil.load(std::memory_order_acquire);
                m_trustedUntil.store(until, std::memory_order_release);
                if (lapsed)
                    m_heard.fetch_add(1, std::memory_order_acq_rel); // kept while in doubt: gone
                sentAt.reset();
                nextProbe = Clock::now() + ProbeEvery;
                if (!m_hearing.load(std::memory_order_acquire)) {
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
        // The sender hears nothing: whatever reached it is drained so it cannot pile up.
        while (PGnotify *notice = PQnotifies(sender.get()))
            PQfreemem(notice);
        if (changed)
            m_heard.fetch_add(1, std::memory_order_acq_rel);
        if (failed || PQstatus(pg) != CONNECTION_OK || PQstatus(sender.get()) != CONNECTION_OK)
            break;
    }
    const bool heard = m_hearing.load(std::memory_order_acquire);
    m_hearing.store(false, std::memory_order_release);
    m_heard.fetch_add(1, std::memory_order_acq_rel);
    return heard;
}
