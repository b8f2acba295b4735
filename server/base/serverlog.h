#pragma once

#include <QString>

// One line per event on stderr, with its time and severity; the level filters what is worth
// writing. Under systemd (JOURNAL_STREAM set) the journal keeps the time, so a line carries
// the severity as the journal's "<N>" prefix instead.
namespace ServerLog {

enum class Level { Debug = 0, Info = 1, Warn = 2, Error = 3 };

bool ParseLevel(const QString &text, Level &out);
void SetLevel(Level level);
bool Enabled(Level level);
void Write(Level level, const QString &text);
// Lines an operator needs at any level: the server's start, its address, its stop.
void Announce(const QString &text);
// A value that came from a client, made safe for one log line: control characters, line and
// paragraph separators and the backslash are written as escapes ("\n", "\x1b", "\u2028",
// "\\"), so no client can start a line of its own, and the value is cut at `maxChars`
// characters with a note of how many were left out.
QString Escape(QStringView text, qsizetype maxChars = 200);
// Qt's own warnings (the database drivers', the network's) become lines of this log, with its
// time and severity and their text escaped, instead of bare lines on stderr.
void CaptureQtMessages();
// While one lives, Qt's warnings on this thread are only worth a debug line: what a dead
// connection's driver says as it is let go is known already.
class QtQuiet final {
public:
    QtQuiet();
    ~QtQuiet();
    QtQuiet(const QtQuiet &) = delete;
    QtQuiet &operator=(const QtQuiet &) = delete;
};

} // namespace ServerLog
