#include "components/datasetmodel.h"
#include "components/dateeditplus.h"
#include "components/dbcheckbox.h"
#include "components/dbdateeditplus.h"
#include "components/dbedit.h"
#include "components/dbgrid.h"
#include "components/dbnavigator.h"
#include "components/errors.h"
#include "components/functions.h"
#include "components/guard.h"
#include "components/menuitem.h"
#include "components/pagecontrol.h"
#include "components/toolbutton.h"
#include "dataset/datasource.h"
#include "testhost.h"

#include <QAbstractItemModelTester>
#include <QLabel>
#include <QTabBar>
#include <QToolButton>
#include <QVBoxLayout>

#include <QtTest>
#include <memory>

using namespace Qt::StringLiterals;

namespace {

TDateTime D(int y, int m, int d) {
    return DateTimeUtil::EncodeDate(y, m, d);
}

// Two companies with a period each; the start date's text is the period, as screens show it.
void FillPeriods(TClientDataSet &table) {
    TTablePacket packet;
    packet.Fields = {{u"CDEMPRESA"_s, TFieldType::String, 2},
                     {u"DTINI"_s, TFieldType::Date},
                     {u"DTFIM"_s, TFieldType::Date},
                     {u"IDFLAG"_s, TFieldType::String, 1}};
    packet.Rows = {{u"01"_s, D(2024, 3, 1), D(2024, 3, 31), u"S"_s},
                   {u"02"_s, QVariant(), QVariant(), u"N"_s}};
    table.SetData(packet);
    table.FieldByName(u"DTINI"_s)->OnGetText = [&table](TField &, QString &text, bool) {
        text = DateTimeUtil::FormatDate(table.FieldByName(u"DTINI"_s)->AsDateTime()) + u" a "_s +
               DateTimeUtil::FormatDate(table.FieldByName(u"DTFIM"_s)->AsDateTime());
    };
}

} // namespace

class TstComponentControls final : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void dateEditText_data();
    void dateEditText();
    void emptyDateSurvivesRoundTrip();
    void checkValidDate_data();
    void checkValidDate();
    void monthBoundsOfShownDate();
    void upDownStepsTheMonth();
    void weekDayName();
    void boundDateShowsDateNotText();
    void boundControlsWriteBeforePost();
    void firstKeystrokeEdits();
    void textChangingKeysEdit_data();
    void textChangingKeysEdit();
    void checkBoxFlags();
    void untouchedControlsLeaveTheirFields_data();
    void untouchedControlsLeaveTheirFields();
    void emptyDateEditReadsEmpty();
    void typingInBrowseKeepsEveryKey_data();
    void typingInBrowseKeepsEveryKey();
    void gridModel();
    void gridFollowsCurrentRow();
    void toolButtonClickWhileDisabled();
    void menuItemTickBelongsToTheHandler();
    void pageControlFiresOnUserChoiceOnly();
    void exitHandlerCanRefuseAPageChange_data();
    void exitHandlerCanRefuseAPageChange();
    void passingExitLetsThePageChange();
    void navigatorFollowsTheRow();
};

void TstComponentControls::dateEditText_data() {
    QTest::addColumn<bool>("showDia");
    QTest::addColumn<TDateTime>("date");
    QTest::addColumn<QString>("text");
    QTest::addColumn<TDateTime>("readBack");
    QTest::newRow("whole date") << true << D(2024, 2, 29) + 0.75 << u"29/02/2024"_s
                                << D(2024, 2, 29);
    QTest::newRow("month only") << false << D(2024, 3, 15) << u"03/2024"_s << D(2024, 3, 1);
}

void TstComponentControls::dateEditText() {
    QFETCH(bool, showDia);
    QFETCH(TDateTime, date);
    QFETCH(QString, text);
    QFETCH(TDateTime, readBack);
    TDateEditPlus edit(u"depTeste"_s, nullptr);
    edit.SetShowDia(showDia);
    edit.SetDate(date);
    QCOMPARE(edit.text(), text);
    QCOMPARE(edit.GetDate(), readBack);
    QCOMPARE(edit.objectName(), u"depTeste"_s);
}

