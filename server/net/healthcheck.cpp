#include "healthcheck.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>

using namespace Qt::StringLiterals;

HealthCheck::HealthCheck(std::function<Probe()> probe, std::function<void()> threadEnds,
                         QObject *parent)
    : QObject(parent)
    , m_probe(std::move(probe))
    , m_threadEnds(std::move(threadEnds)) {
    m_bound.setSingleShot(true);
    m_bound.setInterval(BoundMs);
    connect(&m_bound, &QTimer::timeout, this, [this] {
        AnswerAll(Compose({}, u"timeout"_s, QCoreApplication::applicationVersion()));
    });
}

HealthCheck::~HealthCheck() {
    {
        std::lock_guard lock(m_lock);
        m_quit = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

HealthCheck::Answer HealthCheck::Compose(const Probe &probe, const QString &failure,
                                         const QString &version) {
    QString reason = failure;
    if (reason.isEmpty() && !probe.Reached)
        reason = u"database"_s;
    if (reason.isEmpty() && probe.SchemaVersion > probe.KnownVersion)
        reason = u"schema_newer"_s;
    QJsonObject body{{u"status"_s, reason.isEmpty() ? u"ok"_s : u"unavailable"_s},
                     {u"version"_s, version}};
    if (!reason.isEmpty())
        body.insert(u"reason"_s, reason);
    // What is known besides: a timeout or a stop did not ask the database.
    if (failure.isEmpty()) {
        if (!probe.Kind.isEmpty())
            body.insert(u"database"_s, probe.Kind);
        if (probe.Reached)
            body.insert(u"schemaVersion"_s, probe.SchemaVersion);
        body.insert(u"gateHearing"_s, probe.Hearing);
    }
    return {reason.isEmpty() ? 200 : 503, QJsonDocument(body).toJson(QJsonDocument::Compact)};
}

void HealthCheck::Ask(std::function<void(const Answer &)> reply) {
    m_askedAt.start();
    const QString version = QCoreApplication::applicationVersion();
    if (m_stopping) {
        reply(Compose({}, u"stopping"_s, version));
        return;
    }
    if (!m_probe) {
        reply(Compose({true, 0, 0, QString(), false}, QString(), version));
        return;
    }
    if (m_lastAt.isValid() && m_lastAt.elapsed() < FreshMs) {
        reply(m_last);
        return;
    }
    if (m_waiting.size() >= size_t(MaxWaiting)) {
        reply(Compose({}, u"busy"_s, version));
        return;
    }
    m_waiting.push_back(std::move(reply));
    if (!m_bound.isActive())
        m_bound.start();
    if (m_probing)
        return;
    m_probing = true;
    if (!m_thread.joinable())
        m_thread = std::thread([this] { Run(); });
    {
        std::lock_guard lock(m_lock);
        m_wanted = true;
    }
    m_wake.notify_one();
}

void HealthCheck::SetStopping() {
    m_stopping = true;
    AnswerAll(Compose({}, u"stopping"_s, QCoreApplication::applicationVersion()));
}

bool HealthCheck::AskedWithin(qint64 ms) const {
    return m_askedAt.isValid() && m_askedAt.elapsed() <= ms;
}

void HealthCheck::Run() {
    for (;;) {
        {
            std::unique_lock lock(m_lock);
            m_wake.wait(lock, [this] { return m_wanted || m_quit; });
            if (m_quit)
                break;
            m_wanted = false;
        }
        const Probe probe = m_probe();
        QMetaObject::invokeMethod(
            this, [this, probe] { Finished(probe); }, Qt::QueuedConnection);
    }
    if (m_threadEnds)
        m_threadEnds();
}

void HealthCheck::Finished(const Probe &probe) {
    m_probing = false;
    m_last = Compose(probe, m_stopping ? u"stopping"_s : QString(),
                     QCoreApplication::applicationVersion());
    m_lastAt.start();
    AnswerAll(m_last);
}

void HealthCheck::AnswerAll(const Answer &answer) {
    m_bound.stop();
    std::vector<std::function<void(const Answer &)>> waiting;
    waiting.swap(m_waiting);
    for (const auto &reply : waiting)
        reply(answer);
}
