// The period gate's rules as one table over plain values: which rule answers a reading, whether
// it allows, and which days it shows. The server's suites ask the same through the wire; here
// every edge of every rule is tried without a database.

#include "rules/periodgate.h"

#include <QTest>

using namespace Qt::StringLiterals;
using PeriodGate::Reading;

namespace {

TDateTime day(int y, int m, int d) {
    return DateTimeUtil::FromQDate(QDate(y, m, d));
}

// Company 01's record as the gate suite keeps it: 2026 the accounting period, LANC December.
Reading reading(std::optional<TDateTime> on) {
    Reading r;
    r.Day = on;
    r.Mod = PeriodGate::FindModule(u"LANC");
    r.CompanyKnown = true;
    r.HasRecord = true;
    r.AccountingStart = day(2026, 1, 1);
    r.AccountingEnd = day(2026, 12, 31);
    r.WindowStart = day(2026, 12, 1);
    r.WindowEnd = day(2026, 12, 31);
    return r;
}

} // namespace

Q_DECLARE_METATYPE(Reading)

class TstGateRules final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void decide_data() {
        QTest::addColumn<Reading>("in");
        QTest::addColumn<QString>("reason");
        QTest::addColumn<bool>("allowed");
        QTest::addColumn<QString>("shown"); // first and last day shown, ISO, "-" for none
        const Reading dec = reading(day(2026, 12, 10));
        const auto with = [&](auto change) {
            Reading r = dec;
            change(r);
            return r;
        };
        QTest::newRow("inside the window") << dec << u"ok"_s << true << u"2026-12-01 2026-12-31"_s;
        QTest::newRow("no day") << with([](Reading &r) { r.Day.reset(); }) << u"data_invalida"_s
                                << false << u"- -"_s;
        QTest::newRow("no module") << with([](Reading &r) { r.Mod = nullptr; })
                                   << u"modulo_desconhecido"_s << false << u"- -"_s;
        QTest::newRow("unknown company") << with([](Reading &r) { r.CompanyKnown = false; })
                                         << u"empresa_desconhecida"_s << false << u"- -"_s;
        QTest::newRow("closed on the day") << with([](Reading &r) { r.Closed = *r.Day; })
                                           << u"encerrado"_s << false << u"- 2026-12-10"_s;
        QTest::newRow("closed the day before")
            << with([](Reading &r) { r.Closed = *r.Day - 1; }) << u"ok"_s << true
            << u"2026-12-01 2026-12-31"_s;
        QTest::newRow("no record") << with([](Reading &r) { r.HasRecord = false; })
                                   << u"sem_parametro"_s << false << u"- -"_s;
        QTest::newRow("no accounting start") << with([](Reading &r) { r.AccountingStart = 0; })
                                             << u"sem_parametro"_s << false << u"- -"_s;
        QTest::newRow("no accounting end") << with([](Reading &r) { r.AccountingEnd = 0; })
                                           << u"sem_parametro"_s << false << u"- -"_s;
        QTest::newRow("window's first day only") << with([](Reading &r) { r.WindowEnd = 0; })
                                                 << u"sem_janela"_s << false << u"- -"_s;
        QTest::newRow("window's last day only") << with([](Reading &r) { r.WindowStart = 0; })
                                                << u"sem_janela"_s << false << u"- -"_s;
        QTest::newRow("the window's first day")
            << with([](Reading &r) { r.Day = r.WindowStart; }) << u"ok"_s << true
            << u"2026-12-01 2026-12-31"_s;
        QTest::newRow("the day before the window")
            << with([](Reading &r) { r.Day = r.WindowStart - 1; }) << u"fora_da_janela"_s << false
            << u"2026-12-01 2026-12-31"_s;
        QTest::newRow("the day after the window")
            << with([](Reading &r) { r.Day = r.WindowEnd + 1; }) << u"fora_da_janela"_s << false
            << u"2026-12-01 2026-12-31"_s;
        QTest::newRow("window past the accounting period")
            << with([](Reading &r) {
                   r.WindowEnd = day(2027, 1, 31);
                   r.Day = day(2027, 1, 15);
               })
            << u"fora_do_periodo_contabil"_s << false << u"2026-01-01 2026-12-31"_s;
        QTest::newRow("excepted outside the window")
            << with([](Reading &r) {
                   r.Excepted = true;
                   r.Day = r.WindowStart - 1;
               })
            << u"excecao"_s << true << u"- -"_s;
        QTest::newRow("excepted, window's first day only")
            << with([](Reading &r) {
                   r.Excepted = true;
                   r.WindowEnd = 0;
               })
            << u"excecao"_s << true << u"- -"_s;
        QTest::newRow("excepted, window's last day only")
            << with([](Reading &r) {
                   r.Excepted = true;
                   r.WindowStart = 0;
               })
            << u"excecao"_s << true << u"- -"_s;
        QTest::newRow("excepted outside the accounting period")
            << with([](Reading &r) {
                   r.Excepted = true;
                   r.WindowEnd = day(2027, 1, 31);
                   r.Day = day(2027, 1, 15);
               })
            << u"excecao"_s << true << u"- -"_s;
        QTest::newRow("excepted inside the window") << with([](Reading &r) { r.Excepted = true; })
                                                    << u"ok"_s << true
                                                    << u"2026-12-01 2026-12-31"_s;
        QTest::newRow("excepted inside the close")
            << with([](Reading &r) {
                   r.Excepted = true;
                   r.Closed = *r.Day;
               })
            << u"encerrado"_s << false << u"- 2026-12-10"_s;
    }
    void decide() {
        QFETCH(Reading, in);
        QFETCH(QString, reason);
        QFETCH(bool, allowed);
        QFETCH(QString, shown);
        const PeriodGate::Answer answer = PeriodGate::Decide(in);
        QVERIFY(answer.Applied);
        QCOMPARE(QString::fromUtf16(answer.Applied->Reason), reason);
        QCOMPARE(answer.Allowed, allowed);
        const auto iso = [](TDateTime d) {
            return d == 0 ? u"-"_s : DateTimeUtil::ToQDate(d).toString(Qt::ISODate);
        };
        QCOMPARE(iso(answer.Start) + u' ' + iso(answer.End), shown);
    }
};

QTEST_GUILESS_MAIN(TstGateRules)
#include "tst_gaterules.moc"
