#pragma once

#include "components/frmpadrao.h"
#include "dataset/datetime.h"

#include <QString>

class QGroupBox;
class QLabel;
class QLineEdit;
class QScrollArea;
class TADOIBQuery;
class TBtnPesquisa;
class TClientDataSet;
class TDBCheckBox;
class TDBDateEditPlus;
class TDBEdit;
class TField;
class TMenuItem;
class TMessages;
class TNetConnection;
class TToolButton;

// GER09400 "Parâmetro Contábil": one parameter record per company (periods in which each module
// may post into accounting, and the posting controls), kept on the application server.
// Create it with TfrmPadrao::Create<TfrmParamContab>(owner): FormCreate connects and loads.
class TfrmParamContab final : public TfrmPadrao {
    Q_OBJECT
public:
    static constexpr int HelpContextId = 12409400;

    explicit TfrmParamContab(QWidget *parent = nullptr);
    ~TfrmParamContab() override;

    // Period text of the grid: "dd/mm/yyyy a dd/mm/yyyy"; the time of day is ignored.
    QString dataPeriodo(TDateTime inicio, TDateTime fim) const;

    // Enabling of pages, toolbar and menus after a page or state change.
    void Habilita();

    // Handlers (the base form's guard runs them; from code they are plain calls).
    void FormCreate() override;
    void FormShow() override;
    void FormActivate() override;
    void FormClose(TCloseAction &action) override;
    void dtsPadraoStateChange() override;
    void sbtVerificarClick() override;
    void sbtAjudaClick() override;
    void sbtFecharClick() override;
    void netParamCtblBeforeConnect(TNetConnection &sender);
    void pgcPadraoChange();
    void mnuFolhaDadosClick();
    void mnuFormularioClick();
    void mnuControleClick();
    void cdsContOpeAfterScroll(TClientDataSet &dataSet);
    void sbtCadAutoClick();

    // Changing records (paramcontabsave.cpp).
    void sbtIncluirClick() override;
    void sbtCancelarClick() override;
    void sbtExcluirClick() override;
    void cdsContOpeNewRecord(TClientDataSet &dataSet);
    void cdsContOpeAfterInsert(TClientDataSet &dataSet);
    void cdsContOpeBeforePost(TClientDataSet &dataSet);
    void cdsContOpeAfterPost(TClientDataSet &dataSet);
    void cdsContOpeAfterCancel(TClientDataSet &dataSet);
    void cdsContOpeAfterDelete(TClientDataSet &dataSet);
    void cdsParamGeralAfterInsert(TClientDataSet &dataSet);
    void cdsParamGeralAfterPost(TClientDataSet &dataSet);
    void cdsParamGeralAfterCancel(TClientDataSet &dataSet);

    // Company of a new record (paramcontabempresa.cpp).
    void dbeCdEmpresaExit();
    void dbeCdEmpresaChange();
    void btnEmpresaBeforePesq(TBtnPesquisa &sender, bool &flag);
    void btnEmpresaAfterPesq(TBtnPesquisa &sender);

    // Checks on confirm (paramcontabconfirm.cpp).
    void sbtConfirmarClick() override;
    // What the confirm checks before it posts: company, date exits, the period rules in their
    // order and the balance rule on the server. Abandons at the first failure.
    void ValidaRegistro();
    // Drops any time of day from the control's date and checks its text; only while editing.
    void ExitData(TDBDateEditPlus *control);
    void ddeIniContExit();
    void ddeFinContExit();
    void ddeIniLancExit();
    void ddeFinLancExit();
    void ddeIniDocFisEntrExit();
    void ddeFinDocFisEntrExit();
    void ddeIniDocFisSaidExit();
    void ddeFinDocFisSaidExit();
    void ddeIniInteExit();
    void ddeFimInteExit();
    void dtIniGpaExit();
    void dtFinGpaExit();
    void dbdIniFiscalExit();
    void dbdFinFiscalExit();
    void dbdIniVendExtExit();
    void dbdFinVendExtExit();

    // Text handlers of the period columns.
    void cdsContOpeDTINICCONTGetText(TField &sender, QString &text, bool displayText);
    void cdsContOpeDTINICLANCGetText(TField &sender, QString &text, bool displayText);
    void cdsContOpeDTINIINTCONTDFEGetText(TField &sender, QString &text, bool displayText);
    void cdsContOpeDTINIINTCONTDFSGetText(TField &sender, QString &text, bool displayText);
    void cdsContOpeDTINICCTBLGetText(TField &sender, QString &text, bool displayText);
    void cdsContOpeDTINIINTCONTGPAGetText(TField &sender, QString &text, bool displayText);
    void cdsContOpeDTINIINTCONTFISGetText(TField &sender, QString &text, bool displayText);
    void cdsContOpeDTINIINTCONTVEXTGetText(TField &sender, QString &text, bool displayText);

