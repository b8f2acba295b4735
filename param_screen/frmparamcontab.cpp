#include "frmparamcontab.h"

#include "bulk_screen/frmcadauto.h"
#include "components/busyguard.h"
#include "components/dbnavigator.h"
#include "components/functions.h"
#include "components/hostinterface.h"
#include "components/menuitem.h"
#include "components/messages.h"
#include "components/pagecontrol.h"
#include "components/toolbutton.h"
#include "dataset/clientdataset.h"
#include "dataset/datasource.h"
#include "package/pkg_ger09400.h"
#include "rpc/netconnection.h"
#include "rules/catalogues.h"

#include <QLabel>
#include <QLineEdit>

using namespace Qt::StringLiterals;

TfrmParamContab::TfrmParamContab(QWidget *parent)
    : TfrmPadrao(parent) {
    setObjectName(u"frmParamContab"_s);
    setWindowTitle(u"Parâmetro Contábil"_s);
    lblCodTela->setText(u"GER09400"_s);
    SetHelpFile(u"Gerhelp.hlp"_s);
    SetHelpContext(HelpContextId);
    // This screen moves between records only through the grid and the navigator.
    SetKeyHandlingEnabled(false);
    SetNavigatePopupEnabled(false);

    msgPadrao = new TMessages(u"msgPadrao"_s, this);
    msgPadrao->SetLines(ParamContabMessages());

    netParamCtbl = new TNetConnection(this);
    netParamCtbl->setObjectName(u"netParamCtbl"_s);
    netParamCtbl->SetServerName(u"Ger09400.rdmParamCtbl"_s);
    netParamCtbl->SetThrowException(false);
    netParamCtbl->OnBeforeConnect = [this](TNetConnection &sender) {
        netParamCtblBeforeConnect(sender);
    };

    // Widgets before tables: binding the tables fires state changes that reach Habilita.
    BuildToolbarAndMenus();
    CreateQueries();
    BuildFormPage();
    BuildControlPage();
    SetTabOrder();
    BindFormHandlers();
    CreateDataSets();
    BuildGrid();
    resize(1140, 600);
}

TfrmParamContab::~TfrmParamContab() {
    // The tables go before the widgets bound to them; keep their events off the half-gone screen.
    if (cdsContOpe) {
        cdsContOpe->AfterScroll = nullptr;
        cdsContOpe->AfterOpen = nullptr;
    }
    // However the screen goes (closed, or released with the application), the next entry call
    // must create a new one.
    if (frmParamContab == this) {
        frmParamContab = nullptr;
        bostCriado = false;
    }
}

void TfrmParamContab::FormCreate() {
    TfrmPadrao::FormCreate();
    pgcPadrao->SetActivePage(tshFolhaDados);
    {
        BusyGuard busy(Host()->MainForm(), 6);
        netParamCtbl->Open();
        LoadParams();
    }
    Habilita();
}

void TfrmParamContab::FormShow() {
    TfrmPadrao::FormShow();
    CarregaParametros();
}

void TfrmParamContab::FormActivate() {
    TfrmPadrao::FormActivate();
    update();
}

void TfrmParamContab::FormClose(TCloseAction &action) {
    bostCriado = false;
    netParamCtbl->Close();
    TfrmPadrao::FormClose(action);
}

void TfrmParamContab::netParamCtblBeforeConnect(TNetConnection &sender) {
    sender.SetPort(WebPort());
    sender.SetHost(WebURL());
    Host()->PrepareConnection(sender); // TLS and token, when the host's server asks for them
}

void TfrmParamContab::CarregaParametros() {
    BusyGuard busy(Host()->MainForm(), 6);
    LoadParams();
}

void TfrmParamContab::sbtVerificarClick() {
    CarregaParametros();
}

void TfrmParamContab::pgcPadraoChange() {
    mnuFolhaDados->SetChecked(pgcPadrao->ActivePage() == tshFolhaDados);
    mnuFormulario->SetChecked(pgcPadrao->ActivePage() == tshFormulario);
    Habilita();
}

