// Confirming a parameter record: the company and date fields normalised by their exit handlers,
// the ordered period rules, the balance rule on the server, then the post.
#include "frmparamcontab.h"

#include "components/btnpesquisa.h"
#include "components/dbdateeditplus.h"
#include "components/dbedit.h"
#include "components/functions.h"
#include "components/guard.h"
#include "components/messages.h"
#include "components/pagecontrol.h"
#include "dataset/clientdataset.h"
#include "dataset/datasource.h"
#include "rpc/netconnection.h"
#include "rules/confirmrules.h"
#include "shared/paramctblclient.h"

using namespace Qt::StringLiterals;

namespace {

// Plain functions rather than pointers to members: GCC's bounds check misreads a call through a
// table of member pointers as an out-of-range index.
using ExitHandler = void (*)(TfrmParamContab &);

// One per date control, in the order of DateEdits().
constexpr ExitHandler DateExits[] = {
    [](TfrmParamContab &s) { s.ddeIniContExit(); },
    [](TfrmParamContab &s) { s.ddeFinContExit(); },
    [](TfrmParamContab &s) { s.ddeIniLancExit(); },
    [](TfrmParamContab &s) { s.ddeFinLancExit(); },
    [](TfrmParamContab &s) { s.ddeIniDocFisEntrExit(); },
    [](TfrmParamContab &s) { s.ddeFinDocFisEntrExit(); },
    [](TfrmParamContab &s) { s.ddeIniDocFisSaidExit(); },
    [](TfrmParamContab &s) { s.ddeFinDocFisSaidExit(); },
    [](TfrmParamContab &s) { s.ddeIniInteExit(); },
    [](TfrmParamContab &s) { s.ddeFimInteExit(); },
    [](TfrmParamContab &s) { s.dtIniGpaExit(); },
    [](TfrmParamContab &s) { s.dtFinGpaExit(); },
    [](TfrmParamContab &s) { s.dbdIniFiscalExit(); },
    [](TfrmParamContab &s) { s.dbdFinFiscalExit(); },
    [](TfrmParamContab &s) { s.dbdIniVendExtExit(); },
    [](TfrmParamContab &s) { s.dbdFinVendExtExit(); },
};

// The confirm runs all but the two late-sales exits.
constexpr int ConfirmedExits = 14;

bool Editing(const TClientDataSet *table) {
    return table->State() == TDataSetState::Edit || table->State() == TDataSetState::Insert;
}

} // namespace

void TfrmParamContab::BindFormHandlers() {
    dbeCdEmpresa->OnExit = [this] {
        dbeCdEmpresaExit();
    };
    GuardedConnect(dbeCdEmpresa, &QLineEdit::textChanged, this, [this] { dbeCdEmpresaChange(); });
    btnEmpresa->OnBeforePesq = [this](TBtnPesquisa &sender, bool &flag) {
        btnEmpresaBeforePesq(sender, flag);
    };
    btnEmpresa->OnAfterPesq = [this](TBtnPesquisa &sender) {
        btnEmpresaAfterPesq(sender);
    };
    const QList<TDBDateEditPlus *> edits = DateEdits();
    for (int i = 0; i < edits.size(); ++i)
        edits[i]->OnExit = [this, handler = DateExits[i]] {
            handler(*this);
        };
}

void TfrmParamContab::ExitData(TDBDateEditPlus *control) {
    if (!Editando())
        return;
    // Text that is no date cannot be read as one: it is reported, never silently emptied.
    control->CheckValidDate();
    // Rebuilt from its day, month and year: the date without its time of day. An empty edit
    // reads 30/12/1899, which sets back as empty.
    const TDateTime date = control->GetDate();
    control->SetDate(DateTimeUtil::EncodeDate(DateTimeUtil::Format(date, u"yyyy"_s).toInt(),
                                              DateTimeUtil::Format(date, u"mm"_s).toInt(),
                                              DateTimeUtil::Format(date, u"dd"_s).toInt()));
    control->CheckValidDate();
}

