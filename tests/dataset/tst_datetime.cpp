#include "datetime.h"
#include "exceptions.h"

#include <QTest>

using namespace Qt::StringLiterals;
using namespace DateTimeUtil;

class TstDateTime final : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void dayZeroIsTheEpoch() {
        QCOMPARE(ToQDate(0), QDate(1899, 12, 30));
        QCOMPARE(FromQDate(QDate(1900, 1, 1)), 2.0);
        QCOMPARE(FormatDate(0), u"30/12/1899"_s);
        QCOMPARE(FromQDate(QDate(2024, 3, 1)), 45352.0);
    }

    void roundTripKeepsMilliseconds_data() {
        QTest::addColumn<QDateTime>("when");
        QTest::newRow("midnight") << QDateTime(QDate(2024, 3, 1), QTime(0, 0));
        QTest::newRow("one ms") << QDateTime(QDate(2024, 3, 1), QTime(0, 0, 0, 1));
        QTest::newRow("afternoon") << QDateTime(QDate(2024, 3, 1), QTime(10, 20, 30, 123));
        QTest::newRow("last ms") << QDateTime(QDate(2024, 12, 31), QTime(23, 59, 59, 999));
        QTest::newRow("far year") << QDateTime(QDate(9999, 12, 31), QTime(23, 59, 59, 999));
        QTest::newRow("epoch noon") << QDateTime(QDate(1899, 12, 30), QTime(12, 0));
    }
    void roundTripKeepsMilliseconds() {
        QFETCH(QDateTime, when);
        const TDateTime value = FromQDateTime(when);
        QCOMPARE(ToQDateTime(value), when);
        QCOMPARE(ToQDate(value), when.date());
        QCOMPARE(HasTimeOfDay(value), when.time() != QTime(0, 0));
        QCOMPARE(Trunc(value), FromQDate(when.date()));
        QCOMPARE(FromIso(ToIso(value)), std::optional<TDateTime>(value));
    }

    void nearlyMidnightRoundsIntoNextDay() {
        // Half a millisecond before midnight reads as the next day everywhere, not just in one
        // of the conversions.
        const TDateTime value = 45352.0 + (86'400'000.0 - 0.4) / 86'400'000.0;
        QCOMPARE(ToQDate(value), QDate(2024, 3, 2));
        QCOMPARE(Trunc(value), 45353.0);
        QVERIFY(!HasTimeOfDay(value));
        QCOMPARE(ToIso(value), u"2024-03-02"_s);
    }

    void monthBounds_data() {
        QTest::addColumn<QDate>("day");
        QTest::addColumn<QDate>("first");
        QTest::addColumn<QDate>("last");
        QTest::newRow("leap feb") << QDate(2024, 2, 10) << QDate(2024, 2, 1) << QDate(2024, 2, 29);
        QTest::newRow("feb") << QDate(2023, 2, 28) << QDate(2023, 2, 1) << QDate(2023, 2, 28);
        QTest::newRow("december") << QDate(2024, 12, 1) << QDate(2024, 12, 1)
                                  << QDate(2024, 12, 31);
        QTest::newRow("century") << QDate(1900, 2, 5) << QDate(1900, 2, 1) << QDate(1900, 2, 28);
    }
    void monthBounds() {
        QFETCH(QDate, day);
        QFETCH(QDate, first);
        QFETCH(QDate, last);
        const TDateTime withTime = FromQDate(day) + 0.75;
        QCOMPARE(FirstDayOfMonth(withTime), FromQDate(first));
        QCOMPARE(LastDayOfMonth(withTime), FromQDate(last));
    }

    void parseDate_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QDate>("expected"); // invalid: rejected
        QTest::newRow("plain") << u"01/03/2024"_s << QDate(2024, 3, 1);
        QTest::newRow("leap day") << u"29/02/2024"_s << QDate(2024, 2, 29);
        QTest::newRow("epoch") << u"30/12/1899"_s << QDate(1899, 12, 30);
        QTest::newRow("no leap day") << u"29/02/2023"_s << QDate();
        QTest::newRow("31 feb") << u"31/02/2024"_s << QDate();
        QTest::newRow("month 13") << u"01/13/2024"_s << QDate();
        QTest::newRow("day 0") << u"00/01/2024"_s << QDate();
        QTest::newRow("year 0") << u"01/01/0000"_s << QDate();
        QTest::newRow("short day") << u"1/2/2024"_s << QDate();
        QTest::newRow("leading blank") << u" 01/02/2024"_s << QDate();
        QTest::newRow("trailing blank") << u"01/02/2024 "_s << QDate();
        QTest::newRow("two-digit year") << u"01/02/24"_s << QDate();
        QTest::newRow("dashes") << u"01-02-2024"_s << QDate();
        QTest::newRow("sign") << u"+1/02/2024"_s << QDate();
        QTest::newRow("arabic-indic digit") << u"0\u0661/02/2024"_s << QDate();
        QTest::newRow("empty") << QString() << QDate();
        QTest::newRow("mask blanks") << u"  /  /    "_s << QDate();
    }
    void parseDate() {
        QFETCH(QString, text);
        QFETCH(QDate, expected);
        const std::optional<TDateTime> value = ParseDate(text);
        QCOMPARE(value.has_value(), expected.isValid());
        if (value) {
            QCOMPARE(ToQDate(*value), expected);
            QCOMPARE(FormatDate(*value), text);
        }
    }

    void parseMonthYear_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QDate>("expected");
        QTest::newRow("march") << u"03/2024"_s << QDate(2024, 3, 1);
        QTest::newRow("december") << u"12/1999"_s << QDate(1999, 12, 1);
        QTest::newRow("month 0") << u"00/2024"_s << QDate();
        QTest::newRow("month 13") << u"13/2024"_s << QDate();
        QTest::newRow("short") << u"3/2024"_s << QDate();
        QTest::newRow("full date") << u"01/03/2024"_s << QDate();
    }
    void parseMonthYear() {
        QFETCH(QString, text);
        QFETCH(QDate, expected);
        const std::optional<TDateTime> value = ParseMonthYear(text);
        QCOMPARE(value.has_value(), expected.isValid());
        if (value) {
            QCOMPARE(ToQDate(*value), expected);
            QCOMPARE(FormatMonthYear(*value + 14.5), text);
        }
    }

    void encodeDate_data() {
        QTest::addColumn<int>("year");
        QTest::addColumn<int>("month");
        QTest::addColumn<int>("day");
        QTest::addColumn<QString>("error"); // empty: valid
        QTest::newRow("valid") << 2024 << 2 << 29 << QString();
        QTest::newRow("31 feb") << 2024 << 2 << 31 << u"'31/02/2024' não é uma data válida."_s;
        QTest::newRow("month 0") << 2024 << 0 << 1 << u"'01/00/2024' não é uma data válida."_s;
        QTest::newRow("year 0") << 0 << 1 << 1 << u"'01/01/0000' não é uma data válida."_s;
        QTest::newRow("year 10000") << 10000 << 1 << 1 << u"'01/01/10000' não é uma data válida."_s;
    }
    void encodeDate() {
        QFETCH(int, year);
        QFETCH(int, month);
        QFETCH(int, day);
        QFETCH(QString, error);
        TDateTime tried = -1;
        QCOMPARE(TryEncodeDate(year, month, day, tried), error.isEmpty());
        try {
            const TDateTime value = EncodeDate(year, month, day);
            QVERIFY2(error.isEmpty(), "EncodeDate accepted a day that does not exist");
            QCOMPARE(ToQDate(value), QDate(year, month, day));
            QCOMPARE(tried, value);
        } catch (const EConvertError &e) {
            QCOMPARE(e.Message(), error);
            QCOMPARE(tried, -1.0);
        }
    }

    void iso_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QDateTime>("expected"); // invalid: rejected
        QTest::newRow("date") << u"2024-03-01"_s << QDateTime(QDate(2024, 3, 1), QTime(0, 0));
        QTest::newRow("with time")
            << u"2024-03-01T10:20:30.000"_s << QDateTime(QDate(2024, 3, 1), QTime(10, 20, 30));
        QTest::newRow("with ms") << u"2024-03-01T10:20:30.045"_s
                                 << QDateTime(QDate(2024, 3, 1), QTime(10, 20, 30, 45));
        QTest::newRow("30 feb") << u"2024-02-30"_s << QDateTime();
        QTest::newRow("short month") << u"2024-3-1"_s << QDateTime();
        QTest::newRow("trailing garbage") << u"2024-03-01x"_s << QDateTime();
        QTest::newRow("zone") << u"2024-03-01T10:20:30.000Z"_s << QDateTime();
        QTest::newRow("hour 24") << u"2024-03-01T24:00:00.000"_s << QDateTime();
        QTest::newRow("slashes") << u"2024/03/01"_s << QDateTime();
        QTest::newRow("blank time") << u"2024-03-01 10:20:30.000"_s << QDateTime();
    }
    void iso() {
        QFETCH(QString, text);
        QFETCH(QDateTime, expected);
        const std::optional<TDateTime> value = FromIso(text);
        QCOMPARE(value.has_value(), expected.isValid());
        if (value) {
            QCOMPARE(ToQDateTime(*value), expected);
            QCOMPARE(ToIso(*value), text);
        }
    }

    // Every token at the edges of its width: leading zeros, the widest values, literals kept.
    void formatTokens_data() {
        QTest::addColumn<QDateTime>("when");
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<QString>("text");
        const QDateTime morning(QDate(2024, 3, 7), QTime(8, 5, 9));
        QTest::newRow("all tokens") << morning << u"dd/mm/yyyy hh:nn:ss"_s
                                    << u"07/03/2024 08:05:09"_s;
        QTest::newRow("year and month") << morning << u"yyyy-mm"_s << u"2024-03"_s;
        QTest::newRow("first year") << QDateTime(QDate(1, 1, 1), QTime(0, 0)) << u"dd/mm/yyyy"_s
                                    << u"01/01/0001"_s;
        QTest::newRow("year 99") << QDateTime(QDate(99, 12, 31), QTime(0, 0)) << u"yyyy yy"_s
                                 << u"0099 99"_s;
        QTest::newRow("two-digit year") << QDateTime(QDate(2005, 11, 30), QTime(0, 0))
                                        << u"dd.mm.yy"_s << u"30.11.05"_s;
        QTest::newRow("last moment")
            << QDateTime(QDate(9999, 12, 31), QTime(23, 59, 59, 999)) << u"yyyymmddhhnnsszzz"_s
            << u"99991231235959999"_s;
        QTest::newRow("milliseconds padded")
            << QDateTime(QDate(2024, 1, 2), QTime(3, 4, 5, 7)) << u"hh:nn:ss.zzz"_s
            << u"03:04:05.007"_s;
        QTest::newRow("literals and case") << morning << u"Dia DD, MM/YYYY"_s
                                           << u"Dia 07, 03/2024"_s;
    }
    void formatTokens() {
        QFETCH(QDateTime, when);
        QFETCH(QString, pattern);
        QFETCH(QString, text);
        QCOMPARE(Format(FromQDateTime(when), pattern), text);
    }
};

QTEST_GUILESS_MAIN(TstDateTime)
#include "tst_datetime.moc"
