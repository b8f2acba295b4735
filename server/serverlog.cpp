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

namespace {

void WriteLine(Level level, const QString &text) {
    static const char *const names[] = {"debug", "info", "warn", "error"};
    static const char *const journal[] = {"<7>", "<6>", "<4>", "<3>"};
    static const bool underJournal = qEnvironmentVariableIsSet("JOURNAL_STREAM");
    const QByteArray line =
        underJournal ? journal[int(level)] + text.toUtf8() + '\n'
                     : QDateTime::currentDateTime().toString(Qt::ISODateWithMs).toUtf8() + ' ' +
                           names[int(level)] + ' ' + text.toUtf8() + '\n';
    QMutexLocker lock(&g_write);
    std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
    std::fflush(stderr);
}

} // namespace

void Write(Level level, const QString &text) {
    if (Enabled(level))
        WriteLine(level, text);
}

void Announce(const QString &text) {
    WriteLine(Level::Info, text);
}

QString Escape(QStringView text, qsizetype maxChars) {
    const QStringView shown = text.left(maxChars);
    QString out;
    out.reserve(shown.size() + 16);
    for (const QChar c : shown) {
        const char16_t u = c.unicode();
        if (u == u'\\') {
            out += u"\\\\"_s;
        } else if (u == u'\n') {
            out += u"\\n"_s;
        } else if (u == u'\r') {
            out += u"\\r"_s;
        } else if (u == u'\t') {
            out += u"\\t"_s;
        } else if (u < 0x20 || u == 0x7f) {
            out += u"\\x%1"_s.arg(int(u), 2, 16, QChar(u'0'));
        } else if ((u >= 0x80 && u < 0xa0) || u == 0x2028 || u == 0x2029 || u == 0x85) {
            out += u"\\u%1"_s.arg(int(u), 4, 16, QChar(u'0'));
        } else {
            out += c;
        }
    }
    if (text.size() > maxChars)
        out += u"...(+%1)"_s.arg(text.size() - maxChars);
    return out;
}

} // namespace ServerLog
