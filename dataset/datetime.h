#pragma once

#include <QDate>
#include <QDateTime>
#include <QString>

#include <optional>

// Days since 30 December 1899; the fraction is the time of day. 0 is that day itself, the value a
// date edit reports when it holds no date. Only non-negative values are produced here.
using TDateTime = double;

namespace DateTimeUtil {

TDateTime FromQDate(QDate date);
TDateTime FromQDateTime(const QDateTime &dateTime); // local wall-clock time, no zone conversion
QDate ToQDate(TDateTime value);
QDateTime ToQDateTime(TDateTime value); // to the millisecond

TDateTime Today();                // system date, no time of day
TDateTime Trunc(TDateTime value); // whole days
bool HasTimeOfDay(TDateTime value);

TDateTime FirstDayOfMonth(TDateTime value);
TDateTime LastDayOfMonth(TDateTime value);
TDateTime EncodeDate(int year, int month, int day); // throws EConvertError when no such day
bool TryEncodeDate(int year, int month, int day, TDateTime &result);

QString FormatDate(TDateTime value);                     // "dd/mm/yyyy"
QString FormatMonthYear(TDateTime value);                // "mm/yyyy"
QString Format(TDateTime value, const QString &pattern); // tokens dd, mm, yyyy, hh, nn, ss

// Strict: exactly "dd/mm/yyyy" (resp. "mm/yyyy", day 1), a real calendar day, year 1..9999.
std::optional<TDateTime> ParseDate(const QString &text);
std::optional<TDateTime> ParseMonthYear(const QString &text);

// Wire form: "2024-03-01", or "2024-03-01T10:20:30.000" when there is a time of day.
QString ToIso(TDateTime value);
std::optional<TDateTime> FromIso(const QString &text);
std::optional<TDateTime> FromIso(QLatin1StringView text); // same rules, for raw packet bytes

} // namespace DateTimeUtil
