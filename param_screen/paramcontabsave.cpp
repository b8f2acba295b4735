// Changing parameter records: starting values of a new one, the steps around a post, cancel,
// delete and the general-parameter row. Every post and every delete reaches the server at once as
// the table's change log, so between two user actions the log is empty.
#include "frmparamcontab.h"

#include "components/busyguard.h"
#include "components/dbdateeditplus.h"
#include "components/dbedit.h"
#include "components/functions.h"
#include "components/hostinterface.h"
#include "components/menuitem.h"
#include "components/messages.h"
#include "components/pagecontrol.h"
#include "components/toolbutton.h"
#include "dataset/clientdataset.h"
#include "dataset/datasource.h"
#include "dataset/exceptions.h"
#include "rpc/netconnection.h"
#include "shared/paramctblclient.h"

#include <QLineEdit>

using namespace Qt::StringLiterals;

namespace {

bool Editing(const TClientDataSet *table) {
    return table->State() == TDataSetState::Edit || table->State() == TDataSetState::Insert;
}

void SetIfEmpty(TClientDataSet &table, const QString &field, const QString &value) {
    TField *f = table.FieldByName(field);
    if (EmptyString(f->AsString()))
        f->SetAsString(value);
}

} // namespace

void TfrmParamContab::BindTableEvents() {
    const auto bind = [this](std::function<void(TClientDataSet &)> &event,
                             void (TfrmParamContab::*handler)(TClientDataSet &)) {
        event = [this, handler](TClientDataSet &table) {
            (this->*handler)(table);
        };
    };
    bind(cdsContOpe->OnNewRecord, &TfrmParamContab::cdsContOpeNewRecord);
    bind(cdsContOpe->AfterInsert, &TfrmParamContab::cdsContOpeAfterInsert);
    bind(cdsContOpe->BeforePost, &TfrmParamContab::cdsContOpeBeforePost);
    bind(cdsContOpe->AfterPost, &TfrmParamContab::cdsContOpeAfterPost);
    bind(cdsContOpe->AfterCancel, &TfrmParamContab::cdsContOpeAfterCancel);
    bind(cdsContOpe->AfterDelete, &TfrmParamContab::cdsContOpeAfterDelete);
    bind(cdsParamGeral->AfterInsert, &TfrmParamContab::cdsParamGeralAfterInsert);
    bind(cdsParamGeral->AfterPost, &TfrmParamContab::cdsParamGeralAfterPost);
    bind(cdsParamGeral->AfterCancel, &TfrmParamContab::cdsParamGeralAfterCancel);
}

void TfrmParamContab::EnviaAlteracoes(TClientDataSet &table) {
    if (table.ChangeCount() == 0)
        return;
    const bool contOpe = &table == cdsContOpe;
    try {
        BusyGuard busy(Host()->MainForm(), 1);
        const TChangeLog delta = table.GetDelta();
        CheckResultServ(contOpe ? ParamCtblMethods::SetContOpe(*netParamCtbl, delta)
                                : ParamCtblMethods::SetParamGeral(*netParamCtbl, delta),
                        true, 0);
        busy.Release();
        if (table.LogChanges())
            table.MergeChangeLog();
        if (contOpe)
            AtualizaLocalCache({u"EMPRESA"_s, u"CONTOPECTBL"_s});
    } catch (...) {
        DeactiveShowAvi();
        // The table never keeps what the server did not take.
        table.CancelUpdates();
        throw;
    }
}

// --- insert ----------------------------------------------------------------------------------

void TfrmParamContab::sbtIncluirClick() {
    TfrmPadrao::sbtIncluirClick();
    pgcPadrao->SetPageEnabled(tshFormulario, true);
    mnuFormulario->SetEnabled(true);
    pgcPadrao->SetPageEnabled(tshControle, pgcPadrao->PageEnabled(tshFormulario));
    mnuControle->SetEnabled(pgcPadrao->PageEnabled(tshControle));
    pgcPadrao->SetActivePage(tshFormulario);
    pgcPadraoChange();
    dbeCdEmpresa->setFocus();
    SetIfEmpty(*cdsContOpe, u"IDUTCUSTESTCONT"_s, u"S"_s);
}

