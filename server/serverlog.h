#pragma once

#include <QString>

// Plain lines on stderr; the level filters what is worth writing.
namespace ServerLog {

enum class Level { Debug = 0, Info = 1, Warn = 2, Error = 3 };

bool ParseLevel(const QString &text, Level &out);
void SetLevel(Level level);
bool Enabled(Level level);
void Write(Level level, const QString &text);
// A value that came from a client, made safe for one log line: control characters, line and
// paragraph separators and the backslash are written as escapes ("\n", "\x1b", "\u2028",
// "\\"), so no client can start a line of its own, and the value is cut at `maxChars`
// characters with a note of how many were left out.
QString Escape(QStringView text, qsizetype maxChars = 200);

} // namespace ServerLog
