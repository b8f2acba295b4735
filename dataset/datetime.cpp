#include "datetime.h"

#include "exceptions.h"

#include <cmath>

using namespace Qt::StringLiterals;

namespace {

constexpr qint64 MsPerDay = 86'400'000;

QDate epoch() {
    return QDate(1899, 12, 30);
}

// Every conversion goes through whole milliseconds, so a value read back from its text or from
// a QDateTime is the same double that was written, and 23:59:59.9996 rolls into the next day
// consistently everywhere.
qint64 toMs(TDateTime value) {
    return std::llround(value * double(MsPerDay));
}

qint64 floorDiv(qint64 a, qint64 b) {
    qint64 q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0)))
        --q;
    return q;
}

QString pad(int value, int width) {
    return u"%1"_s.arg(value, width, 10, QLatin1Char('0'));
}

// pad(), appended in place: every date cell of every grid goes through here.
void appendPadded(QString &out, int value, int width) {
    if (value < 0) {
        out += pad(value, width);
        return;
    }
    char16_t digits[12];
    int n = 0;
    do {
        digits[n++] = char16_t(u'0' + value % 10);
        value /= 10;
    } while (value > 0);
    for (int i = n; i < width; ++i)
        out += u'0';
    while (n > 0)
        out += QChar(digits[--n]);
}

char16_t unitAt(const QString &text, qsizetype pos) {
    return text.at(pos).unicode();
}

char16_t unitAt(QLatin1StringView text, qsizetype pos) {
    return char16_t(uchar(text.at(pos).toLatin1()));
}

// Reads exactly `count` ASCII digits at `pos`; -1 when any of them is not a digit.
template <typename Text> int digits(const Text &text, qsizetype pos, int count) {
    int result = 0;
    for (int i = 0; i < count; ++i) {
        const char16_t c = unitAt(text, pos + i);
        if (c < u'0' || c > u'9')
            return -1;
        result = result * 10 + (c - u'0');
    }
    return result;
}

bool validDay(int year, int month, int day) {
    return year >= 1 && year <= 9999 && QDate::isValid(year, month, day);
}

// Days since 30/12/1899 of a checked calendar day, without going through QDate: packets carry
// tens of thousands of dates and this is on the load's hot path.
std::optional<qint64> civilDays(int year, int month, int day) {
    static constexpr int lengths[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1)
        return std::nullopt;
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    if (day > lengths[month - 1] + (month == 2 && leap ? 1 : 0))
        return std::nullopt;
    const int y = year - (month <= 2 ? 1 : 0);
    const int era = y / 400;
    const int yoe = y - era * 400;
    const int doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    const qint64 fromCivilEpoch = qint64(era) * 146097 + doe - 719468; // days since 1970-01-01
    return fromCivilEpoch + 25569;
}

// "yyyy-mm-dd", "yyyy-mm-ddThh:mm:ss" or "yyyy-mm-ddThh:mm:ss.zzz"; nothing else.
template <typename Text> std::optional<TDateTime> isoToDateTime(const Text &text) {
    const qsizetype n = text.size();
    if (n != 10 && n != 19 && n != 23)
        return std::nullopt;
    if (unitAt(text, 4) != u'-' || unitAt(text, 7) != u'-')
        return std::nullopt;
    const int year = digits(text, 0, 4);
    const int month = digits(text, 5, 2);
    const int day = digits(text, 8, 2);
    const std::optional<qint64> days = civilDays(year, month, day);
    if (!days)
        return std::nullopt;
    const double result = double(*days);
    if (n == 10)
        return result;
    if (unitAt(text, 10) != u'T' || unitAt(text, 13) != u':' || unitAt(text, 16) != u':')
        return std::nullopt;
    const int hour = digits(text, 11, 2);
    const int minute = digits(text, 14, 2);
    const int second = digits(text, 17, 2);
    int msec = 0;
    if (n == 23) {
        if (unitAt(text, 19) != u'.')
            return std::nullopt;
        msec = digits(text, 20, 3);
    }
    if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 || msec < 0)
        return std::nullopt;
    const qint64 ms = ((qint64(hour) * 60 + minute) * 60 + second) * 1000 + msec;
    return result + double(ms) / double(MsPerDay);
}

} // namespace

