// Choosing the company of a new parameter record: typed or searched, normalised, known to the
// local company table and not yet holding a record.
#include "frmparamcontab.h"

#include "components/adoibquery.h"
#include "components/btnpesquisa.h"
#include "components/dbedit.h"
#include "components/functions.h"
#include "components/messages.h"
#include "components/pagecontrol.h"
#include "dataset/datasource.h"

#include <QLineEdit>

using namespace Qt::StringLiterals;

bool TfrmParamContab::Editando() const {
    const TDataSetState state = dtsPadrao->State();
    return state == TDataSetState::Edit || state == TDataSetState::Insert;
}

void TfrmParamContab::FalhaNoFormulario(QWidget *control, const QString &key) {
    pgcPadrao->SetActivePage(tshFormulario);
    pgcPadraoChange();
    control->setFocus();
    MensErro(msgPadrao->Msg(key), true);
}

void TfrmParamContab::dbeCdEmpresaExit() {
    if (!Editando())
        return;
    if (EmptyString(dbeCdEmpresa->text()))
        FalhaNoFormulario(dbeCdEmpresa, u"EMPRESA_Vaz"_s);
    // Written back before the lookup, so the record carries the code as it is looked up.
    dbeCdEmpresa->setText(Ajusta(dbeCdEmpresa->text(), 2));

    qryEmpresa->Close();
    qryEmpresa->ParamByName(u"P_CDEMPRESA"_s).SetAsString(dbeCdEmpresa->text());
    qryEmpresa->ParamByName(u"P_TCDEMPRESA"_s).Clear();
    qryEmpresa->Open();
    if (qryEmpresa->IsEmpty())
        FalhaNoFormulario(dbeCdEmpresa, u"EMPRESA_Inv"_s);

    qryPesqParam->Close();
    qryPesqParam->ParamByName(u"P_CDEMPRESA"_s).SetAsString(dbeCdEmpresa->text());
    qryPesqParam->Open();
    // While editing, the record found is the company's own.
    if (!qryPesqParam->IsEmpty() && dtsPadrao->State() == TDataSetState::Insert)
        FalhaNoFormulario(dbeCdEmpresa, u"EMPRESA_EX"_s);

    edtNmEmpresa->setText(qryEmpresa->FieldByName(u"NMEMPRESA"_s)->AsString());
}

void TfrmParamContab::dbeCdEmpresaChange() {
    // A name shown for the previous code must never stand beside another one.
    edtNmEmpresa->clear();
}

void TfrmParamContab::btnEmpresaBeforePesq(TBtnPesquisa &, bool &) {
    qryEmpresa->Close();
    qryEmpresa->ParamByName(u"P_CDEMPRESA"_s).Clear();
    qryEmpresa->ParamByName(u"P_TCDEMPRESA"_s).SetAsString(u"T"_s);
    qryEmpresa->Open();
}

void TfrmParamContab::btnEmpresaAfterPesq(TBtnPesquisa &) {
    // No check here: a company that already has a record is reported on leaving the code or on
    // confirm.
    dbeCdEmpresa->setText(qryEmpresa->FieldByName(u"CDEMPRESA"_s)->AsString());
    edtNmEmpresa->setText(qryEmpresa->FieldByName(u"NMEMPRESA"_s)->AsString());
}
