#include "components/adoibquery.h"
#include "components/btnpesquisa.h"
#include "components/frmpadrao.h"
#include "components/frmrotigeral.h"
#include "components/functions.h"
#include "components/guard.h"
#include "components/menuitem.h"
#include "components/pagecontrol.h"
#include "components/pesquisalistadialog.h"
#include "components/toolbutton.h"
#include "dataset/datasource.h"
#include "dataset/exceptions.h"
#include "testhost.h"

#include <QLayout>
#include <QLineEdit>
#include <QMenu>
#include <QtTest>

using namespace Qt::StringLiterals;

namespace {

const QString EmpresaSql = u"SELECT CDEMPRESA, NMEMPRESA\n"
                           "FROM EMPRESA\n"
                           "WHERE ((CDEMPRESA = :P_CDEMPRESA) OR (:P_TCDEMPRESA = 'T'))\n"
                           "ORDER BY CDEMPRESA"_s;

void CreateCompanies(TestHost &host, bool withRows = true)
{
    host.ExecLocal({u"CREATE TABLE EMPRESA (CDEMPRESA VARCHAR(2), NMEMPRESA VARCHAR(40))"_s});
    if (withRows)
        host.ExecLocal({u"INSERT INTO EMPRESA VALUES ('03', 'Terceira')"_s,
                        u"INSERT INTO EMPRESA VALUES ('01', 'Primeira')"_s,
                        u"INSERT INTO EMPRESA VALUES ('02', 'Segunda')"_s});
}

void DeclareCompanyFields(TADOIBQuery &query)
{
    query.SetFieldDef(u"CDEMPRESA"_s, TFieldType::String, 2, u"Código"_s, true);
    query.SetFieldDef(u"NMEMPRESA"_s, TFieldType::String, 40, u"Nome"_s);
}

QStringList Codes(TClientDataSet &table)
{
    QStringList codes;
    for (table.First(); !table.Eof(); table.Next())
        codes.append(table.FieldByName(u"CDEMPRESA"_s)->AsString());
    return codes;
}

// A screen built the way derived screens are: members in the constructor, work in FormCreate.
class TfrmTeste final : public TfrmPadrao {
public:
    TfrmTeste()
    {
        setObjectName(u"frmTeste"_s);
        cds.setObjectName(u"cdsTeste"_s);
        dtsPadrao->SetDataSet(&cds);
        tshFormulario = new QWidget;
        tshFormulario->setObjectName(u"tshFormulario"_s);
        AddPage(tshFormulario, u"Formulário"_s);
        sbtCadAuto = new TToolButton(u"sbtCadAuto"_s, u"Cad"_s, nullptr);
        InsertToolButton(sbtCadAuto);
        mnuControle = new TMenuItem(u"mnuControle"_s, u"Controles"_s, this);
        InsertOperacaoItem(mnuControle);
    }
    void FormCreate() override
    {
        TfrmPadrao::FormCreate();
        log.append(u"create"_s);
        TTablePacket packet;
        packet.Fields = {{u"CDEMPRESA"_s, TFieldType::String, 2}};
        packet.Rows = {{u"01"_s}};
        cds.SetData(packet);
    }
    void FormShow() override { log.append(u"show"_s); }
    void FormClose(TCloseAction &action) override
    {
        TfrmPadrao::FormClose(action);
        log.append(u"close"_s);
    }
    void sbtVerificarClick() override { log.append(u"verificar"_s); }

    TClientDataSet cds;
    QWidget *tshFormulario;
    TToolButton *sbtCadAuto;
    TMenuItem *mnuControle;
    QStringList log;
};

class TfrmRotina final : public TfrmRotiGeral {
public:
    void FormClose(TCloseAction &action) override
    {
        TfrmRotiGeral::FormClose(action);
        ++closes;
        if (keepOpen)
            action = caNone;
    }
    int closes = 0;
    bool keepOpen = false;
};

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
    void baseFormLayoutAndOrder();
    void baseFormStateHandling();
    void baseFormCloseReleases();
    void routineFormCloseRunsOnce();
};

void TstComponentSearch::cleanup()
{
    TBtnPesquisa::SetChooseHook({});
    PesquisaListaDialog::SetScript({});
}

