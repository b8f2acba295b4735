#include "textcut.h"

namespace TextCut {

QString Left(QStringView text, qsizetype units) {
    if (units <= 0)
        return {};
    if (text.size() <= units)
        return text.toString();
    // The unit after the cut is the second half of a pair: its first half goes too.
    if (text[units].isLowSurrogate() && text[units - 1].isHighSurrogate())
        --units;
    return text.left(units).toString();
}

} // namespace TextCut
