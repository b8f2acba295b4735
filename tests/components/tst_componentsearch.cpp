#include "components/adoibquery.h"
#include "components/btnpesquisa.h"
#include "components/functions.h"
#include "components/guard.h"
#include "components/pesquisalistadialog.h"
#include "dataset/datasource.h"
#include "dataset/exceptions.h"
#include "testhost.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QtTest>

using namespace Qt::StringLiterals;

namespace {

const QString EmpresaSql = u"SELECT CDEMPRESA, NMEMPRESA\n"
                           "FROM EMPRESA\n"
                           "WHERE ((CDEMPRESA = :P_CDEMPRESA) OR (:P_TCDEMPRESA = 'T'))\n"
                           "ORDER BY CDEMPRESA"_s;

void CreateCompanies(TestHost &host, bool withRows = true) {
    host.ExecLocal({u"CREATE TABLE EMPRESA (CDEMPRESA VARCHAR(2), NMEMPRESA VARCHAR(40))"_s});
    if (withRows)
        host.ExecLocal({u"INSERT INTO EMPRESA VALUES ('03', 'Terceira')"_s,
                        u"INSERT INTO EMPRESA VALUES ('01', 'Primeira')"_s,
                        u"INSERT INTO EMPRESA VALUES ('02', 'Segunda')"_s});
}

void DeclareCompanyFields(TADOIBQuery &query) {
    query.SetFieldDef(u"CDEMPRESA"_s, TFieldType::String, 2, u"Código"_s, true);
    query.SetFieldDef(u"NMEMPRESA"_s, TFieldType::String, 40, u"Nome"_s);
}

QStringList Codes(TClientDataSet &table) {
    QStringList codes;
    for (table.First(); !table.Eof(); table.Next())
        codes.append(table.FieldByName(u"CDEMPRESA"_s)->AsString());
    return codes;
}

} // namespace

class TstComponentSearch final : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void cleanup();
    void queryParameters_data();
    void queryParameters();
    void queryFailureIsADatabaseError();
    void searchButtonEmptyList();
    void searchButtonStandsOnChoice();
    void pesquisaLista_data();
    void pesquisaLista();
    void pesquisaListaEmpty();
    void pesquisaListaButtons();
};

void TstComponentSearch::cleanup() {
    TBtnPesquisa::SetChooseHook({});
    PesquisaListaDialog::SetScript({});
}

void TstComponentSearch::queryParameters_data() {
    QTest::addColumn<QVariant>("code");
    QTest::addColumn<QVariant>("all");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("all, code ignored")
        << QVariant(u"09"_s) << QVariant(u"T"_s) << QStringList{u"01"_s, u"02"_s, u"03"_s};
    QTest::newRow("one by code, flag NULL")
        << QVariant(u"02"_s) << QVariant() << QStringList{u"02"_s};
    QTest::newRow("unknown code") << QVariant(u"99"_s) << QVariant() << QStringList{};
    QTest::newRow("empty text is not NULL")
        << QVariant(u"02"_s) << QVariant(u""_s) << QStringList{u"02"_s};
}

void TstComponentSearch::queryParameters() {
    QFETCH(QVariant, code);
    QFETCH(QVariant, all);
    QFETCH(QStringList, expected);
    TestHost host;
    CreateCompanies(host);
    TADOIBQuery query(u"qryEmpresa"_s, nullptr);
    DeclareCompanyFields(query);
    query.SetSQL(EmpresaSql);
    QCOMPARE(query.ParamCount(), 2);
    query.ParamByName(u"p_cdempresa"_s).SetAsString(code.toString());
    TParam &flag = query.ParamByName(u"P_TCDEMPRESA"_s);
    if (all.isNull())
        flag.Clear();
    else
        flag.SetAsString(all.toString());
    QCOMPARE(flag.IsNull(), all.isNull());
    query.Open();
    QVERIFY(query.Active());
    QCOMPARE(query.RecordCount(), int(expected.size()));
    QCOMPARE(query.IsEmpty(), expected.isEmpty());
    QCOMPARE(Codes(query), expected);
    QCOMPARE(query.FieldByName(u"CDEMPRESA"_s)->DisplayLabel(), u"Código"_s);
    QCOMPARE(query.FieldByName(u"NMEMPRESA"_s)->Size(), 40);
}

void TstComponentSearch::queryFailureIsADatabaseError() {
    TestHost host;
    TADOIBQuery query;
    query.SetSQL(u"SELECT X FROM NAO_EXISTE WHERE X = :P_X"_s);
    QVERIFY_THROWS_EXCEPTION(EDatabaseError, query.Open());
    QVERIFY_THROWS_EXCEPTION(EDatabaseError, query.ParamByName(u"P_Y"_s));
}

void TstComponentSearch::searchButtonEmptyList() {
    TestHost host;
    CreateCompanies(host, false);
    TADOIBQuery query;
    query.SetSQL(u"SELECT CDEMPRESA, NMEMPRESA FROM EMPRESA"_s);
    TDataSource source;
    source.SetDataSet(&query);
    TBtnPesquisa button(u"btnEmpresa"_s, nullptr);
    button.SetDataSource(&source);
    button.SetEmptyError(u"Não há empresa cadastrada."_s);
    int before = 0, after = 0, chooser = 0;
    button.OnBeforePesq = [&](TBtnPesquisa &, bool &) {
        ++before;
        query.Close();
        query.Open();
    };
    button.OnAfterPesq = [&](TBtnPesquisa &) {
        ++after;
    };
    TBtnPesquisa::SetChooseHook([&](TBtnPesquisa &, TClientDataSet &) { return ++chooser; });
    button.click();
    QCOMPARE(before, 1);
    QCOMPARE(chooser, 0);
    QCOMPARE(after, 0);
    QCOMPARE(host.ErrorTexts(), QStringList{u"Não há empresa cadastrada."_s});
}