void TstComponentSearch::queryParameters_data()
{
    QTest::addColumn<QVariant>("code");
    QTest::addColumn<QVariant>("all");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("all, code ignored") << QVariant(u"09"_s) << QVariant(u"T"_s)
                                       << QStringList{u"01"_s, u"02"_s, u"03"_s};
    QTest::newRow("one by code, flag NULL") << QVariant(u"02"_s) << QVariant()
                                            << QStringList{u"02"_s};
    QTest::newRow("unknown code") << QVariant(u"99"_s) << QVariant() << QStringList{};
    QTest::newRow("empty text is not NULL") << QVariant(u"02"_s) << QVariant(u""_s)
                                            << QStringList{u"02"_s};
}

void TstComponentSearch::queryParameters()
{
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

void TstComponentSearch::queryFailureIsADatabaseError()
{
    TestHost host;
    TADOIBQuery query;
    query.SetSQL(u"SELECT X FROM NAO_EXISTE WHERE X = :P_X"_s);
    QVERIFY_THROWS_EXCEPTION(EDatabaseError, query.Open());
    QVERIFY_THROWS_EXCEPTION(EDatabaseError, query.ParamByName(u"P_Y"_s));
}

void TstComponentSearch::searchButtonEmptyList()
{
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
    button.OnAfterPesq = [&](TBtnPesquisa &) { ++after; };
    TBtnPesquisa::SetChooseHook([&](TBtnPesquisa &, TClientDataSet &) { return ++chooser; });
    button.click();
    QCOMPARE(before, 1);
    QCOMPARE(chooser, 0);
    QCOMPARE(after, 0);
    QCOMPARE(host.ErrorTexts(), QStringList{u"Não há empresa cadastrada."_s});
}

void TstComponentSearch::searchButtonStandsOnChoice()
{
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
    TBtnPesquisa::SetChooseHook([](TBtnPesquisa &, TClientDataSet &table) {
        return table.Active() ? 3 : 0;
    });
    button.click();
    QCOMPARE(chosen, u"Terceira"_s);
    QCOMPARE(query.RecNo(), 3);

    chosen.clear();
    TBtnPesquisa::SetChooseHook([](TBtnPesquisa &, TClientDataSet &) { return 0; });
    button.click();
    QVERIFY(chosen.isEmpty()); // cancelled: no after-event
    QVERIFY(host.Boxes.isEmpty());
}

void TstComponentSearch::pesquisaLista_data()
{
    QTest::addColumn<QString>("received");
    QTest::addColumn<QStringList>("toggle"); // codes whose box the person flips
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<QString>("preselected");
    QTest::newRow("choose two") << QString() << QStringList{u"03"_s, u"01"_s} << true
                                << u"01,03"_s << QString();
    QTest::newRow("keeps received choice") << u"02"_s << QStringList{u"01"_s} << true
                                           << u"01,02"_s << u"02"_s;
    QTest::newRow("cancel keeps list") << u"T"_s << QStringList{u"01"_s} << false << u"T"_s
                                       << QString();
    QTest::newRow("untick all") << u"01, 03"_s << QStringList{u"01"_s, u"03"_s} << true
                                << QString() << u"01,03"_s;
}

void TstComponentSearch::pesquisaLista()
{
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

void TstComponentSearch::pesquisaListaEmpty()
{
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
        PesquisaLista(&source, u"CDEMPRESA"_s, u"Empresa|Não existe empresa cadastrada."_s,
                      false, list);
    });
    QVERIFY(!shown);
    QCOMPARE(list, u"01"_s);
    QCOMPARE(host.ErrorTexts(), QStringList{u"Não existe empresa cadastrada."_s});
}