void TstComponentControls::emptyDateSurvivesRoundTrip() {
    for (bool showDia : {true, false}) {
        TDateEditPlus edit;
        edit.SetShowDia(showDia);
        QVERIFY(edit.IsEmpty());
        QCOMPARE(edit.GetDate(), 0.0);
        edit.SetDate(edit.GetDate());
        QVERIFY(edit.IsEmpty());
        QVERIFY(edit.text().trimmed().remove(u'/').isEmpty());
        edit.SetDate(D(2024, 1, 5));
        edit.SetDate(0);
        QVERIFY(edit.IsEmpty());
    }
}

void TstComponentControls::checkValidDate_data() {
    QTest::addColumn<bool>("showDia");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("error");
    QTest::newRow("no such day") << true << u"31022024"_s
                                 << u"'31/02/2024' não é uma data válida."_s;
    QTest::newRow("leap day") << true << u"29022024"_s << QString();
    QTest::newRow("empty") << true << QString() << QString();
    QTest::newRow("no leap day") << true << u"29022023"_s
                                 << u"'29/02/2023' não é uma data válida."_s;
    QTest::newRow("month 13") << false << u"132024"_s << u"'13/2024' não é uma data válida."_s;
    QTest::newRow("month ok") << false << u"122024"_s << QString();
}

void TstComponentControls::checkValidDate() {
    QFETCH(bool, showDia);
    QFETCH(QString, typed);
    QFETCH(QString, error);
    TDateEditPlus edit;
    edit.SetShowDia(showDia);
    edit.setFocus();
    QTest::keyClicks(&edit, typed);
    try {
        edit.CheckValidDate();
        QVERIFY2(error.isEmpty(), qPrintable(edit.text()));
    } catch (const EUserError &failure) {
        QCOMPARE(failure.Message(), error);
    }
}

void TstComponentControls::monthBoundsOfShownDate() {
    TDateEditPlus edit;
    edit.SetDate(D(2024, 2, 10));
    QCOMPARE(edit.GetPrimDia(), D(2024, 2, 1));
    QCOMPARE(edit.GetUltDia(), D(2024, 2, 29));
    edit.SetDate(0);
    QCOMPARE(edit.GetPrimDia(), 0.0);
}

void TstComponentControls::upDownStepsTheMonth() {
    TDateEditPlus edit;
    edit.SetShowDia(false);
    edit.SetEditStyle(TDateEditPlus::desUpDown);
    edit.SetDate(D(2024, 12, 1));
    QTest::keyClick(&edit, Qt::Key_Up);
    QCOMPARE(edit.text(), u"01/2025"_s);
    QTest::keyClick(&edit, Qt::Key_Down);
    QTest::keyClick(&edit, Qt::Key_Down);
    QCOMPARE(edit.text(), u"11/2024"_s);
}

void TstComponentControls::weekDayName() {
    TDateEditPlus edit;
    edit.SetWeekDays({u"Domingo"_s, u"Segunda"_s, u"Terça"_s, u"Quarta"_s, u"Quinta"_s, u"Sexta"_s,
                      u"Sábado"_s});
    edit.SetDate(D(2024, 3, 3)); // a Sunday
    QCOMPARE(edit.WeekDayText(), u"Domingo"_s);
    edit.SetShowDia(false);
    QCOMPARE(edit.WeekDayText(), QString());
}

void TstComponentControls::boundDateShowsDateNotText() {
    TClientDataSet table;
    FillPeriods(table);
    TDataSource source;
    source.SetDataSet(&table);
    TDBDateEditPlus edit(u"ddeIni"_s, nullptr);
    edit.SetDataSource(&source);
    edit.SetDataField(u"DTINI"_s);
    QCOMPARE(edit.text(), u"01/03/2024"_s);
    edit.SetShowDia(false);
    QCOMPARE(edit.text(), u"03/2024"_s);
    edit.SetShowDia(true);
    QCOMPARE(edit.text(), u"01/03/2024"_s);
    table.Next();
    QVERIFY(edit.IsEmpty());
    QCOMPARE(edit.GetDate(), 0.0);
}

