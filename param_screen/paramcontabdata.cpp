// Tables, queries and period texts of the accounting-parameter screen.
#include "frmparamcontab.h"

#include "components/adoibquery.h"
#include "components/functions.h"
#include "dataset/clientdataset.h"
#include "dataset/datasource.h"
#include "dataset/exceptions.h"
#include "rpc/netconnection.h"
#include "shared/paramctblclient.h"

#include <QJsonArray>

using namespace Qt::StringLiterals;

namespace {

struct ContOpeField {
    const char16_t *Name;
    TFieldType Type;
    int Size;
    const char16_t *Label; // empty: the field name stands as its label
};

// The record in the order the server delivers and expects it.
constexpr ContOpeField ContOpeFields[] = {
    {u"IDCONTAJUDTCOMP", TFieldType::String, 1, u""},
    {u"CDEMPRESA", TFieldType::String, 2, u"Código"},
    {u"NMEMPRESA", TFieldType::String, 40, u"Nome"},
    {u"DTINICLANC", TFieldType::Date, 0, u"Per. Lançamento"},
    {u"DTFINALANC", TFieldType::Date, 0, u"Per.Lanc.Final"},
    {u"DTINICCONT", TFieldType::Date, 0, u"Per. Contábil"},
    {u"DTFINACONT", TFieldType::Date, 0, u"Per.Cont.Final"},
    {u"DTINICRELA", TFieldType::Date, 0, u"Per.Relat.Inicial"},
    {u"DTFINARELA", TFieldType::Date, 0, u"Per.Relat.Final"},
    {u"IDSALDEMPR", TFieldType::String, 1, u""},
    {u"IDCONTGERE", TFieldType::String, 1, u""},
    {u"IDCONTCOME", TFieldType::String, 1, u""},
    {u"DTINICCTBL", TFieldType::Date, 0, u"Per. FIN"},
    {u"DTFINACCTBL", TFieldType::Date, 0, u""},
    {u"IDUTCUSTESTCONT", TFieldType::String, 1, u""},
    {u"DTFININTCONTDFS", TFieldType::Date, 0, u""},
    {u"DTINIINTCONTDFS", TFieldType::Date, 0, u"Per. DFS"},
    {u"DTINIINTCONTDFE", TFieldType::Date, 0, u"Per. DFE"},
    {u"DTFININTCONTDFE", TFieldType::Date, 0, u""},
    {u"DTINIINTCONTGPA", TFieldType::Date, 0, u"Per. GPA"},
    {u"DTFININTCONTGPA", TFieldType::Date, 0, u""},
    {u"IDACUMVRCONT", TFieldType::String, 1, u""},
    {u"IDSUGRAT", TFieldType::String, 1, u""},
    {u"IDUTSALDOSOC", TFieldType::String, 1, u""},
    {u"IDMSMCONTADBCR", TFieldType::String, 1, u""},
    {u"IDRETESTSETOR", TFieldType::String, 1, u""},
    {u"IDCONSVNDDFS", TFieldType::String, 1, u""},
    {u"IDDESPTRIBDIFAL", TFieldType::String, 1, u""},
    {u"DTINIINTCONTFIS", TFieldType::Date, 0, u"Per. Fiscal"},
    {u"IDCONSDTMOVIRETEST", TFieldType::String, 1, u""},
    {u"DTFININTCONTFIS", TFieldType::Date, 0, u""},
    {u"IDCTBSINTETICO", TFieldType::String, 1, u""},
    {u"IDGERESTLANCONT", TFieldType::String, 1, u""},
    {u"DTINIINTCONTVEXT", TFieldType::Date, 0, u"Per. Venda Extemporânea"},
    {u"DTFININTCONTVEXT", TFieldType::Date, 0, u""},
    {u"IDCONTVREXCICMSEP", TFieldType::String, 1, u""},
    {u"IDCONSRATPROD", TFieldType::String, 1, u""},
    {u"IDCONGERGGF", TFieldType::String, 1, u""},
};

TClientDataSet *NewTable(const QString &name, QObject *owner, const TFieldDefs &defs) {
    auto *table = new TClientDataSet(owner);
    table->setObjectName(name);
    table->FieldDefs() = defs;
    return table;
}

} // namespace