void TfrmParamContab::cdsContOpeNewRecord(TClientDataSet &t) {
    const std::pair<const char16_t *, const char16_t *> flags[] = {
        {u"IDUTSALDOSOC", u"N"},   {u"IDMSMCONTADBCR", u"N"},    {u"IDRETESTSETOR", u"S"},
        {u"IDCONSVNDDFS", u"N"},   {u"IDDESPTRIBDIFAL", u"N"},   {u"IDCONSDTMOVIRETEST", u"N"},
        {u"IDCTBSINTETICO", u"S"}, {u"IDCONTVREXCICMSEP", u"N"}, {u"IDGERESTLANCONT", u"N"},
        {u"IDCONSRATPROD", u"N"},  {u"IDSUGRAT", u"S"},          {u"IDCONTAJUDTCOMP", u"N"},
        {u"IDCONGERGGF", u"N"},
    };
    for (const auto &[field, value] : flags)
        t.FieldByName(QString::fromUtf16(field))->SetAsString(QString::fromUtf16(value));
}

void TfrmParamContab::cdsContOpeAfterInsert(TClientDataSet &t) {
    t.FieldByName(u"IDSALDEMPR"_s)->SetAsString(u"M"_s);
    t.FieldByName(u"IDCONTGERE"_s)->SetAsString(u"S"_s);
    t.FieldByName(u"IDCONTCOME"_s)->SetAsString(u"S"_s);
    const TDateTime today = DateTimeUtil::Today();
    const QList<TDBDateEditPlus *> edits = DateEdits();
    for (int i = 0; i < edits.size(); ++i) {
        edits[i]->SetDate(today);
        if (i >= 4) // the integration dates are also set on the field itself
            t.FieldByName(edits[i]->DataField())->SetAsDateTime(today);
    }
    t.FieldByName(u"IDACUMVRCONT"_s)->SetAsString(u"S"_s);
}

// --- post ------------------------------------------------------------------------------------

void TfrmParamContab::cdsContOpeBeforePost(TClientDataSet &t) {
    ddeFinCont->SetShowDia(true);
    ddeFinLanc->SetShowDia(true);
    // The accounting and posting periods are whole months.
    ddeIniCont->SetDate(PriDiaMes(ddeIniCont->GetDate()));
    ddeFinCont->SetDate(UltimoDiaMes(ddeFinCont->GetDate()));
    ddeIniLanc->SetDate(PriDiaMes(ddeIniLanc->GetDate()));
    ddeFinLanc->SetDate(UltimoDiaMes(ddeFinLanc->GetDate()));

    t.FieldByName(u"NMEMPRESA"_s)->SetAsString(edtNmEmpresa->text());
    SetIfEmpty(t, u"IDUTCUSTESTCONT"_s, u"S"_s);
    t.FieldByName(u"DTINICRELA"_s)->SetAsDateTime(t.FieldByName(u"DTINICCONT"_s)->AsDateTime());
    t.FieldByName(u"DTFINARELA"_s)->SetAsDateTime(t.FieldByName(u"DTFINACONT"_s)->AsDateTime());
    // The optional periods keep their dates as dates; one left out stays without a value, never
    // day 0, which would show as 30/12/1899 and fail the rules at the next edit.
    for (const QString &name : {u"DTINIINTCONTFIS"_s, u"DTFININTCONTFIS"_s, u"DTINIINTCONTVEXT"_s,
                                u"DTFININTCONTVEXT"_s}) {
        TField *field = t.FieldByName(name);
        if (!field->IsNull())
            field->SetAsDateTime(field->AsDateTime());
    }
    SetIfEmpty(t, u"IDSUGRAT"_s, u"N"_s);

    const QString empresa = t.FieldByName(u"CDEMPRESA"_s)->AsString();
    ParamCtblMethods::LoadPacket(
        *cdsLancSemEvolucao,
        ParamCtblMethods::getLancSemEvolucao(*netParamCtbl, empresa, ddeIniCont->GetDate()));
    const QString semEvolucao =
        cdsLancSemEvolucao->IsEmpty()
            ? QString()
            : cdsLancSemEvolucao->FieldByName(u"DTSEMEVOLUCAO"_s)->AsString();
    if (semEvolucao.isEmpty())
        return;
    const QString question = Format(msgPadrao->Msg(u"LANC_NAO_EVOLUIDO"_s), {semEvolucao});
    if (Host()->MessageDlg(question, TMsgDlgType::mtWarning, mbYes | mbNo, 0) != mrYes)
        Abort();
    CheckResultServ(ParamCtblMethods::setUsuarioFechamentoPeriodo(*netParamCtbl, empresa,
                                                                  semEvolucao, Operador()),
                    true, 0);
}