void TstComponentControls::boundControlsWriteBeforePost() {
    TClientDataSet table;
    FillPeriods(table);
    TDataSource source;
    source.SetDataSet(&table);
    TDBDateEditPlus date;
    date.SetDataSource(&source);
    date.SetDataField(u"DTFIM"_s);
    TDBEdit code;
    code.SetDataSource(&source);
    code.SetDataField(u"CDEMPRESA"_s);
    QCOMPARE(code.maxLength(), 2);
    TClientDataSet::DataSetEvent check;
    QString seenCode;
    TDateTime seenDate = -1;
    table.BeforePost = [&](TClientDataSet &t) {
        seenCode = t.FieldByName(u"CDEMPRESA"_s)->AsString();
        seenDate = t.FieldByName(u"DTFIM"_s)->AsDateTime();
    };
    table.Edit();
    code.setText(u"09"_s);
    date.setText(u"30/04/2024"_s); // typed text only reaches the field on exit or post
    QCOMPARE(table.FieldByName(u"DTFIM"_s)->AsDateTime(), D(2024, 3, 31));
    table.Post();
    QCOMPARE(seenCode, u"09"_s);
    QCOMPARE(seenDate, D(2024, 4, 30));

    // An empty date edit writes no value.
    table.Edit();
    date.SetDate(0);
    table.Post();
    QVERIFY(table.FieldByName(u"DTFIM"_s)->IsNull());

    // Text that is no date stops the post with the edit's own words.
    table.Edit();
    date.setText(u"31/02/2024"_s);
    try {
        table.Post();
        QFAIL("post accepted a date that does not exist");
    } catch (const EUserError &error) {
        QCOMPARE(error.Message(), u"'31/02/2024' não é uma data válida."_s);
    }
    QCOMPARE(table.State(), TDataSetState::Edit);
}

void TstComponentControls::firstKeystrokeEdits() {
    TestHost host;
    TClientDataSet table;
    FillPeriods(table);
    TDataSource source;
    source.SetDataSet(&table);
    TDBEdit code;
    code.SetDataSource(&source);
    code.SetDataField(u"CDEMPRESA"_s);
    TDBDateEditPlus date;
    date.SetDataSource(&source);
    date.SetDataField(u"DTINI"_s);

    QTest::keyClick(&date, Qt::Key_Home);
    QCOMPARE(table.State(), TDataSetState::Browse); // moving the cursor changes nothing
    QTest::keyClicks(&date, u"15"_s);
    QCOMPARE(table.State(), TDataSetState::Edit);
    table.Cancel();

    code.selectAll();
    QTest::keyClicks(&code, u"7"_s);
    QCOMPARE(table.State(), TDataSetState::Edit);
    QCOMPARE(table.FieldByName(u"CDEMPRESA"_s)->AsString(), u"7"_s);

    // A table that refuses to edit swallows the key and shows why.
    table.Cancel();
    table.BeforeEdit = [](TClientDataSet &) {
        MensErro(u"Somente leitura."_s);
    };
    QTest::keyClicks(&code, u"8"_s);
    QCOMPARE(table.State(), TDataSetState::Browse);
    QCOMPARE(code.text(), u"01"_s);
    QCOMPARE(host.ErrorTexts(), QStringList{u"Somente leitura."_s});
}

void TstComponentControls::textChangingKeysEdit_data() {
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<bool>("edits");
    QTest::newRow("letter") << int(Qt::Key_A) << int(Qt::NoModifier) << true;
    QTest::newRow("backspace") << int(Qt::Key_Backspace) << int(Qt::NoModifier) << true;
    QTest::newRow("delete") << int(Qt::Key_Delete) << int(Qt::NoModifier) << true;
    QTest::newRow("delete word") << int(Qt::Key_Delete) << int(Qt::ControlModifier) << true;
    QTest::newRow("backspace word") << int(Qt::Key_Backspace) << int(Qt::ControlModifier) << true;
    QTest::newRow("cursor") << int(Qt::Key_Left) << int(Qt::NoModifier) << false;
    QTest::newRow("select all") << int(Qt::Key_A) << int(Qt::ControlModifier) << false;
}