void TfrmParamContab::CreateDataSets() {
    TFieldDefs contOpe;
    for (const ContOpeField &f : ContOpeFields)
        contOpe.append({QString::fromUtf16(f.Name), f.Type, f.Size, false});
    cdsContOpe = NewTable(u"cdsContOpe"_s, this, contOpe);
    // Replacing the content rebuilds the fields: labels, visibility and texts go back on.
    cdsContOpe->AfterOpen = [this](TClientDataSet &) {
        ApplyContOpeFields();
    };
    cdsContOpe->AfterScroll = [this](TClientDataSet &table) {
        cdsContOpeAfterScroll(table);
    };

    cdsParamGeral =
        NewTable(u"cdsParamGeral"_s, this, {{u"IDCONTAJUDTCOMP"_s, TFieldType::String, 1, false}});
    dtsParamGeral = new TDataSource(this);
    dtsParamGeral->setObjectName(u"dtsParamGeral"_s);
    dtsParamGeral->SetDataSet(cdsParamGeral);

    cdsDataSaldEmpr =
        NewTable(u"cdsDataSaldEmpr"_s, this, {{u"MAIORDATA"_s, TFieldType::Date, 0, false}});
    cdsPesqLanc =
        NewTable(u"cdsPesqLanc"_s, this, {{u"CDEMPRESA"_s, TFieldType::String, 2, false}});
    cdsLancSemEvolucao = NewTable(u"cdsLancSemEvolucao"_s, this,
                                  {{u"DTSEMEVOLUCAO"_s, TFieldType::String, 10, false}});
    cdsLancSemEvolucao->AfterOpen = [](TClientDataSet &table) {
        if (TField *field = table.FindField(u"DTSEMEVOLUCAO"_s))
            field->SetVisible(false);
    };

    dtsParamCtblAux = new TDataSource(this);
    dtsParamCtblAux->setObjectName(u"dtsParamCtblAux"_s);

    BindTableEvents();
    dtsPadrao->SetDataSet(cdsContOpe);
}

void TfrmParamContab::CreateQueries() {
    qryEmpresa = new TADOIBQuery(u"qryEmpresa"_s, this);
    qryEmpresa->SetSQL(u"SELECT CDEMPRESA, NMEMPRESA\n"
                       u"FROM EMPRESA\n"
                       u"WHERE ((CDEMPRESA = :P_CDEMPRESA) OR (:P_TCDEMPRESA = 'T'))\n"
                       u"ORDER BY CDEMPRESA"_s);
    qryEmpresa->SetFieldDef(u"CDEMPRESA"_s, TFieldType::String, 2, u"Código"_s, true);
    qryEmpresa->SetFieldDef(u"NMEMPRESA"_s, TFieldType::String, 40, u"Nome"_s);
    dtsEmpresa = new TDataSource(this);
    dtsEmpresa->setObjectName(u"dtsEmpresa"_s);
    dtsEmpresa->SetDataSet(qryEmpresa);

    qryPesqParam = new TADOIBQuery(u"qryPesqParam"_s, this);
    qryPesqParam->SetSQL(u"SELECT CON.CDEMPRESA\n"
                         u"FROM CONTOPECTBL CON\n"
                         u"WHERE (CON.CDEMPRESA = :P_CDEMPRESA)"_s);
    qryPesqParam->SetFieldDef(u"CDEMPRESA"_s, TFieldType::String, 2, {}, true);
}

