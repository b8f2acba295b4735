#include "callmetrics.h"

#include "jsonrpc.h"

using namespace Qt::StringLiterals;

namespace {

void Add(std::atomic<quint64> &counter, quint64 by = 1) {
    counter.fetch_add(by, std::memory_order_relaxed);
}

quint64 Load(const std::atomic<quint64> &counter) {
    return counter.load(std::memory_order_relaxed);
}

// The bounds as nanoseconds, for a comparison without a division per call.
constexpr qint64 BoundNs(int i) {
    return qint64(CallMetrics::Bounds[i] * 1e9 + 0.5);
}

QByteArray Number(double value) {
    return QByteArray::number(value, 'g', 12);
}

} // namespace

const QStringList &CallMetrics::Outcomes() {
    // The envelope's error codes the server answers with, then the JSON-RPC ones.
    static const QStringList outcomes{
        u"ok"_s,
        u"invalid_argument"_s,
        u"not_found"_s,
        u"conflict"_s,
        u"refused"_s,
        u"inconsistency"_s,
        u"forbidden"_s,
        u"busy"_s,
        u"database"_s,
        u"io"_s,
        u"internal"_s,
        QString::number(JsonRpc::ParseError),
        QString::number(JsonRpc::InvalidRequest),
        QString::number(JsonRpc::MethodNotFound),
        QString::number(JsonRpc::InvalidParams),
        QString::number(JsonRpc::InternalError),
        QString::number(JsonRpc::TooManyCalls),
        u"outro"_s,
    };
    return outcomes;
}

CallMetrics::CallMetrics(const QStringList &methods) {
    for (const QString &method : methods) {
        if (!m_index.contains(method)) {
            m_index.insert(method, int(m_methods.size()));
            m_methods.append(method);
        }
    }
    if (!m_index.contains(u"ping"_s)) {
        m_index.insert(u"ping"_s, int(m_methods.size()));
        m_methods.append(u"ping"_s);
    }
    m_methods.append(u"outro"_s);
    m_outcomeCount = int(Outcomes().size());
    const qsizetype methodCount = m_methods.size();
    m_calls = std::make_unique<std::atomic<quint64>[]>(size_t(methodCount * m_outcomeCount));
    m_buckets = std::make_unique<std::atomic<quint64>[]>(size_t(methodCount * BucketCount));
    m_sumNs = std::make_unique<std::atomic<quint64>[]>(size_t(methodCount));
}

int CallMetrics::MethodIndex(const QString &method) const {
    return m_index.value(method, int(m_methods.size()) - 1);
}

int CallMetrics::OutcomeIndex(const QString &status) {
    static const QHash<QString, int> index = [] {
        QHash<QString, int> built;
        for (int i = 0; i < Outcomes().size(); ++i)
            built.insert(Outcomes().at(i), i);
        return built;
    }();
    return index.value(status, int(Outcomes().size()) - 1);
}

QString CallMetrics::MethodLabel(const QString &method) const {
    return m_methods.at(MethodIndex(method));
}

QString CallMetrics::OutcomeLabel(const QString &status) {
    return Outcomes().at(OutcomeIndex(status));
}

void CallMetrics::Record(const QString &method, const QString &status, qint64 elapsedNs) {
    const int m = MethodIndex(method);
    Add(m_calls[size_t(m * m_outcomeCount + OutcomeIndex(status))]);
    int bucket = 0;
    while (bucket < BucketCount - 1 && elapsedNs > BoundNs(bucket))
        ++bucket;
    Add(m_buckets[size_t(m * BucketCount + bucket)]);
    Add(m_sumNs[size_t(m)], quint64(qMax<qint64>(0, elapsedNs)));
}

void CallMetrics::Render(QByteArray &out) const {
    const QStringList &outcomes = Outcomes();
    out += "# HELP ger_calls_total Calls answered, by method and outcome (ok, the answer's error "
           "code, or the JSON-RPC error code).\n"
           "# TYPE ger_calls_total counter\n";
    for (int m = 0; m < m_methods.size(); ++m) {
        for (int o = 0; o < m_outcomeCount; ++o) {
            const quint64 n = Load(m_calls[size_t(m * m_outcomeCount + o)]);
            // Outcomes a method never had stay out; "ok" is always there, so a rate has a series.
            if (n == 0 && o != 0)
                continue;
            out += "ger_calls_total{method=\"" + m_methods.at(m).toUtf8() + "\",outcome=\"" +
                   outcomes.at(o).toUtf8() + "\"} " + QByteArray::number(n) + '\n';
        }
    }
    out += "# HELP ger_call_duration_seconds Time from a call's arrival to its answer, by "
           "method.\n"
           "# TYPE ger_call_duration_seconds histogram\n";
    for (int m = 0; m < m_methods.size(); ++m) {
        const QByteArray label = "{method=\"" + m_methods.at(m).toUtf8() + '"';
        quint64 cumulative = 0;
        for (int b = 0; b < BucketCount; ++b) {
            cumulative += Load(m_buckets[size_t(m * BucketCount + b)]);
            out += "ger_call_duration_seconds_bucket" + label + ",le=\"" +
                   (b < BucketCount - 1 ? Number(Bounds[b]) : QByteArray("+Inf")) + "\"} " +
                   QByteArray::number(cumulative) + '\n';
        }
        out += "ger_call_duration_seconds_sum" + label + "} " +
               Number(double(Load(m_sumNs[size_t(m)])) / 1e9) + '\n';
        out += "ger_call_duration_seconds_count" + label + "} " + QByteArray::number(cumulative) +
               '\n';
    }
}