// A key that changes the shown text must put the table in edit first, or the edit would show a
// value the field does not hold.
void TstComponentControls::textChangingKeysEdit() {
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(bool, edits);
    TestHost host;
    TClientDataSet table;
    FillPeriods(table);
    TDataSource source;
    source.SetDataSet(&table);
    TDBEdit code;
    code.SetDataSource(&source);
    code.SetDataField(u"CDEMPRESA"_s);
    code.setCursorPosition(1);

    QTest::keyClick(&code, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
    QCOMPARE(table.State(), edits ? TDataSetState::Edit : TDataSetState::Browse);
    if (!edits)
        QCOMPARE(code.text(), table.FieldByName(u"CDEMPRESA"_s)->AsString());
}

void TstComponentControls::checkBoxFlags() {
    TClientDataSet table;
    FillPeriods(table);
    TDataSource source;
    source.SetDataSet(&table);
    TDBCheckBox box(u"dbcFlag"_s, u"Flag"_s, nullptr);
    box.SetDataSource(&source);
    box.SetDataField(u"IDFLAG"_s);
    QVERIFY(box.isChecked());
    table.Next();
    QVERIFY(!box.isChecked());
    box.click(); // a user click in browse state starts an edit and writes at once
    QCOMPARE(table.State(), TDataSetState::Edit);
    QCOMPARE(table.FieldByName(u"IDFLAG"_s)->AsString(), u"S"_s);
    box.click();
    QCOMPARE(table.FieldByName(u"IDFLAG"_s)->AsString(), u"N"_s);
    table.Cancel();
    QVERIFY(!box.isChecked());

    // A flag without a value stays without one through a post unless the box is changed.
    table.Edit();
    table.FieldByName(u"IDFLAG"_s)->Clear();
    table.Post();
    table.Edit();
    table.Post();
    QVERIFY(table.FieldByName(u"IDFLAG"_s)->IsNull());
    table.Edit();
    box.setChecked(true);
    box.setChecked(false);
    table.Post();
    QCOMPARE(table.FieldByName(u"IDFLAG"_s)->AsString(), u"N"_s);
}

void TstComponentControls::untouchedControlsLeaveTheirFields_data() {
    QTest::addColumn<QString>("control");
    QTest::addColumn<QString>("field");
    QTest::addColumn<QVariant>("stored");
    QTest::newRow("month-only edit on a month's last day")
        << u"month"_s << u"DTFIM"_s << QVariant(D(2026, 12, 31));
    QTest::newRow("date edit on a date with a time of day")
        << u"date"_s << u"DTINI"_s << QVariant(D(2024, 3, 1) + 0.5);
    QTest::newRow("check box on a value that is no flag")
        << u"box"_s << u"IDFLAG"_s << QVariant(u"X"_s);
}

// Confirming a record whose other fields changed must not rewrite what a control merely shows.
void TstComponentControls::untouchedControlsLeaveTheirFields() {
    QFETCH(QString, control);
    QFETCH(QString, field);
    QFETCH(QVariant, stored);
    TClientDataSet table;
    FillPeriods(table);
    TDataSource source;
    source.SetDataSet(&table);
    table.Edit();
    table.FieldByName(field)->SetValue(stored);
    table.Post();

    std::unique_ptr<QWidget> widget;
    if (control == u"box"_s) {
        auto *box = new TDBCheckBox(u"dbcFlag"_s, u"Flag"_s, nullptr);
        box->SetDataSource(&source);
        box->SetDataField(field);
        widget.reset(box);
    } else {
        auto *edit = new TDBDateEditPlus(u"ddeData"_s, nullptr);
        edit->SetShowDia(control == u"date"_s);
        edit->SetDataSource(&source);
        edit->SetDataField(field);
        widget.reset(edit);
    }
    table.Edit();
    table.FieldByName(u"CDEMPRESA"_s)->SetAsString(u"07"_s);
    table.Post();
    QCOMPARE(table.FieldByName(field)->Value(), stored);

    if (auto *edit = qobject_cast<TDBDateEditPlus *>(widget.get())) {
        // The hidden day is still the field's: reading and setting the date back keeps it.
        table.Edit();
        const TDateTime day = DateTimeUtil::Trunc(stored.toDouble());
        QCOMPARE(edit->GetDate(), day);
        QCOMPARE(edit->GetUltDia(), DateTimeUtil::LastDayOfMonth(day));
        edit->SetDate(edit->GetDate());
        QCOMPARE(table.FieldByName(field)->AsDateTime(), day); // only a time of day goes
        table.Cancel();
    }
}

void TstComponentControls::emptyDateEditReadsEmpty() {
    TestHost host;
    TClientDataSet table;
    FillPeriods(table);
    table.Next(); // company 02 has no period
    TDataSource source;
    source.SetDataSet(&table);
    for (bool showDia : {true, false}) {
        TDBDateEditPlus edit(u"ddeData"_s, nullptr);
        edit.SetShowDia(showDia);
        edit.SetDataSource(&source);
        edit.SetDataField(u"DTINI"_s);
        TDateEditPlus plain;
        plain.SetShowDia(showDia);
        for (TDateEditPlus *e : {static_cast<TDateEditPlus *>(&edit), &plain}) {
            QVERIFY(!e->text().isEmpty()); // the mask's separators
            QCOMPARE(e->Text(), QString());
            QVERIFY(EmptyString(e->Text()));
            e->SetDate(e->GetDate());
            QCOMPARE(e->Text(), QString());
        }
        table.Edit();
        edit.SetDate(DateTimeUtil::EncodeDate(1899, 12, 30)); // the date an empty edit reads
        QCOMPARE(edit.Text(), QString());
        table.Post();
        QVERIFY(table.FieldByName(u"DTINI"_s)->IsNull());

        // A date the user deletes leaves the edit as empty as one never filled.
        table.Edit();
        edit.SetDate(D(2024, 5, 1));
        edit.selectAll();
        QTest::keyClick(&edit, Qt::Key_Delete);
        QCOMPARE(edit.Text(), QString());
        table.Post();
        QVERIFY(table.FieldByName(u"DTINI"_s)->IsNull());
        QCOMPARE(edit.Text(), QString());
    }
}

void TstComponentControls::typingInBrowseKeepsEveryKey_data() {
    QTest::addColumn<QString>("control");
    QTest::addColumn<QString>("keys");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QVariant>("written");
    QTest::newRow("date over its selected text")
        << u"date"_s << u"15042024"_s << u"15/04/2024"_s << QVariant(D(2024, 4, 15));
    QTest::newRow("month-only date over its selected text")
        << u"month"_s << u"042024"_s << u"04/2024"_s << QVariant(D(2024, 4, 1));
    QTest::newRow("code over its selected text")
        << u"code"_s << u"07"_s << u"07"_s << QVariant(u"07"_s);
}

// The first key puts the table into edit, which reloads every control: the key that started it
// and every later one must still land where the user typed.
void TstComponentControls::typingInBrowseKeepsEveryKey() {
    QFETCH(QString, control);
    QFETCH(QString, keys);
    QFETCH(QString, shown);
    QFETCH(QVariant, written);
    TestHost host;
    TClientDataSet table;
    FillPeriods(table);
    TDataSource source;
    source.SetDataSet(&table);
    QWidget window;
    auto *layout = new QVBoxLayout(&window);
    QLineEdit *edit = nullptr;
    QString field;
    if (control == u"code"_s) {
        auto *code = new TDBEdit(u"dbeCdEmpresa"_s, &window);
        code->SetDataSource(&source);
        code->SetDataField(field = u"CDEMPRESA"_s);
        edit = code;
    } else {
        auto *date = new TDBDateEditPlus(u"ddeData"_s, &window);
        date->SetShowDia(control == u"date"_s);
        date->SetDataSource(&source);
        date->SetDataField(field = u"DTINI"_s);
        edit = date;
    }
    auto *next = new QLineEdit(&window);
    layout->addWidget(edit);
    layout->addWidget(next);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    window.activateWindow();
    edit->setFocus();
    QTRY_VERIFY(edit->hasFocus());
    edit->selectAll();

    QTest::keyClicks(edit, keys);
    QCOMPARE(table.State(), TDataSetState::Edit);
    QCOMPARE(edit->text(), shown);
    next->setFocus(); // leaving the field writes what was typed
    QTRY_VERIFY(next->hasFocus());
    QCOMPARE(table.FieldByName(field)->Value(), written);
    QVERIFY(host.ErrorTexts().isEmpty());
}

void TstComponentControls::gridModel() {
    TClientDataSet table;
    FillPeriods(table);
    TDataSetModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    model.SetDataSet(&table);
    model.SetColumns({{u"CDEMPRESA"_s, u"Código"_s, 39}, {u"DTINI"_s, u"Per."_s, 150}});
    QCOMPARE(model.rowCount(), 2);
    QCOMPARE(model.headerData(0, Qt::Horizontal).toString(), u"Código"_s);
    QCOMPARE(model.index(0, 1).data().toString(), u"01/03/2024 a 31/03/2024"_s);
    QCOMPARE(model.index(1, 1).data().toString(), u"30/12/1899 a 30/12/1899"_s);
    QCOMPARE(table.RecNo(), 1); // reading other rows leaves the table where it was

    int scrolls = 0;
    table.AfterScroll = [&](TClientDataSet &) {
        ++scrolls;
    };
    table.Last();
    table.First(); // texts go stale, and are not read again before the edit starts
    table.Edit();
    table.FieldByName(u"CDEMPRESA"_s)->SetAsString(u"05"_s);
    QCOMPARE(model.index(0, 0).data().toString(), u"05"_s); // the row being edited is live
    QCOMPARE(model.index(1, 0).data().toString(), u"02"_s);
    table.Post();
    table.Append();
    table.FieldByName(u"CDEMPRESA"_s)->SetAsString(u"03"_s);
    table.Post();
    QCOMPARE(model.rowCount(), 3);
    QCOMPARE(model.index(2, 0).data().toString(), u"03"_s);
    table.EmptyDataSet();
    QCOMPARE(model.rowCount(), 0);
    QCOMPARE(scrolls, 3); // Last, First and the Append's own; none from the model's reading
}

void TstComponentControls::gridFollowsCurrentRow() {
    TClientDataSet table;
    FillPeriods(table);
    TDataSource source;
    source.SetDataSet(&table);
    TDBGrid grid(u"dbgPadrao"_s, nullptr);
    grid.SetDataSource(&source);
    grid.resize(400, 200);
    grid.show();
    QVERIFY(QTest::qWaitForWindowExposed(&grid));
    QCOMPARE(grid.currentIndex().row(), 0);
    table.Next();
    QCOMPARE(grid.currentIndex().row(), 1);
    const QRect cell = grid.visualRect(grid.model()->index(0, 0));
    QTest::mouseClick(grid.viewport(), Qt::LeftButton, {}, cell.center());
    QCOMPARE(table.RecNo(), 1);
}

void TstComponentControls::toolButtonClickWhileDisabled() {
    TToolButton button(u"sbtVerificar"_s, u"Verificar"_s, nullptr);
    int clicks = 0, signals_ = 0;
    button.OnClick = [&] {
        ++clicks;
    };
    connect(&button, &QToolButton::clicked, this, [&] { ++signals_; });
    button.setEnabled(false);
    button.Click();
    QCOMPARE(clicks, 1);
    QCOMPARE(signals_, 0);
    button.click(); // a disabled button ignores the user
    QCOMPARE(clicks, 1);
    button.setEnabled(true);
    button.click();
    QCOMPARE(clicks, 2);
    QCOMPARE(signals_, 1);
}

void TstComponentControls::menuItemTickBelongsToTheHandler() {
    TestHost host;
    TMenuItem item(u"mnuFolhaDados"_s, u"Folha de Dados"_s, nullptr);
    int clicks = 0;
    item.OnClick = [&] {
        ++clicks;
        MensErro(u"Falhou."_s);
    };
    item.trigger();
    QCOMPARE(clicks, 1);
    QVERIFY(!item.Checked()); // a trigger does not tick by itself
    QCOMPARE(host.ErrorTexts(), QStringList{u"Falhou."_s});
    item.SetEnabled(false);
    item.trigger();
    QCOMPARE(clicks, 1);
    QVERIFY_THROWS_EXCEPTION(EUserError, item.Click()); // from code: runs, failure travels on
    QCOMPARE(clicks, 2);
    item.SetChecked(true);
    QVERIFY(item.Checked());
}

void TstComponentControls::pageControlFiresOnUserChoiceOnly() {
    TPageControl pages(u"pgcPadrao"_s, nullptr);
    QWidget first, second, third;
    pages.AddPage(&first, u"Um"_s);
    pages.AddPage(&second, u"Dois"_s);
    pages.AddPage(&third, u"Três"_s);
    int changes = 0;
    pages.OnChange = [&] {
        ++changes;
    };
    pages.show();
    QVERIFY(QTest::qWaitForWindowExposed(&pages));

    pages.SetActivePage(&second);
    QCOMPARE(changes, 0);
    QTabBar *bar = pages.tabBar();
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(0).center());
    QCOMPARE(pages.ActivePage(), &first);
    QCOMPARE(changes, 1);

    pages.SetPageEnabled(&third, false);
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(2).center());
    QCOMPARE(pages.ActivePage(), &first);
    QCOMPARE(changes, 1);
    // Disabling the page in view keeps it in view and fires nothing.
    pages.SetPageEnabled(&first, false);
    QCOMPARE(pages.ActivePage(), &first);
    QCOMPARE(changes, 1);
}

