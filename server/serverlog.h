#pragma once

#include <QString>

// Plain lines on stderr; the level filters what is worth writing.
namespace ServerLog {

enum class Level { Debug = 0, Info = 1, Warn = 2, Error = 3 };

bool ParseLevel(const QString &text, Level &out);
void SetLevel(Level level);
bool Enabled(Level level);
void Write(Level level, const QString &text);

} // namespace ServerLog
