#include "serverlog.h"

#include <QDateTime>
#include <QMutex>

#include <atomic>
#include <cstdio>

using namespace Qt::StringLiterals;

namespace ServerLog {

namespace {
std::atomic<int> g_level{int(Level::Info)};
QMutex g_write;
} // namespace

bool ParseLevel(const QString &text, Level &out) {
    static const struct {
        const char16_t *name;
        Level level;
    } table[] = {{u"debug", Level::Debug},
                 {u"info", Level::Info},
                 {u"warn", Level::Warn},
                 {u"error", Level::Error}};
    for (const auto &row : table) {
        if (text == QStringView(row.name)) {
            out = row.level;
            return true;
        }
    }
    return false;
}

void SetLevel(Level level) {
    g_level = int(level);
}

bool Enabled(Level level) {
    return int(level) >= g_level;
}

void Write(Level level, const QString &text) {
    if (!Enabled(level))
        return;
    static const char *const names[] = {"debug", "info", "warn", "error"};
    const QByteArray line = QDateTime::currentDateTime().toString(Qt::ISODateWithMs).toUtf8() +
                            ' ' + names[int(level)] + ' ' + text.toUtf8() + '\n';
    QMutexLocker lock(&g_write);
    std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
    std::fflush(stderr);
}

} // namespace ServerLog
