// The bulk screen's confirm: local checks, one validation call listing every chosen company's
// inconsistencies, and one apply call. However many companies are chosen, the server is called
// at most twice.
#include "frmcadauto.h"

#include "components/busyguard.h"
#include "components/dateeditplus.h"
#include "components/errors.h"
#include "components/functions.h"
#include "components/hostinterface.h"
#include "components/messages.h"
#include "dataset/clientdataset.h"
#include "package/pkg_ger09400.h"
#include "param_screen/frmparamcontab.h"
#include "shared/paramctblclient.h"

#include <QCheckBox>
#include <QRadioButton>
#include <QScopeGuard>

using namespace Qt::StringLiterals;

namespace {

// The request's fields in packet order. Dates name their edit; flags their box. Only the two
// period ends are widened to the end of their month.
struct RequestDate {
    const char16_t *Field;
    TDateEditPlus *TfrmCadAuto::*Edit;
    bool LastDayOfMonth;
};
const RequestDate RequestDates[] = {
    {u"DTINIPER", &TfrmCadAuto::depPerInicial, false},
    {u"DTFINPER", &TfrmCadAuto::depPerFinal, true},
    {u"DTINILANC", &TfrmCadAuto::depLancInicial, false},
    {u"DTFINLANC", &TfrmCadAuto::depLancFinal, true},
    {u"DTINIDFE", &TfrmCadAuto::depDFEInicial, false},
    {u"DTFINDFE", &TfrmCadAuto::depDFEFinal, false},
    {u"DTINIDFS", &TfrmCadAuto::depDFSInicial, false},
    {u"DTFINDFS", &TfrmCadAuto::depDFSFinal, false},
    {u"DTINIFIN", &TfrmCadAuto::depFINInicial, false},
    {u"DTFINFIN", &TfrmCadAuto::depFINFinal, false},
    {u"DTINIGPA", &TfrmCadAuto::depGPAInicial, false},
    {u"DTFINGPA", &TfrmCadAuto::depGPAFinal, false},
    {u"DTINIFIS", &TfrmCadAuto::depFICALInicial, false},
    {u"DTFINFIS", &TfrmCadAuto::depFISCALFinal, false},
    {u"DTINIVEN", &TfrmCadAuto::depVENEXTInicial, false},
    {u"DTFINVEN", &TfrmCadAuto::depVENEXTFinal, false},
};

struct RequestFlag {
    const char16_t *Field;
    QCheckBox *TfrmCadAuto::*Box;
};
const RequestFlag RequestFlags[] = {
    {u"IDCONTCCUS", &TfrmCadAuto::ckcContCCus},
    {u"IDCONCOME", &TfrmCadAuto::ckcContCom},
    {u"IDUTCUSTEST", &TfrmCadAuto::ckcCustEst},
    {u"IDSUGRATMANU", &TfrmCadAuto::ckcSugRat},
    {u"IDUTSALDOSOC", &TfrmCadAuto::ckcUtSaldoSociet},
    {u"IDMSMCONTA", &TfrmCadAuto::ckcMsmConta},
    {u"IDPRIOCCUSTSET", &TfrmCadAuto::ckcPriorizaCCustSeto},
    {u"IDCONSVNDDFS", &TfrmCadAuto::ckcConsiteVndDFS},
    {u"IDULTDESPTRIB", &TfrmCadAuto::ckcUtilizaCNT},
    {u"IDCONSDATARET", &TfrmCadAuto::ckcConsideraData},
    {u"IDCONTLOTESIT", &TfrmCadAuto::ckcCntLote},
    {u"IDGERAESTCONT", &TfrmCadAuto::ckcGeraEstorno},
    {u"IDCONTVREXCICMSEP", &TfrmCadAuto::ckcContVrExcICMSep},
    {u"IDCONSRATPROD", &TfrmCadAuto::ckcRatProd},
};

// How each pair is checked, in the order the pairs are gone through.
enum class PairRule {
    Required,          // accounting period: both given, in order
    RequiredInsidePer, // posting and four integrations: given, in order, inside the period
    OrderOnly,         // tax
    InsideWhenGiven,   // late sales: in order; inside the period when either side has text
};
const struct {
    TDateEditPlus *TfrmCadAuto::*Start;
    TDateEditPlus *TfrmCadAuto::*End;
    PairRule Rule;
} Pairs[] = {
    {&TfrmCadAuto::depPerInicial, &TfrmCadAuto::depPerFinal, PairRule::Required},
    {&TfrmCadAuto::depLancInicial, &TfrmCadAuto::depLancFinal, PairRule::RequiredInsidePer},
    {&TfrmCadAuto::depDFEInicial, &TfrmCadAuto::depDFEFinal, PairRule::RequiredInsidePer},
    {&TfrmCadAuto::depDFSInicial, &TfrmCadAuto::depDFSFinal, PairRule::RequiredInsidePer},
    {&TfrmCadAuto::depFINInicial, &TfrmCadAuto::depFINFinal, PairRule::RequiredInsidePer},
    {&TfrmCadAuto::depGPAInicial, &TfrmCadAuto::depGPAFinal, PairRule::RequiredInsidePer},
    {&TfrmCadAuto::depFICALInicial, &TfrmCadAuto::depFISCALFinal, PairRule::OrderOnly},
    {&TfrmCadAuto::depVENEXTInicial, &TfrmCadAuto::depVENEXTFinal, PairRule::InsideWhenGiven},
};

// Rows of the error list turned into lines before the box stops listing them.
constexpr int ListedErrors = 11;

TNetConnection &Connection() {
    if (!bostCriado || !frmParamContab)
        throw Exception(u"A tela de parâmetros contábeis não está aberta."_s);
    return *frmParamContab->netParamCtbl;
}

} // namespace

