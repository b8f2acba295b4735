#include "requestpeek.h"

#include <QJsonArray>
#include <QJsonDocument>

using namespace Qt::StringLiterals;

namespace {

// Longer ids and method names are not worth reading back: no client of ours sends them.
constexpr qsizetype MaxPeekedValue = 256;

class Scanner {
public:
    explicit Scanner(QStringView text)
        : m_text(text) {}

    bool AtEnd() const { return m_pos >= m_text.size(); }
    QChar Peek() const { return AtEnd() ? QChar() : m_text.at(m_pos); }
    qsizetype Pos() const { return m_pos; }
    void Next() { ++m_pos; }

    void SkipBlanks() {
        while (!AtEnd() &&
               (Peek() == u' ' || Peek() == u'\t' || Peek() == u'\n' || Peek() == u'\r'))
            ++m_pos;
    }
    bool Take(QChar c) {
        SkipBlanks();
        if (Peek() != c)
            return false;
        ++m_pos;
        return true;
    }
    // REQUIRES: at the opening quote. Leaves the position after the closing one.
    bool SkipString() {
        for (++m_pos; !AtEnd(); ++m_pos) {
            const QChar c = m_text.at(m_pos);
            if (c == u'\\')
                ++m_pos;
            else if (c == u'"') {
                ++m_pos;
                return true;
            }
        }
        return false;
    }
    // Any value, nested ones by counting brackets: no recursion, whatever the depth.
    bool SkipValue() {
        SkipBlanks();
        if (Peek() == u'"')
            return SkipString();
        if (Peek() == u'{' || Peek() == u'[') {
            qsizetype depth = 0;
            while (!AtEnd()) {
                const QChar c = Peek();
                if (c == u'"') {
                    if (!SkipString())
                        return false;
                    continue;
                }
                ++m_pos;
                if (c == u'{' || c == u'[')
                    ++depth;
                else if ((c == u'}' || c == u']') && --depth == 0)
                    return true;
            }
            return false;
        }
        const qsizetype start = m_pos;
        while (!AtEnd() && Peek() != u',' && Peek() != u'}' && Peek() != u']' && Peek() != u' ' &&
               Peek() != u'\t' && Peek() != u'\n' && Peek() != u'\r')
            ++m_pos;
        return m_pos > start;
    }

private:
    QStringView m_text;
    qsizetype m_pos = 0;
};

// A short scalar read by the real JSON reader; anything else null.
QJsonValue ShortScalar(QStringView raw) {
    if (raw.size() > MaxPeekedValue)
        return QJsonValue::Null;
    const QJsonDocument doc = QJsonDocument::fromJson(u"[%1]"_s.arg(raw).toUtf8());
    const QJsonValue value = doc.array().at(0);
    return value.isString() || value.isDouble() ? value : QJsonValue(QJsonValue::Null);
}

} // namespace

RequestPeek RequestPeek::Read(QStringView text) {
    RequestPeek out;
    Scanner s(text);
    if (!s.Take(u'{')) {
        out.Object = false;
        out.Id = QJsonValue::Null;
        return out;
    }
    s.SkipBlanks();
    if (s.Peek() == u'}')
        return out;
    for (;;) {
        s.SkipBlanks();
        if (s.Peek() != u'"')
            break;
        const qsizetype keyStart = s.Pos() + 1;
        if (!s.SkipString())
            break;
        const QStringView key = text.mid(keyStart, s.Pos() - 1 - keyStart);
        if (!s.Take(u':'))
            break;
        s.SkipBlanks();
        const qsizetype valueStart = s.Pos();
        if (!s.SkipValue())
            break;
        const QStringView value = text.mid(valueStart, s.Pos() - valueStart);
        if (key == u"id") {
            out.Id = ShortScalar(value);
            // A fractional id is refused by the reader: the answer cannot carry it either.
            if (out.Id.isDouble() && out.Id.toDouble() != double(out.Id.toInteger()))
                out.Id = QJsonValue::Null;
        } else if (key == u"method" && value.startsWith(u'"'))
            out.Method = ShortScalar(value).toString();
        if (s.Take(u'}'))
            return out;
        if (!s.Take(u','))
            break;
    }
    // Cut short or malformed: answered, as a reader that cannot tell the id answers, with null.
    out.Object = false;
    if (out.Id.isUndefined())
        out.Id = QJsonValue::Null;
    return out;
}