// A field whose exit check fails keeps its page however another page is chosen: by a tab click,
// from code (the calling handler is abandoned), or by a switch Qt makes itself, during which the
// exit chooses the field's page again. The exit runs once and no change event fires.
void TstComponentControls::exitHandlerCanRefuseAPageChange_data() {
    QTest::addColumn<QString>("how");
    QTest::newRow("tab click") << u"tab"_s;
    QTest::newRow("from code") << u"code"_s;
    QTest::newRow("Qt's own switch") << u"qt"_s;
}

void TstComponentControls::exitHandlerCanRefuseAPageChange() {
    QFETCH(QString, how);
    TestHost host;
    TPageControl pages(u"pgcPadrao"_s, nullptr);
    auto *form = new QWidget;
    auto *other = new QWidget;
    auto *code = new TDBEdit(u"dbeCdEmpresa"_s, form);
    auto *next = new QLineEdit(form);
    auto *layout = new QVBoxLayout(form);
    layout->addWidget(code);
    layout->addWidget(next);
    (new QVBoxLayout(other))->addWidget(new QLineEdit(other));
    pages.AddPage(form, u"Formulário"_s);
    pages.AddPage(other, u"Controle"_s);
    QStringList events;
    pages.OnChange = [&] {
        events.append(u"change:"_s + QString::number(pages.currentIndex()));
    };
    code->OnExit = [&] {
        events.append(u"exit"_s);
        pages.SetActivePage(form);
        code->setFocus();
        MensErro(u"Empresa deve ser informada."_s);
    };
    pages.show();
    QVERIFY(QTest::qWaitForWindowExposed(&pages));
    pages.activateWindow();
    code->setFocus();
    QTRY_VERIFY(code->hasFocus());

    QTabBar *bar = pages.tabBar();
    if (how == u"tab"_s) {
        QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(1).center());
    } else if (how == u"code"_s) {
        RunGuarded([&] {
            pages.SetActivePage(other);
            events.append(u"after"_s);
        });
    } else {
        pages.setCurrentIndex(1);
    }
    QCOMPARE(pages.ActivePage(), form);
    QCOMPARE(bar->currentIndex(), 0);
    QVERIFY(form->isVisible());
    QVERIFY(!other->isVisible());
    QVERIFY(code->hasFocus());
    QCOMPARE(host.ErrorTexts(), QStringList{u"Empresa deve ser informada."_s});
    QCOMPARE(events, QStringList{u"exit"_s});
}