void TstComponentSearch::searchButtonStandsOnChoice() {
    TestHost host;
    CreateCompanies(host);
    TADOIBQuery query;
    DeclareCompanyFields(query);
    query.SetSQL(EmpresaSql);
    query.ParamByName(u"P_TCDEMPRESA"_s).SetAsString(u"T"_s);
    TDataSource source;
    source.SetDataSet(&query);
    QLineEdit code;
    TBtnPesquisa button(u"btnEmpresa"_s, nullptr);
    button.SetAssociate(&code);
    button.SetDataSource(&source);
    QString chosen;
    button.OnAfterPesq = [&](TBtnPesquisa &) {
        chosen = query.FieldByName(u"NMEMPRESA"_s)->AsString();
    };
    // The query is opened by the button itself when the screen did not.
    TBtnPesquisa::SetChooseHook(
        [](TBtnPesquisa &, TClientDataSet &table) { return table.Active() ? 3 : 0; });
    button.click();
    QCOMPARE(chosen, u"Terceira"_s);
    QCOMPARE(query.RecNo(), 3);

    chosen.clear();
    TBtnPesquisa::SetChooseHook([](TBtnPesquisa &, TClientDataSet &) { return 0; });
    button.click();
    QVERIFY(chosen.isEmpty()); // cancelled: no after-event
    QVERIFY(host.Boxes.isEmpty());
}

void TstComponentSearch::pesquisaLista_data() {
    QTest::addColumn<QString>("received");
    QTest::addColumn<QStringList>("toggle"); // codes whose box the person flips
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<QString>("preselected");
    QTest::newRow("choose two") << QString() << QStringList{u"03"_s, u"01"_s} << true << u"01,03"_s
                                << QString();
    QTest::newRow("keeps received choice")
        << u"02"_s << QStringList{u"01"_s} << true << u"01,02"_s << u"02"_s;
    QTest::newRow("cancel keeps list")
        << u"T"_s << QStringList{u"01"_s} << false << u"T"_s << QString();
    QTest::newRow("untick all") << u"01, 03"_s << QStringList{u"01"_s, u"03"_s} << true << QString()
                                << u"01,03"_s;
}

void TstComponentSearch::pesquisaLista() {
    QFETCH(QString, received);
    QFETCH(QStringList, toggle);
    QFETCH(bool, ok);
    QFETCH(QString, expected);
    QFETCH(QString, preselected);
    TestHost host;
    CreateCompanies(host);
    TADOIBQuery query;
    DeclareCompanyFields(query);
    query.SetSQL(u"SELECT E.CDEMPRESA, E.NMEMPRESA FROM EMPRESA E ORDER BY E.CDEMPRESA"_s);
    TDataSource source;
    source.SetDataSet(&query);
    QString seenPreselection;
    QString title;
    PesquisaListaDialog::SetScript([&](PesquisaListaDialog &dialog) {
        seenPreselection = dialog.CheckedList();
        title = dialog.windowTitle();
        for (const QString &code : toggle) {
            for (int row = 0; row < dialog.RowCount(); ++row)
                if (dialog.Code(row) == code)
                    dialog.SetChecked(row, !dialog.IsChecked(row));
        }
        return ok;
    });
    QString list = received;
    QCOMPARE(PesquisaLista(&source, u"CDEMPRESA"_s, u"Empresa|Não existe empresa cadastrada."_s,
                           false, list),
             ok);
    QCOMPARE(list, expected);
    QCOMPARE(seenPreselection, preselected);
    QCOMPARE(title, u"Empresa"_s);
    QVERIFY(host.Boxes.isEmpty());
}

void TstComponentSearch::pesquisaListaEmpty() {
    TestHost host;
    CreateCompanies(host, false);
    TADOIBQuery query;
    query.SetSQL(u"SELECT CDEMPRESA, NMEMPRESA FROM EMPRESA"_s);
    TDataSource source;
    source.SetDataSet(&query);
    bool shown = false;
    PesquisaListaDialog::SetScript([&](PesquisaListaDialog &) { return shown = true; });
    QString list = u"01"_s;
    RunGuarded([&] {
        PesquisaLista(&source, u"CDEMPRESA"_s, u"Empresa|Não existe empresa cadastrada."_s, false,
                      list);
    });
    QVERIFY(!shown);
    QCOMPARE(list, u"01"_s);
    QCOMPARE(host.ErrorTexts(), QStringList{u"Não existe empresa cadastrada."_s});
}

// The dialog a person sees: its helper buttons and a click on a row's name.
void TstComponentSearch::pesquisaListaButtons() {
    TestHost host;
    CreateCompanies(host);
    TADOIBQuery query;
    DeclareCompanyFields(query);
    query.SetSQL(u"SELECT CDEMPRESA, NMEMPRESA FROM EMPRESA ORDER BY CDEMPRESA"_s);
    query.Open();
    PesquisaListaDialog dialog(query, u"CDEMPRESA"_s, u"Empresa"_s);
    QCOMPARE(dialog.Name(1), u"Segunda"_s);
    dialog.findChild<QPushButton *>(u"btnTodas"_s)->click();
    QCOMPARE(dialog.CheckedList(), u"01,02,03"_s);
    dialog.findChild<QPushButton *>(u"btnNenhuma"_s)->click();
    QCOMPARE(dialog.CheckedList(), QString());
    auto *table = dialog.findChild<QTableWidget *>(u"grdLista"_s);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    const QRect name = table->visualItemRect(table->item(2, 1));
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, name.center());
    QCOMPARE(dialog.CheckedList(), u"03"_s);
}

QTEST_MAIN(TstComponentSearch)
#include "tst_componentsearch.moc"
