#pragma once

#include "components/frmrotigeral.h"

#include <QList>
#include <QString>

class QCheckBox;
class QGroupBox;
class QLabel;
class QRadioButton;
class TADOIBQuery;
class TBtnPesquisa;
class TClientDataSet;
class TDataSource;
class TDateEditPlus;

// GER09410 "Cadastramento Automático": one new set of periods and/or posting controls applied to
// every company, or to a chosen list, in one request to the application server. Opened modally by
// the parameter screen's toolbar; closing it reloads that screen's records.
// Create it with TfrmRotiGeral::Create<TfrmCadAuto>(owner).
class TfrmCadAuto final : public TfrmRotiGeral {
    Q_OBJECT
public:
    static constexpr int ClientWidth = 616;
    static constexpr int ClientHeight = 560;

    explicit TfrmCadAuto(QWidget *parent = nullptr);
    ~TfrmCadAuto() override;

    // Handlers (the guard runs them; from code they are plain calls).
    void FormShow() override;
    void FormClose(TCloseAction &action) override;
    void rbtTodasClick();
    void rbtListaClick();
    void btpEmpresaClick();
    void ckcPeriodosClick();
    void ckcControleClick();
    void HabilitaPeriodos();
    void HabilitaControle();
    QString RetornaValor(const QCheckBox *box) const; // "S" checked, "N" otherwise
    void depPerInicialExit();
    void depPerFinalExit();
    void depLancInicialExit();
    void depLancFinalExit();
    void depDFEInicialExit();
    void depDFEFinalExit();
    void depDFSInicialExit();
    void depDFSFinalExit();
    void depFINInicialExit();
    void depFINFinalExit();
    void depGPAInicialExit();
    void depGPAFinalExit();
    void depFICALInicialExit();
    void depFISCALFinalExit();
    void depVENEXTInicialExit();
    void depVENEXTFinalExit();

    // Confirm (cadautoconfirm.cpp).
    void sbtConfirmaClick();
    // True when the edit counts as not given: empty text, or a date of 0.
    bool DataNaoInformada(TDateEditPlus *control) const;
    // A required date: given (else focus and DATA_DEV with its hint), then its own text check.
    void ValidaData(TDateEditPlus *control);
    // The date lies within the accounting period (else focus and DATA_DENTRO_PER with its hint).
    void DataEntrePerConabil(TDateEditPlus *control);

    // Members (objectName = member name).
    QWidget *panEmpresa = nullptr;
    QRadioButton *rbtTodas = nullptr;
    QRadioButton *rbtLista = nullptr;
    TBtnPesquisa *btpEmpresa = nullptr;
    QGroupBox *GroupBox1 = nullptr;
    QRadioButton *RadioButton1 = nullptr;
    QRadioButton *RadioButton2 = nullptr;
    TBtnPesquisa *BtnPesquisa2 = nullptr;
    QCheckBox *ckcPeriodos = nullptr;
    QCheckBox *ckcControle = nullptr;
    QGroupBox *grbPeriodos = nullptr;
    QGroupBox *grbPeriodo = nullptr;
    QGroupBox *grbLancamento = nullptr;
    QGroupBox *grbIntegracao = nullptr;
    TDateEditPlus *depPerInicial = nullptr;
    TDateEditPlus *depPerFinal = nullptr;
    TDateEditPlus *depLancInicial = nullptr;
    TDateEditPlus *depLancFinal = nullptr;
    TDateEditPlus *depDFEInicial = nullptr;
    TDateEditPlus *depDFEFinal = nullptr;
    TDateEditPlus *depDFSInicial = nullptr;
    TDateEditPlus *depDFSFinal = nullptr;
    TDateEditPlus *depFINInicial = nullptr;
    TDateEditPlus *depFINFinal = nullptr;
    TDateEditPlus *depGPAInicial = nullptr;
    TDateEditPlus *depGPAFinal = nullptr;
    TDateEditPlus *depFICALInicial = nullptr;
    TDateEditPlus *depFISCALFinal = nullptr;
    TDateEditPlus *depVENEXTInicial = nullptr;
    TDateEditPlus *depVENEXTFinal = nullptr;
    QGroupBox *grbControle = nullptr;
    QCheckBox *ckcContCCus = nullptr;
    QCheckBox *ckcRatProd = nullptr;
    QCheckBox *ckcContCom = nullptr;
    QCheckBox *ckcCustEst = nullptr;
    QCheckBox *ckcSugRat = nullptr;
    QCheckBox *ckcUtSaldoSociet = nullptr;
    QCheckBox *ckcMsmConta = nullptr;
    QCheckBox *ckcPriorizaCCustSeto = nullptr;
    QCheckBox *ckcConsiteVndDFS = nullptr;
    QCheckBox *ckcUtilizaCNT = nullptr;
    QCheckBox *ckcConsideraData = nullptr;
    QCheckBox *ckcCntLote = nullptr;
    QCheckBox *ckcGeraEstorno = nullptr;
    QCheckBox *ckcContVrExcICMSep = nullptr;

    TADOIBQuery *qryEmpresa = nullptr;
    TDataSource *dtsEmpresa = nullptr;
    TClientDataSet *cdsCadAuto = nullptr;
    TClientDataSet *cdsErrosCadAuto = nullptr;

    // The sixteen date edits, pair by pair, start before end.
    QList<TDateEditPlus *> DateEdits() const;
    // The fourteen control boxes, top to bottom.
    QList<QCheckBox *> ControlChecks() const;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void BuildCompanyPanel(QWidget *parent);
    void BuildPeriods(QWidget *parent);
    void BuildControls(QWidget *parent);
    void CreateDataSets();
    void FitFont();
    void BindHandlers();
    // Both radio pairs show the selection that a confirm would apply.
    void MostraEscolha();
    // Each switch sits on its group's caption line, right after the text.
    void PlaceSwitch(QCheckBox *box, QGroupBox *group);
    // The confirm's parts, in order.
    void ValidaPeriodos();
    void ValidaNoServidor(); // abandons with the list when the server finds inconsistencies
    void Aplica();
};