namespace DateTimeUtil {

TDateTime FromQDate(QDate date) {
    if (!date.isValid())
        return 0;
    return double(epoch().daysTo(date));
}

TDateTime FromQDateTime(const QDateTime &dateTime) {
    if (!dateTime.isValid())
        return 0;
    const qint64 days = epoch().daysTo(dateTime.date());
    const qint64 ms = dateTime.time().msecsSinceStartOfDay();
    return double(days) + double(ms) / double(MsPerDay);
}

QDate ToQDate(TDateTime value) {
    return epoch().addDays(floorDiv(toMs(value), MsPerDay));
}

QDateTime ToQDateTime(TDateTime value) {
    const qint64 ms = toMs(value);
    const qint64 days = floorDiv(ms, MsPerDay);
    const int msOfDay = int(ms - days * MsPerDay);
    return QDateTime(epoch().addDays(days), QTime::fromMSecsSinceStartOfDay(msOfDay));
}

TDateTime Today() {
    return FromQDate(QDate::currentDate());
}

TDateTime Trunc(TDateTime value) {
    return double(floorDiv(toMs(value), MsPerDay));
}

bool HasTimeOfDay(TDateTime value) {
    return toMs(value) % MsPerDay != 0;
}

TDateTime FirstDayOfMonth(TDateTime value) {
    const QDate d = ToQDate(value);
    return FromQDate(QDate(d.year(), d.month(), 1));
}

TDateTime LastDayOfMonth(TDateTime value) {
    const QDate d = ToQDate(value);
    return FromQDate(QDate(d.year(), d.month(), d.daysInMonth()));
}

bool TryEncodeDate(int year, int month, int day, TDateTime &result) {
    if (!validDay(year, month, day))
        return false;
    result = FromQDate(QDate(year, month, day));
    return true;
}

TDateTime EncodeDate(int year, int month, int day) {
    TDateTime result = 0;
    if (!TryEncodeDate(year, month, day, result)) {
        throw EConvertError(
            u"'%1/%2/%3' não é uma data válida."_s.arg(pad(day, 2), pad(month, 2), pad(year, 4)));
    }
    return result;
}

QString FormatDate(TDateTime value) {
    return Format(value, u"dd/mm/yyyy"_s);
}

QString FormatMonthYear(TDateTime value) {
    return Format(value, u"mm/yyyy"_s);
}

QString Format(TDateTime value, const QString &pattern) {
    // No QDateTime here: see ToIso.
    const qint64 ms = toMs(value);
    const qint64 days = floorDiv(ms, MsPerDay);
    int year = 0, month = 0, day = 0;
    epoch().addDays(days).getDate(&year, &month, &day); // one calendar conversion, not three
    const QTime t = QTime::fromMSecsSinceStartOfDay(int(ms - days * MsPerDay));
    QString out;
    out.reserve(pattern.size() + 8);
    qsizetype i = 0;
    auto at = [&](QStringView token) {
        return QStringView(pattern).mid(i).startsWith(token, Qt::CaseInsensitive);
    };
    while (i < pattern.size()) {
        if (at(u"yyyy")) {
            appendPadded(out, year, 4);
            i += 4;
        } else if (at(u"yy")) {
            appendPadded(out, year % 100, 2);
            i += 2;
        } else if (at(u"dd")) {
            appendPadded(out, day, 2);
            i += 2;
        } else if (at(u"mm")) {
            appendPadded(out, month, 2);
            i += 2;
        } else if (at(u"hh")) {
            appendPadded(out, t.hour(), 2);
            i += 2;
        } else if (at(u"nn")) {
            appendPadded(out, t.minute(), 2);
            i += 2;
        } else if (at(u"ss")) {
            appendPadded(out, t.second(), 2);
            i += 2;
        } else if (at(u"zzz")) {
            appendPadded(out, t.msec(), 3);
            i += 3;
        } else {
            out += pattern.at(i);
            ++i;
        }
    }
    return out;
}

std::optional<TDateTime> ParseDate(const QString &text) {
    if (text.size() != 10 || text.at(2) != u'/' || text.at(5) != u'/')
        return std::nullopt;
    const int day = digits(text, 0, 2);
    const int month = digits(text, 3, 2);
    const int year = digits(text, 6, 4);
    if (!validDay(year, month, day))
        return std::nullopt;
    return FromQDate(QDate(year, month, day));
}

std::optional<TDateTime> ParseMonthYear(const QString &text) {
    if (text.size() != 7 || text.at(2) != u'/')
        return std::nullopt;
    const int month = digits(text, 0, 2);
    const int year = digits(text, 3, 4);
    if (!validDay(year, month, 1))
        return std::nullopt;
    return FromQDate(QDate(year, month, 1));
}

QString ToIso(TDateTime value) {
    // Written digit by digit: this runs for every date of every packet. No QDateTime either: in
    // local time it asks the C library for the zone on every value, which re-reads the zone file.
    const qint64 ms = toMs(value);
    const qint64 days = floorDiv(ms, MsPerDay);
    const int msOfDay = int(ms - days * MsPerDay);
    int year = 0, month = 0, day = 0;
    epoch().addDays(days).getDate(&year, &month, &day);
    char16_t out[23];
    qsizetype n = 0;
    auto put = [&](int number, int width) {
        for (int i = width - 1; i >= 0; --i, number /= 10)
            out[n + i] = char16_t(u'0' + number % 10);
        n += width;
    };
    put(year, 4);
    out[n++] = u'-';
    put(month, 2);
    out[n++] = u'-';
    put(day, 2);
    if (msOfDay != 0) {
        out[n++] = u'T';
        put(msOfDay / 3'600'000, 2);
        out[n++] = u':';
        put(msOfDay / 60'000 % 60, 2);
        out[n++] = u':';
        put(msOfDay / 1000 % 60, 2);
        out[n++] = u'.';
        put(msOfDay % 1000, 3);
    }
    return QString(reinterpret_cast<const QChar *>(out), n);
}

std::optional<TDateTime> FromIso(const QString &text) {
    return isoToDateTime(text);
}

std::optional<TDateTime> FromIso(QLatin1StringView text) {
    return isoToDateTime(text);
}

} // namespace DateTimeUtil
