#include "controlchars.h"

namespace ControlChars {

qsizetype Find(QStringView text) {
    const qsizetype size = text.size();
    for (qsizetype i = 0; i < size; ++i) {
        const char16_t u = text[i].unicode();
        if (QChar::isHighSurrogate(u) && i + 1 < size &&
            QChar::isLowSurrogate(text[i + 1].unicode())) {
            ++i; // a pair: outside the BMP, where nothing is refused
            continue;
        }
        if (QChar::isSurrogate(u) || IsControl(u))
            return i;
    }
    return -1;
}

} // namespace ControlChars