void TfrmParamContab::ApplyContOpeFields() {
    for (const ContOpeField &f : ContOpeFields) {
        TField *field = cdsContOpe->FindField(QString::fromUtf16(f.Name));
        if (!field)
            continue;
        const QString label = QString::fromUtf16(f.Label);
        if (!label.isEmpty())
            field->SetDisplayLabel(label);
        // Only the code is a visible field; the grid keeps its own column list anyway.
        field->SetVisible(field->FieldName() == u"CDEMPRESA"_s);
    }
    const struct {
        const char16_t *Field;
        void (TfrmParamContab::*Handler)(TField &, QString &, bool);
    } texts[] = {
        {u"DTINICCONT", &TfrmParamContab::cdsContOpeDTINICCONTGetText},
        {u"DTINICLANC", &TfrmParamContab::cdsContOpeDTINICLANCGetText},
        {u"DTINIINTCONTDFE", &TfrmParamContab::cdsContOpeDTINIINTCONTDFEGetText},
        {u"DTINIINTCONTDFS", &TfrmParamContab::cdsContOpeDTINIINTCONTDFSGetText},
        {u"DTINICCTBL", &TfrmParamContab::cdsContOpeDTINICCTBLGetText},
        {u"DTINIINTCONTGPA", &TfrmParamContab::cdsContOpeDTINIINTCONTGPAGetText},
        {u"DTINIINTCONTFIS", &TfrmParamContab::cdsContOpeDTINIINTCONTFISGetText},
        {u"DTINIINTCONTVEXT", &TfrmParamContab::cdsContOpeDTINIINTCONTVEXTGetText},
    };
    for (const auto &t : texts) {
        if (TField *field = cdsContOpe->FindField(QString::fromUtf16(t.Field))) {
            field->OnGetText = [this, handler = t.Handler](TField &sender, QString &text,
                                                           bool displayText) {
                (this->*handler)(sender, text, displayText);
            };
        }
    }
}

QString TfrmParamContab::dataPeriodo(TDateTime inicio, TDateTime fim) const {
    return DateTimeUtil::FormatDate(DateTimeUtil::Trunc(inicio)) + u" a "_s +
           DateTimeUtil::FormatDate(DateTimeUtil::Trunc(fim));
}

QString TfrmParamContab::PeriodText(TField &first, const QString &lastField) const {
    // A missing date reads as day 0, so an unfilled period still shows a (30/12/1899) text.
    return dataPeriodo(first.AsDateTime(), cdsContOpe->FieldByName(lastField)->AsDateTime());
}

QString TfrmParamContab::OptionalPeriodText(TField &first, const QString &lastField) const {
    // The tax and late-sales periods may be left out altogether; only the first day tells.
    if (EmptyString(first.AsString()))
        return {};
    return PeriodText(first, lastField);
}

void TfrmParamContab::cdsContOpeDTINICCONTGetText(TField &sender, QString &text, bool) {
    text = PeriodText(sender, u"DTFINACONT"_s);
}

void TfrmParamContab::cdsContOpeDTINICLANCGetText(TField &sender, QString &text, bool) {
    text = PeriodText(sender, u"DTFINALANC"_s);
}

void TfrmParamContab::cdsContOpeDTINIINTCONTDFEGetText(TField &sender, QString &text, bool) {
    text = PeriodText(sender, u"DTFININTCONTDFE"_s);
}

void TfrmParamContab::cdsContOpeDTINIINTCONTDFSGetText(TField &sender, QString &text, bool) {
    text = PeriodText(sender, u"DTFININTCONTDFS"_s);
}

void TfrmParamContab::cdsContOpeDTINICCTBLGetText(TField &sender, QString &text, bool) {
    text = PeriodText(sender, u"DTFINACCTBL"_s);
}

void TfrmParamContab::cdsContOpeDTINIINTCONTGPAGetText(TField &sender, QString &text, bool) {
    text = PeriodText(sender, u"DTFININTCONTGPA"_s);
}

void TfrmParamContab::cdsContOpeDTINIINTCONTFISGetText(TField &sender, QString &text, bool) {
    text = OptionalPeriodText(sender, u"DTFININTCONTFIS"_s);
}

void TfrmParamContab::cdsContOpeDTINIINTCONTVEXTGetText(TField &sender, QString &text, bool) {
    text = OptionalPeriodText(sender, u"DTFININTCONTVEXT"_s);
}

void TfrmParamContab::LoadParams() {
    ParamCtblMethods::LoadContOpe(ParamCtblMethods::GetContOpe(*netParamCtbl), *cdsContOpe,
                                  *cdsParamGeral);
}