// An exit that passes lets a page chosen from code come forward.
void TstComponentControls::passingExitLetsThePageChange() {
    TestHost host;
    TPageControl pages(u"pgcPadrao"_s, nullptr);
    auto *form = new QWidget;
    auto *other = new QWidget;
    auto *code = new TDBEdit(u"dbeCdEmpresa"_s, form);
    (new QVBoxLayout(form))->addWidget(code);
    pages.AddPage(form, u"Formulário"_s);
    pages.AddPage(other, u"Controle"_s);
    int exits = 0;
    code->OnExit = [&] {
        ++exits;
    };
    pages.show();
    QVERIFY(QTest::qWaitForWindowExposed(&pages));
    pages.activateWindow();
    code->setFocus();
    QTRY_VERIFY(code->hasFocus());
    QVERIFY(RunGuarded([&] { pages.SetActivePage(other); }));
    QCOMPARE(pages.ActivePage(), other);
    QCOMPARE(exits, 1);
    QVERIFY(host.ErrorTexts().isEmpty());
}

void TstComponentControls::navigatorFollowsTheRow() {
    TClientDataSet table;
    FillPeriods(table);
    TDataSource source;
    source.SetDataSet(&table);
    TDBNavigator navigator(u"dbnPadrao"_s, nullptr);
    navigator.SetDataSource(&source);
    QVERIFY(!navigator.PriorButton()->isEnabled());
    QVERIFY(navigator.NextButton()->isEnabled());
    navigator.LastButton()->click();
    QCOMPARE(table.RecNo(), 2);
    QVERIFY(navigator.FirstButton()->isEnabled());
    QVERIFY(!navigator.NextButton()->isEnabled());
    table.Edit();
    QVERIFY(!navigator.FirstButton()->isEnabled()); // browse only
    table.Cancel();
    navigator.PriorButton()->click();
    QCOMPARE(table.RecNo(), 1);
}

QTEST_MAIN(TstComponentControls)
#include "tst_componentcontrols.moc"
