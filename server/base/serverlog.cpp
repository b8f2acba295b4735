#include "serverlog.h"

#include "rules/controlchars.h"

#include <QDateTime>
#include <QtGlobal>

#include <condition_variable>
#include <mutex>
#include <thread>

#include <atomic>
#include <cstdio>

using namespace Qt::StringLiterals;

namespace ServerLog {

namespace {
std::atomic<int> g_level{int(Level::Info)};
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

// Lines wait here and go out together: a write to stderr per call would cost the calls a
// system call each and serialise them behind the log. A thread writes what waits every 50 ms;
// the lines of the server's start and stop, and errors, go out at once. Order is kept: a writer
// takes `write` before it lets go of `lock`.
class Sink final {
public:
    Sink()
        : m_flusher([this] { Run(); }) {}
    ~Sink() {
        {
            std::lock_guard guard(m_lock);
            m_stop = true;
        }
        m_wake.notify_one();
        m_flusher.join();
        Out(m_pending);
    }

    void Add(const QByteArray &line, bool now) {
        std::unique_lock guard(m_lock);
        m_pending += line;
        // A log that cannot keep up makes its writers wait rather than grow without end.
        if (now || m_pending.size() > MaxPending)
            TakeAndWrite(guard);
    }

private:
    static constexpr qsizetype MaxPending = 1 << 20;

    void Run() {
        std::unique_lock guard(m_lock);
        while (!m_stop) {
            m_wake.wait_for(guard, std::chrono::milliseconds(50));
            if (!m_pending.isEmpty())
                TakeAndWrite(guard);
        }
    }

    // REQUIRES: `guard` holds m_lock; returns with it held again.
    void TakeAndWrite(std::unique_lock<std::mutex> &guard) {
        QByteArray out;
        out.swap(m_pending);
        std::lock_guard writing(m_write);
        guard.unlock();
        Out(out);
        guard.lock();
    }

    static void Out(const QByteArray &bytes) {
        if (!bytes.isEmpty())
            std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    }

    std::mutex m_lock;
    std::mutex m_write;
    std::condition_variable m_wake;
    QByteArray m_pending;
    bool m_stop = false;
    std::thread m_flusher;
};

Sink &TheSink() {
    static Sink sink;
    return sink;
}

void WriteLine(Level level, const QString &text, bool now) {
    static const char *const names[] = {"debug", "info", "warn", "error"};
    static const char *const journal[] = {"<7>", "<6>", "<4>", "<3>"};
    static const bool underJournal = qEnvironmentVariableIsSet("JOURNAL_STREAM");
    const QByteArray line =
        underJournal ? journal[int(level)] + text.toUtf8() + '\n'
                     : QDateTime::currentDateTime().toString(Qt::ISODateWithMs).toUtf8() + ' ' +
                           names[int(level)] + ' ' + text.toUtf8() + '\n';
    TheSink().Add(line, now || level == Level::Error);
}

} // namespace

void Write(Level level, const QString &text) {
    if (Enabled(level))
        WriteLine(level, text, false);
}

void Announce(const QString &text) {
    WriteLine(Level::Info, text, true);
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
        } else if (ControlChars::IsControl(u) || u == 0x2028 || u == 0x2029) {
            out += u"\\u%1"_s.arg(int(u), 4, 16, QChar(u'0'));
        } else {
            out += c;
        }
    }
    if (text.size() > maxChars)
        out += u"...(+%1)"_s.arg(text.size() - maxChars);
    return out;
}

namespace {

thread_local int t_qtQuiet = 0;

void FromQt(QtMsgType type, const QMessageLogContext &context, const QString &message) {
    Level level = Level::Warn;
    switch (type) {
    case QtDebugMsg:
    case QtInfoMsg:
        level = Level::Debug;
        break;
    case QtWarningMsg:
        level = Level::Warn;
        break;
    case QtCriticalMsg:
    case QtFatalMsg:
        level = Level::Error;
        break;
    }
    if (t_qtQuiet > 0 && type != QtFatalMsg)
        level = Level::Debug;
    if (!Enabled(level) && type != QtFatalMsg)
        return;
    // A driver's text may quote a statement or a value a client sent.
    const QString category = context.category && qstrcmp(context.category, "default") != 0
                                 ? QString::fromLatin1(context.category) + u": "_s
                                 : QString();
    WriteLine(level, u"qt: "_s + category + Escape(message, 1000), type == QtFatalMsg);
}

} // namespace

void CaptureQtMessages() {
    qInstallMessageHandler(FromQt);
}

QtQuiet::QtQuiet() {
    ++t_qtQuiet;
}

QtQuiet::~QtQuiet() {
    --t_qtQuiet;
}

} // namespace ServerLog
