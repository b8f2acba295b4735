#pragma once

#include <QString>
#include <QStringView>

// Texts cut to fit a column (an operator's name, a reason in the history, a code in a message).
// A cut through the middle of a surrogate pair leaves half a character that has no UTF-8 form:
// each engine and each hash then reads it differently (`?`, U+FFFD), and what was hashed is not
// what is stored. Every cut goes through here, so it always falls between characters.
namespace TextCut {

// At most `units` UTF-16 units of `text`, ending on a whole character.
QString Left(QStringView text, qsizetype units);

} // namespace TextCut
