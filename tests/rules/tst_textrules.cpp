// Where a text is cut to its column: between characters, whatever the text.

#include "rules/controlchars.h"
#include "rules/textcut.h"

#include <QTest>

using namespace Qt::StringLiterals;

class TstTextRules final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void cut_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("units");
        QTest::addColumn<QString>("kept");
        const QString smile = u"\U0001F600"_s; // two units
        QTest::newRow("shorter") << u"abc"_s << 5 << u"abc"_s;
        QTest::newRow("exactly the width") << u"abcde"_s << 5 << u"abcde"_s;
        QTest::newRow("one over") << u"abcdef"_s << 5 << u"abcde"_s;
        QTest::newRow("pair ending at the width") << u"abc"_s + smile << 5 << u"abc"_s + smile;
        QTest::newRow("pair through the cut") << u"abcd"_s + smile << 5 << u"abcd"_s;
        QTest::newRow("pair just before the cut") << u"abc"_s + smile + u"x"_s << 5
                                                  << u"abc"_s + smile;
        QTest::newRow("pair just after the cut") << u"abcde"_s + smile << 5 << u"abcde"_s;
        QTest::newRow("pairs only, through") << smile + smile + smile << 5 << smile + smile;
        QTest::newRow("accents are one unit") << u"ção ação"_s << 3 << u"ção"_s;
        QTest::newRow("no room") << u"abc"_s << 0 << QString();
        QTest::newRow("no room for a pair") << smile << 1 << QString();
        QTest::newRow("empty") << QString() << 5 << QString();
    }
    void cut() {
        QFETCH(QString, text);
        QFETCH(int, units);
        QFETCH(QString, kept);
        const QString got = TextCut::Left(text, units);
        QCOMPARE(got, kept);
        QVERIFY(got.size() <= std::max(units, 0));
        QVERIFY(!ControlChars::Contains(got)); // never half a character
    }
};

QTEST_GUILESS_MAIN(TstTextRules)
#include "tst_textrules.moc"