bool TfrmCadAuto::DataNaoInformada(TDateEditPlus *control) const {
    if (EmptyString(control->Text()))
        return true;
    // Text that is no date was typed all the same: the control's own check reports it, in its
    // own words, rather than a message saying that nothing was typed.
    return control->IsDate() && control->GetDate() == 0;
}

void TfrmCadAuto::ValidaData(TDateEditPlus *control) {
    if (DataNaoInformada(control)) {
        control->setFocus();
        MensErro(Format(msgPadrao->Msg(u"DATA_DEV"_s), {control->Hint()}), true);
    }
    control->CheckValidDate();
}

void TfrmCadAuto::DataEntrePerConabil(TDateEditPlus *control) {
    const TDateTime date = control->GetDate();
    if (depPerInicial->GetDate() > date || date > depPerFinal->GetUltDia()) {
        control->setFocus();
        MensErro(Format(msgPadrao->Msg(u"DATA_DENTRO_PER"_s), {control->Hint()}), true);
    }
}

void TfrmCadAuto::ValidaPeriodos() {
    for (const auto &pair : Pairs) {
        TDateEditPlus *start = this->*pair.Start;
        TDateEditPlus *end = this->*pair.End;
        if (pair.Rule == PairRule::Required || pair.Rule == PairRule::RequiredInsidePer) {
            ValidaData(start);
            ValidaData(end);
        }
        if (end->GetDate() < start->GetDate()) {
            end->setFocus();
            MensErro(msgPadrao->Msg(u"DTFINAL_MAIOR"_s), true);
        }
        const bool inside = pair.Rule == PairRule::RequiredInsidePer ||
                            (pair.Rule == PairRule::InsideWhenGiven &&
                             (!EmptyString(start->Text()) || !EmptyString(end->Text())));
        if (inside) {
            DataEntrePerConabil(start);
            DataEntrePerConabil(end);
        }
    }
}

void TfrmCadAuto::sbtConfirmaClick() {
    // Last act of every run, however it ends.
    const auto hideBusy = qScopeGuard([] { DeactiveShowAvi(); });

    if (!cdsCadAuto->Active()) {
        TFieldDefs &defs = cdsCadAuto->FieldDefs();
        defs.clear();
        for (const RequestDate &d : RequestDates)
            defs.append({QString::fromUtf16(d.Field), TFieldType::Date, 0, false});
        for (const RequestFlag &f : RequestFlags)
            defs.append({QString::fromUtf16(f.Field), TFieldType::String, 1, false});
        cdsCadAuto->CreateDataSet();
    }
    cdsCadAuto->EmptyDataSet();

    if (EmptyString(stEmpresa)) {
        rbtLista->setFocus();
        MensErro(msgPadrao->Msg(u"EMPR_DEV"_s), true);
    }
    if (RetornaValor(ckcPeriodos) == u"N"_s && RetornaValor(ckcControle) == u"N"_s)
        MensErro(msgPadrao->Msg(u"DEV_ALTERAR"_s), true);
    if (ckcPeriodos->isChecked())
        ValidaPeriodos();

    if (ckcPeriodos->isChecked())
        ValidaNoServidor();
    Aplica();
}