    // Members (objectName = member name).
    TToolButton *sbtCadAuto = nullptr;
    TMenuItem *mnuControle = nullptr;
    QWidget *tshFormulario = nullptr;
    QScrollArea *scbFormulario = nullptr;
    QWidget *panEmpresa = nullptr;
    QLabel *lblEmpresa = nullptr;
    TDBEdit *dbeCdEmpresa = nullptr;
    TBtnPesquisa *btnEmpresa = nullptr;
    QLineEdit *edtNmEmpresa = nullptr;
    QGroupBox *grbContabil = nullptr;
    TDBDateEditPlus *ddeIniCont = nullptr;
    TDBDateEditPlus *ddeFinCont = nullptr;
    QGroupBox *grbLancamento = nullptr;
    TDBDateEditPlus *ddeIniLanc = nullptr;
    TDBDateEditPlus *ddeFinLanc = nullptr;
    QGroupBox *GroupBox2 = nullptr;
    TDBDateEditPlus *ddeIniDocFisEntr = nullptr;
    TDBDateEditPlus *ddeFinDocFisEntr = nullptr;
    TDBDateEditPlus *ddeIniDocFisSaid = nullptr;
    TDBDateEditPlus *ddeFinDocFisSaid = nullptr;
    TDBDateEditPlus *ddeIniInte = nullptr;
    TDBDateEditPlus *ddeFimInte = nullptr;
    TDBDateEditPlus *dtIniGpa = nullptr;
    TDBDateEditPlus *dtFinGpa = nullptr;
    TDBDateEditPlus *dbdIniFiscal = nullptr;
    TDBDateEditPlus *dbdFinFiscal = nullptr;
    TDBDateEditPlus *dbdIniVendExt = nullptr;
    TDBDateEditPlus *dbdFinVendExt = nullptr;
    QWidget *tshControle = nullptr;
    QGroupBox *grbControle = nullptr;
    TDBCheckBox *dbcCusto = nullptr;
    TDBCheckBox *dbcRatProd = nullptr;
    TDBCheckBox *dbcComercial = nullptr;
    TDBCheckBox *dbcCustEstCont = nullptr;
    TDBCheckBox *dbcSugRateio = nullptr;
    TDBCheckBox *dbcUtSaldoSoc = nullptr;
    TDBCheckBox *dbcDbCrMsmConta = nullptr;
    TDBCheckBox *dbcCCustoRetirada = nullptr;
    TDBCheckBox *dbcConsiteVND = nullptr;
    TDBCheckBox *dbcUtDespTribDifal = nullptr;
    TDBCheckBox *dbcConsDtMoviRet = nullptr;
    TDBCheckBox *cdbcContabSinte = nullptr;
    TDBCheckBox *dbcEstLancCont = nullptr;
    TDBCheckBox *dbcContaAjusDtComp = nullptr;
    TDBCheckBox *dbcContaExclICMSSep = nullptr;
    TDBCheckBox *dbcConGGF = nullptr;

    TClientDataSet *cdsContOpe = nullptr;
    TClientDataSet *cdsParamGeral = nullptr;
    TDataSource *dtsParamGeral = nullptr;
    TClientDataSet *cdsDataSaldEmpr = nullptr;
    TClientDataSet *cdsPesqLanc = nullptr;
    TClientDataSet *cdsLancSemEvolucao = nullptr;
    TADOIBQuery *qryEmpresa = nullptr;
    TDataSource *dtsEmpresa = nullptr;
    TADOIBQuery *qryPesqParam = nullptr;
    TDataSource *dtsParamCtblAux = nullptr;
    TMessages *msgPadrao = nullptr;
    TNetConnection *netParamCtbl = nullptr;

    // The sixteen date edits of the form page, in keyboard order (first day before last day).
    QList<TDBDateEditPlus *> DateEdits() const;
    // The sixteen check boxes of the controls page, top to bottom.
    QList<TDBCheckBox *> ControlChecks() const;

private:
    // Parts of the screen, built once by the constructor (paramcontabview.cpp,
    // paramcontabdata.cpp).
    void CreateDataSets();
    void CreateQueries();
    void ApplyContOpeFields();
    void BuildToolbarAndMenus();
    void BuildFormPage();
    void BuildControlPage();
    void BuildGrid();
    void SetTabOrder();
    void BindFormHandlers();
    void BindTableEvents();

    // Sends the table's change log with SetContOpe (cdsContOpe, then the host's local copies are
    // refreshed) or SetParamGeral, and merges it. On any failure every unsent change of the table
    // is thrown away and the failure travels on.
    void EnviaAlteracoes(TClientDataSet &table);

    bool Editando() const; // dtsPadrao in edit or insert state
    // A check of the form failed: form page forward, focus on `control`, the message shown.
    [[noreturn]] void FalhaNoFormulario(QWidget *control, const QString &key);
    // The balance rule: no balance of the company after the last day of the accounting period.
    void VerificaSaldoEmpresa();

    // Fills cdsContOpe and cdsParamGeral from GetContOpe; no busy indicator of its own.
    void LoadParams();
    // The parameter load with the busy indicator, as the refresh and show handlers run it.
    void CarregaParametros();

    QString PeriodText(TField &first, const QString &lastField) const;
    QString OptionalPeriodText(TField &first, const QString &lastField) const;
};
