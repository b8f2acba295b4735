#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>

#include <atomic>
#include <memory>

// Calls by method and outcome, and their durations, in the Prometheus text format. Labels only
// ever take names fixed when the server starts: a method outside the list given, or an outcome
// outside the server's own codes, is counted as "outro", so no client can add series. Counting
// is a few relaxed atomic adds, without a lock.
class CallMetrics final {
public:
    // Upper bounds of the duration buckets, in seconds.
    static constexpr double Bounds[] = {0.0005, 0.001, 0.0025, 0.005, 0.01, 0.025, 0.05, 0.1,
                                        0.25,   0.5,   1,      2.5,   5,    10,    30};
    static constexpr int BucketCount = int(std::size(Bounds)) + 1; // the last: above them all

    // `methods`: the full names ("Ger09400.rdmParamCtbl.GetContOpe"); "ping" is added.
    explicit CallMetrics(const QStringList &methods);

    void Record(const QString &method, const QString &status, qint64 elapsedNs);
    // The families ger_calls_total and ger_call_duration_seconds, appended to `out`.
    void Render(QByteArray &out) const;

    // The label a method or an outcome is counted under.
    QString MethodLabel(const QString &method) const;
    static QString OutcomeLabel(const QString &status);

private:
    int MethodIndex(const QString &method) const;
    static int OutcomeIndex(const QString &status);
    static const QStringList &Outcomes(); // the last is "outro"

    QStringList m_methods; // the last is "outro"
    QHash<QString, int> m_index;
    int m_outcomeCount = 0;
    std::unique_ptr<std::atomic<quint64>[]> m_calls;   // method × outcome
    std::unique_ptr<std::atomic<quint64>[]> m_buckets; // method × bucket, not cumulative
    std::unique_ptr<std::atomic<quint64>[]> m_sumNs;   // method
};