void TfrmParamContab::ddeIniContExit() {
    ExitData(ddeIniCont);
}
void TfrmParamContab::ddeFinContExit() {
    ExitData(ddeFinCont);
}
void TfrmParamContab::ddeIniLancExit() {
    ExitData(ddeIniLanc);
}
void TfrmParamContab::ddeFinLancExit() {
    ExitData(ddeFinLanc);
}
void TfrmParamContab::ddeIniDocFisEntrExit() {
    ExitData(ddeIniDocFisEntr);
}
void TfrmParamContab::ddeFinDocFisEntrExit() {
    ExitData(ddeFinDocFisEntr);
}
void TfrmParamContab::ddeIniDocFisSaidExit() {
    ExitData(ddeIniDocFisSaid);
}
void TfrmParamContab::ddeFinDocFisSaidExit() {
    ExitData(ddeFinDocFisSaid);
}
void TfrmParamContab::ddeIniInteExit() {
    ExitData(ddeIniInte);
}
void TfrmParamContab::ddeFimInteExit() {
    ExitData(ddeFimInte);
}
void TfrmParamContab::dtIniGpaExit() {
    ExitData(dtIniGpa);
}
void TfrmParamContab::dtFinGpaExit() {
    ExitData(dtFinGpa);
}
void TfrmParamContab::dbdIniFiscalExit() {
    ExitData(dbdIniFiscal);
}
void TfrmParamContab::dbdFinFiscalExit() {
    ExitData(dbdFinFiscal);
}
void TfrmParamContab::dbdIniVendExtExit() {
    ExitData(dbdIniVendExt);
}
void TfrmParamContab::dbdFinVendExtExit() {
    ExitData(dbdFinVendExt);
}

void TfrmParamContab::sbtConfirmarClick() {
    ValidaRegistro();
    if (Editing(cdsContOpe))
        cdsContOpe->Post();
    if (Editing(cdsParamGeral))
        cdsParamGeral->Post();
    pgcPadraoChange();
}

void TfrmParamContab::ValidaRegistro() {
    dbeCdEmpresaExit();
    for (int i = 0; i < ConfirmedExits; ++i)
        DateExits[i](*this);

    // The late-sales dates have no exit here, but are read below: text that is no date is
    // reported in the control's own words rather than read as no date at all.
    dbdIniVendExt->CheckValidDate();
    dbdFinVendExt->CheckValidDate();

    const QList<TDBDateEditPlus *> edits = DateEdits();
    ParamRules::PeriodReadings readings;
    for (int i = 0; i < ParamRules::SlotCount; ++i)
        readings.Set(ParamRules::Slot(i), EmptyString(edits[i]->Text()), edits[i]->GetDate());
    if (const ParamRules::ConfirmRule *broken = ParamRules::FirstBroken(readings)) {
        if (broken->FormPage) {
            pgcPadrao->SetActivePage(tshFormulario);
            pgcPadraoChange();
        }
        edits[int(broken->Focus)]->setFocus();
        MensErro(msgPadrao->Msg(QString::fromUtf16(broken->Key)), true);
    }
    VerificaSaldoEmpresa();
}

void TfrmParamContab::VerificaSaldoEmpresa() {
    if (cdsContOpe->IsEmpty())
        return;
    const QString empresa = cdsContOpe->FieldByName(u"CDEMPRESA"_s)->AsString();
    ParamCtblMethods::LoadPacket(*cdsDataSaldEmpr,
                                 ParamCtblMethods::GetDataSaldEmpr(*netParamCtbl, empresa));
    if (cdsDataSaldEmpr->IsEmpty())
        return;
    // Compared as days: a balance dated on the period's last day, at any hour, is inside it.
    const TDateTime maiorData =
        DateTimeUtil::Trunc(cdsDataSaldEmpr->FieldByName(u"MAIORDATA"_s)->AsDateTime());
    if (maiorData > ddeFinCont->GetUltDia()) {
        ddeIniCont->setFocus();
        MensErro(msgPadrao->Msg(u"EXCONTABPER"_s), true);
    }
}