void TfrmCadAuto::ValidaNoServidor() {
    {
        BusyGuard busy(Host()->MainForm(), 1, msgPadrao->Msg(u"VALIDACOES_SRV"_s));
        ParamCtblMethods::LoadPacket(*cdsErrosCadAuto,
                                     ParamCtblMethods::getErrosCadAuto(Connection(), stEmpresa,
                                                                       depPerInicial->GetDate(),
                                                                       depPerFinal->GetUltDia()));
    }
    MostraEscolha(); // the server may have tidied the list
    if (cdsErrosCadAuto->IsEmpty())
        return;

    const auto line = [this]() -> QString {
        const QString kind = cdsErrosCadAuto->FieldByName(u"IDERRO"_s)->AsString().left(1);
        const QString company = cdsErrosCadAuto->FieldByName(u"CDEMPRESA"_s)->AsString();
        if (kind == u"1"_s)
            return Format(msgPadrao->Msg(u"ERRO_1"_s),
                          {company, cdsErrosCadAuto->FieldByName(u"DSERRO"_s)->AsString()});
        if (kind == u"2"_s)
            return Format(msgPadrao->Msg(u"ERRO_2"_s), {company});
        return {}; // a kind this screen does not know still counts as a row
    };
    QString erro = msgPadrao->Msg(u"NAO_POSSIVEL_ALTERAR"_s);
    int rows = 0;
    for (cdsErrosCadAuto->First(); !cdsErrosCadAuto->Eof(); cdsErrosCadAuto->Next()) {
        const QString text = line();
        if (!text.isEmpty())
            erro += u'\r' + text;
        if (++rows >= ListedErrors)
            break;
    }
    // The box lists eleven rows; when there are more, the whole list goes behind its details.
    QString details;
    if (cdsErrosCadAuto->RecordCount() > ListedErrors) {
        QStringList all;
        for (cdsErrosCadAuto->First(); !cdsErrosCadAuto->Eof(); cdsErrosCadAuto->Next()) {
            const QString text = line();
            if (!text.isEmpty())
                all << text;
        }
        details = all.join(u'\n');
    }
    throw EUserError(erro, details);
}

void TfrmCadAuto::Aplica() {
    cdsCadAuto->Insert();
    for (const RequestDate &d : RequestDates) {
        TDateEditPlus *edit = this->*d.Edit;
        const TDateTime date =
            DateTimeUtil::Trunc(d.LastDayOfMonth ? edit->GetUltDia() : edit->GetDate());
        TField *field = cdsCadAuto->FieldByName(QString::fromUtf16(d.Field));
        // A date left empty (tax, late sales) travels as no value.
        if (date == 0)
            field->Clear();
        else
            field->SetAsDateTime(date);
    }
    for (const RequestFlag &f : RequestFlags)
        cdsCadAuto->FieldByName(QString::fromUtf16(f.Field))
            ->SetAsString(RetornaValor(this->*f.Box));
    cdsCadAuto->Post();

    {
        BusyGuard busy(Host()->MainForm(), 1, msgPadrao->Msg(u"REALIZANDO_CADAUTO"_s));
        CheckResultServ(
            ParamCtblMethods::setCadAuto(Connection(), stEmpresa, RetornaValor(ckcPeriodos),
                                         RetornaValor(ckcControle), cdsCadAuto->GetData()),
            true, 0);
    }
    MostraEscolha();
    msgPadrao->ShowMsg(u"SUCESSO"_s, TMsgDlgType::mtInformation, mbOK, 0);
    // Companies that had no record have one now: the local copies must say so.
    AtualizaLocalCache({u"EMPRESA"_s, u"CONTOPECTBL"_s});
}
