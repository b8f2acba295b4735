#pragma once

#include <QStringView>

// The characters no text may hold, whichever door it comes in by (a call, an import, the
// stored-data check at start, `ger-server check`): one set, so that nothing the server accepts
// can stop its next start. C0 and DEL break lines and terminals; C1 are the bytes an
// unassigned Windows-1252 position or a mis-decoded file leaves behind; U+FEFF and U+FFFE at a
// text's start are read as a byte-order mark by UTF-16 interfaces (SQLite's among them), which
// drop the first and byte-swap the rest after the second; U+FFFF is no character at all; a lone
// surrogate has no UTF-8 form to store.
namespace ControlChars {

// U+0000-U+001F, U+007F-U+009F, U+FEFF, U+FFFE, U+FFFF.
constexpr bool IsControl(char32_t ch) {
    return ch < 0x20 || (ch >= 0x7F && ch <= 0x9F) || ch == 0xFEFF || ch == 0xFFFE || ch == 0xFFFF;
}

// The first such character of `text` (a lone surrogate counting as one), or -1.
qsizetype Find(QStringView text);
inline bool Contains(QStringView text) {
    return Find(text) >= 0;
}

} // namespace ControlChars