void TfrmParamContab::cdsContOpeAfterPost(TClientDataSet &t) {
    EnviaAlteracoes(t);
    Habilita();
    ddeFinCont->SetShowDia(false);
    ddeFinLanc->SetShowDia(false);
}

// --- cancel ----------------------------------------------------------------------------------

void TfrmParamContab::sbtCancelarClick() {
    if (msgMensagensPadroes->ShowMsg(u"Canc"_s, TMsgDlgType::mtConfirmation, mbYes | mbNo, 0) !=
        mrYes)
        return;
    if (Editing(cdsContOpe))
        cdsContOpe->Cancel();
    Habilita();
    if (Editing(cdsContOpe))
        return;
    const bool enabled = pgcPadrao->PageEnabled(tshFormulario);
    for (TToolButton *button : {sbtAlterar, sbtExcluir, sbtLocalizar, sbtVerificar})
        button->setEnabled(enabled);
    for (TMenuItem *item : {mnuAlterar, mnuExcluir, mnuLocalizar, mnuVerificar})
        item->SetEnabled(enabled);
}

void TfrmParamContab::cdsContOpeAfterCancel(TClientDataSet &t) {
    t.CancelUpdates();
    if (t.IsEmpty())
        pgcPadrao->SetActivePage(tshFolhaDados);
}

// --- delete ----------------------------------------------------------------------------------

void TfrmParamContab::sbtExcluirClick() {
    if (cdsContOpe->State() != TDataSetState::Browse || cdsContOpe->IsEmpty())
        return;
    if (msgMensagensPadroes->ShowMsg(u"Excl"_s, TMsgDlgType::mtConfirmation, mbYes | mbNo, 0) !=
        mrYes)
        return;
    ParamCtblMethods::LoadPacket(
        *cdsPesqLanc, ParamCtblMethods::GetPescLanc(*netParamCtbl, dbeCdEmpresa->text()));
    if (!cdsPesqLanc->IsEmpty())
        MensErro(msgPadrao->Msg(u"Exist_LancEmpr"_s), true);
    cdsContOpe->Delete();
    // Rows other users changed meanwhile come in too.
    sbtVerificar->Click();
}

void TfrmParamContab::cdsContOpeAfterDelete(TClientDataSet &t) {
    EnviaAlteracoes(t);
    Habilita();
}

// --- general-parameter row -------------------------------------------------------------------

void TfrmParamContab::cdsParamGeralAfterInsert(TClientDataSet &t) {
    t.FieldByName(u"IDCONTAJUDTCOMP"_s)->SetAsString(u"N"_s);
}

void TfrmParamContab::cdsParamGeralAfterPost(TClientDataSet &t) {
    EnviaAlteracoes(t);
    Habilita();
}

void TfrmParamContab::cdsParamGeralAfterCancel(TClientDataSet &t) {
    t.CancelUpdates();
}