void TfrmParamContab::mnuFolhaDadosClick() {
    if (pgcPadrao->ActivePage() == tshFolhaDados)
        return;
    pgcPadrao->SetActivePage(tshFolhaDados);
    pgcPadraoChange();
}

void TfrmParamContab::mnuFormularioClick() {
    if (pgcPadrao->ActivePage() == tshFormulario)
        return;
    pgcPadrao->SetActivePage(tshFormulario);
    pgcPadraoChange();
}

void TfrmParamContab::mnuControleClick() {
    if (pgcPadrao->ActivePage() == tshControle)
        return;
    pgcPadrao->SetActivePage(tshControle);
    pgcPadraoChange();
}

void TfrmParamContab::Habilita() {
    const bool empty = cdsContOpe->IsEmpty();
    const TDataSetState state = dtsPadrao->State();
    const bool browse = state == TDataSetState::Browse;
    const bool editing = state == TDataSetState::Edit || state == TDataSetState::Insert;

    // Pages: the list only while browsing rows; the form pages whenever there is a row.
    pgcPadrao->SetPageEnabled(tshFolhaDados, !empty && browse);
    mnuFolhaDados->SetEnabled(!empty && browse);
    pgcPadrao->SetPageEnabled(tshFormulario, !empty);
    mnuFormulario->SetEnabled(!empty);
    pgcPadrao->SetPageEnabled(tshControle, !empty);
    mnuControle->SetEnabled(pgcPadrao->PageEnabled(tshControle));

    TToolButton *const recordButtons[] = {sbtAlterar, sbtExcluir, sbtLocalizar, sbtVerificar};
    TMenuItem *const recordItems[] = {mnuAlterar, mnuExcluir, mnuLocalizar, mnuVerificar};

    QWidget *const active = pgcPadrao->ActivePage();
    if (active == tshFormulario || active == tshControle) {
        mnuConfirmar->SetEnabled(editing);
        mnuCancelar->SetEnabled(editing);
        mnuIncluir->SetEnabled(browse);
        for (TMenuItem *item : recordItems)
            item->SetEnabled(browse && !empty);
        sbtConfirmar->setEnabled(editing);
        sbtCancelar->setEnabled(editing);
        sbtIncluir->setEnabled(browse);
        for (TToolButton *button : recordButtons)
            button->setEnabled(browse && !empty);
        dbnPadrao->setEnabled(browse);
    } else if (active == tshFolhaDados) {
        // On the list the edit buttons keep what the base form's state handling decided.
        sbtIncluir->setEnabled(true);
        for (TToolButton *button : recordButtons)
            button->setEnabled(!empty);
    }

    for (int i = 0; i < 4; ++i)
        recordItems[i]->SetEnabled(recordButtons[i]->isEnabled());
    // Bulk registration is offered exactly when a new record could be started.
    sbtCadAuto->setEnabled(sbtIncluir->isEnabled());
}

void TfrmParamContab::dtsPadraoStateChange() {
    TfrmPadrao::dtsPadraoStateChange();
    Habilita();
    sbtImprimir->setEnabled(false);
    mnuListagem->SetEnabled(false);
    mnuConfigImpressora->SetEnabled(false);
    // The company of an existing record cannot change; it is chosen only when inserting.
    SetChildEnabled(panEmpresa, cdsContOpe->State() == TDataSetState::Insert);
    edtNmEmpresa->setEnabled(false); // a display only: the name comes from the company table
}

void TfrmParamContab::cdsContOpeAfterScroll(TClientDataSet &dataSet) {
    edtNmEmpresa->setText(dataSet.FieldByName(u"NMEMPRESA"_s)->AsString());
}

void TfrmParamContab::sbtAjudaClick() {
    Host()->ShowHelp(u"Gerhelp.hlp"_s, HelpContextId);
}

void TfrmParamContab::sbtFecharClick() {
    close();
}

void TfrmParamContab::sbtCadAutoClick() {
    frmCadAuto = TfrmRotiGeral::Create<TfrmCadAuto>(Application());
    frmCadAuto->exec(); // its closing reloads this screen
}