void TstComponentSearch::baseFormLayoutAndOrder()
{
    TestHost host;
    auto *form = TfrmPadrao::Create<TfrmTeste>(Application());
    QCOMPARE(form->log, QStringList{u"create"_s});
    QStringList buttons;
    for (QObject *child : form->panMenu->children())
        if (auto *button = qobject_cast<TToolButton *>(child))
            buttons.append(button->objectName());
    // Children are listed in creation order; the layout decides the order shown.
    QStringList shown;
    auto *layout = form->panMenu->layout();
    for (int i = 0; i < layout->count(); ++i)
        if (auto *button = qobject_cast<TToolButton *>(layout->itemAt(i)->widget()))
            shown.append(button->objectName());
    QCOMPARE(shown, (QStringList{u"sbtIncluir"_s, u"sbtAlterar"_s, u"sbtExcluir"_s,
                                 u"sbtLocalizar"_s, u"sbtVerificar"_s, u"sbtConfirmar"_s,
                                 u"sbtCancelar"_s, u"sbtCadAuto"_s, u"sbtImprimir"_s,
                                 u"sbtAjuda"_s, u"sbtFechar"_s}));
    QStringList items;
    for (QAction *action : form->mnuOperacao->actions())
        items.append(action->isSeparator() ? u"-"_s : action->objectName());
    QCOMPARE(items.mid(0, 4), (QStringList{u"mnuFolhaDados"_s, u"mnuFormulario"_s,
                                           u"mnuControle"_s, u"-"_s}));
    QCOMPARE(items.last(), u"mnuConfigImpressora"_s);
    QCOMPARE(form->pgcPadrao->ActivePage(), form->tshFolhaDados);
    QVERIFY(form->findChild<QWidget *>(u"dbgPadrao"_s));
    QCOMPARE(form->msgMensagensPadroes->Msg(u"excl"_s), u"Confirma exclusão?"_s);

    form->show();
    QVERIFY(QTest::qWaitForWindowExposed(form));
    form->hide();
    form->show();
    QCOMPARE(form->log, (QStringList{u"create"_s, u"show"_s})); // FormShow once
    form->mnuVerificar->trigger();
    QCOMPARE(form->log.last(), u"verificar"_s);
    delete form;
}

void TstComponentSearch::baseFormStateHandling()
{
    TestHost host;
    auto *form = TfrmPadrao::Create<TfrmTeste>(nullptr);
    QVERIFY(form->sbtIncluir->isEnabled());
    QVERIFY(form->sbtExcluir->isEnabled());
    QVERIFY(!form->sbtConfirmar->isEnabled());
    form->sbtIncluir->click();
    QCOMPARE(form->cds.State(), TDataSetState::Insert);
    QVERIFY(form->sbtConfirmar->isEnabled());
    QVERIFY(form->mnuCancelar->isEnabled());
    QVERIFY(!form->sbtIncluir->isEnabled());
    QVERIFY(!form->sbtVerificar->isEnabled());
    QVERIFY(!form->dbnPadrao->isEnabled());

    host.QueueAnswer(mrNo);
    form->sbtCancelar->click();
    QCOMPARE(form->cds.State(), TDataSetState::Insert);
    host.QueueAnswer(mrYes);
    form->mnuCancelar->trigger();
    QCOMPARE(form->cds.State(), TDataSetState::Browse);
    QCOMPARE(host.BoxTexts(), (QStringList{u"Confirma cancelamento das alterações?"_s,
                                           u"Confirma cancelamento das alterações?"_s}));

    host.QueueAnswer(mrYes);
    form->sbtExcluir->click();
    QVERIFY(form->cds.IsEmpty());
    QCOMPARE(host.BoxTexts().last(), u"Confirma exclusão?"_s);
    // The buttons follow state changes: a new load of the empty table disables the record ones.
    form->cds.SetData(form->cds.GetData());
    QVERIFY(!form->sbtExcluir->isEnabled());
    QVERIFY(form->sbtIncluir->isEnabled());
    delete form;
}

void TstComponentSearch::baseFormCloseReleases()
{
    TestHost host;
    QPointer<TfrmTeste> form = TfrmPadrao::Create<TfrmTeste>(Application());
    form->show();
    form->sbtFechar->click();
    QCOMPARE(form->log.last(), u"close"_s);
    QTRY_VERIFY(form.isNull());
}

void TstComponentSearch::routineFormCloseRunsOnce()
{
    TestHost host;
    QPointer<TfrmRotina> dialog = TfrmRotiGeral::Create<TfrmRotina>(Application());
    QVERIFY(dialog->sbtConfirma->autoRaise());
    dialog->keepOpen = true;
    dialog->show();
    dialog->reject();
    QVERIFY(dialog->isVisible());
    dialog->keepOpen = false;
    dialog->close();
    QCOMPARE(dialog->closes, 2);
    QVERIFY(!dialog->isVisible());
    QTRY_VERIFY(dialog.isNull());
}

QTEST_MAIN(TstComponentSearch)
#include "tst_componentsearch.moc"
