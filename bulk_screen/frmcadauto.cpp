// The bulk-registration screen: its elements, the company choice, the two switches and what they
// enable, reset and colour, and its closing.
#include "frmcadauto.h"

#include "components/adoibquery.h"
#include "components/btnpesquisa.h"
#include "components/dateeditplus.h"
#include "components/functions.h"
#include "components/guard.h"
#include "components/messages.h"
#include "components/toolbutton.h"
#include "dataset/clientdataset.h"
#include "dataset/datasource.h"
#include "package/pkg_ger09400.h"
#include "param_screen/frmparamcontab.h"
#include "rules/catalogues.h"

#include <QApplication>
#include <QCheckBox>
#include <QEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOptionGroupBox>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace {

QGroupBox *NewGroup(const QString &name, const QString &caption, QWidget *parent) {
    auto *group = new QGroupBox(caption, parent);
    group->setObjectName(name);
    return group;
}

QLabel *NewLabel(const QString &caption, QWidget *parent) {
    return new QLabel(caption, parent);
}

QRadioButton *NewRadio(const QString &name, const QString &caption, bool checked, QWidget *parent) {
    auto *radio = new QRadioButton(caption, parent);
    radio->setObjectName(name);
    radio->setChecked(checked);
    return radio;
}

// The switches take a click but are skipped by Tab.
QCheckBox *NewSwitch(const QString &name, QWidget *parent) {
    auto *box = new QCheckBox(parent);
    box->setObjectName(name);
    box->setFocusPolicy(Qt::ClickFocus);
    return box;
}

TDateEditPlus *NewDate(const QString &name, const QString &hint, bool monthOnly, QWidget *parent) {
    auto *edit = new TDateEditPlus(name, parent);
    edit->SetHint(hint);
    edit->SetSaveTime(false);
    edit->SetValidDateColor(Qt::blue);
    if (monthOnly) {
        edit->SetShowDia(false);
        edit->SetEditStyle(TDateEditPlus::desUpDown);
    }
    // Wide enough for its text and no more: the window's width is fixed.
    edit->setFixedWidth(
        edit->fontMetrics().horizontalAdvance(monthOnly ? u"00/0000"_s : u"00/00/0000"_s) + 12);
    return edit;
}

void ConfigureSearch(TBtnPesquisa *button, QWidget *associate, TDataSource *source) {
    button->SetHint(u"Pesquisar"_s);
    button->SetAssociate(associate);
    button->SetDataSource(source);
    button->SetTitle(u"Empresa"_s);
    button->SetFieldCodigo(u"CDEMPRESA"_s);
    button->SetFieldNivel(u"NMEMPRESA"_s);
    button->SetEmptyError(u"Não Existe Empresa Cadastrada"_s);
}

} // namespace

TfrmCadAuto::TfrmCadAuto(QWidget *parent)
    : TfrmRotiGeral(parent) {
    setObjectName(u"frmCadAuto"_s);
    setWindowTitle(u"Cadastramento Automático"_s);
    lblCodTela->setText(u"GER09410"_s);
    setProperty(HelpContextProperty, 12409410);
    msgPadrao->SetLines(CadAutoMessages());
    setFixedSize(ClientWidth, ClientHeight);

    CreateDataSets();
    auto *layout = new QVBoxLayout(grbDadosRel);
    layout->setContentsMargins(2, 2, 2, 2);
    layout->setSpacing(4);
    BuildCompanyPanel(grbDadosRel);
    BuildPeriods(grbDadosRel);
    BuildControls(grbDadosRel);
    layout->addWidget(panEmpresa);
    layout->addWidget(grbPeriodos);
    layout->addWidget(grbControle);
    layout->addStretch();
    BindHandlers();
    MostraEscolha();
    FitFont();
}

void TfrmCadAuto::FitFont() {
    // The window's size is fixed. Where the system font is wider than the one the screen was laid
    // out for, the screen takes a smaller size of it rather than cut its longest caption.
    QCheckBox *widest = ckcConsiteVndDFS;
    for (int step = 0; step < 6; ++step) {
        layout()->activate();
        if (widest->width() >= widest->sizeHint().width())
            return;
        QFont smaller = font();
        smaller.setPointSizeF(smaller.pointSizeF() - 0.5);
        setFont(smaller);
    }
}

TfrmCadAuto::~TfrmCadAuto() {
    if (frmCadAuto == this)
        frmCadAuto = nullptr;
}

void TfrmCadAuto::CreateDataSets() {
    qryEmpresa = new TADOIBQuery(u"qryEmpresa"_s, this);
    qryEmpresa->SetSQL(u"SELECT E.CDEMPRESA, E.NMEMPRESA\n"
                       u"FROM EMPRESA E\n"
                       u"ORDER BY E.CDEMPRESA"_s);
    qryEmpresa->SetFieldDef(u"CDEMPRESA"_s, TFieldType::String, 2, u"Código"_s);
    qryEmpresa->SetFieldDef(u"NMEMPRESA"_s, TFieldType::String, 40, u"Nome"_s);
    dtsEmpresa = new TDataSource(this);
    dtsEmpresa->setObjectName(u"dtsEmpresa"_s);
    dtsEmpresa->SetDataSet(qryEmpresa);

    cdsCadAuto = new TClientDataSet(this);
    cdsCadAuto->setObjectName(u"cdsCadAuto"_s);
    cdsErrosCadAuto = new TClientDataSet(this);
    cdsErrosCadAuto->setObjectName(u"cdsErrosCadAuto"_s);
    cdsErrosCadAuto->SetIndexFieldNames(u"CDEMPRESA;IDERRO"_s);
}

void TfrmCadAuto::BuildCompanyPanel(QWidget *parent) {
    panEmpresa = new QWidget(parent);
    panEmpresa->setObjectName(u"panEmpresa"_s);
    auto *row = new QHBoxLayout(panEmpresa);
    row->setContentsMargins(0, 0, 0, 0);

    auto *label = NewLabel(u"Empresa:"_s, panEmpresa);
    label->setObjectName(u"lblEmpresa"_s);
    rbtTodas = NewRadio(u"rbtTodas"_s, u"Todas"_s, false, panEmpresa);
    rbtLista = NewRadio(u"rbtLista"_s, u"Lista"_s, true, panEmpresa);
    btpEmpresa = new TBtnPesquisa(u"btpEmpresa"_s, panEmpresa);
    ConfigureSearch(btpEmpresa, rbtLista, dtsEmpresa);
    row->addWidget(label);
    row->addWidget(rbtTodas);
    row->addWidget(rbtLista);
    row->addWidget(btpEmpresa);
    row->addSpacing(24);

    GroupBox1 = NewGroup(u"GroupBox1"_s, u"Filial"_s, panEmpresa);
    auto *copies = new QHBoxLayout(GroupBox1);
    copies->setContentsMargins(6, 2, 6, 2);
    RadioButton1 = NewRadio(u"RadioButton1"_s, u"Todas"_s, false, GroupBox1);
    RadioButton2 = NewRadio(u"RadioButton2"_s, u"Lista"_s, true, GroupBox1);
    BtnPesquisa2 = new TBtnPesquisa(u"BtnPesquisa2"_s, GroupBox1);
    ConfigureSearch(BtnPesquisa2, rbtLista, dtsEmpresa);
    copies->addWidget(RadioButton1);
    copies->addWidget(RadioButton2);
    copies->addWidget(BtnPesquisa2);
    row->addWidget(GroupBox1);
    row->addStretch();
}

void TfrmCadAuto::BuildPeriods(QWidget *parent) {
    grbPeriodos = NewGroup(u"grbPeriodos"_s, u"Alteração de Periodos   "_s, parent);
    auto *columns = new QHBoxLayout(grbPeriodos);
    columns->setContentsMargins(4, 4, 4, 4);

    const auto pairGroup = [this](const QString &name, const QString &caption,
                                  TDateEditPlus *&first, const QString &firstName,
                                  const QString &firstHint, TDateEditPlus *&last,
                                  const QString &lastName, const QString &lastHint) {
        QGroupBox *group = NewGroup(name, caption, grbPeriodos);
        auto *grid = new QGridLayout(group);
        grid->setContentsMargins(4, 2, 4, 4);
        grid->setVerticalSpacing(2);
        grid->setHorizontalSpacing(4);
        first = NewDate(firstName, firstHint, true, group);
        last = NewDate(lastName, lastHint, true, group);
        grid->addWidget(NewLabel(u"Data Inicial"_s, group), 0, 0);
        grid->addWidget(first, 1, 0);
        grid->addWidget(NewLabel(u"Data Final"_s, group), 0, 1);
        grid->addWidget(last, 1, 1);
        return group;
    };
    grbPeriodo = pairGroup(u"grbPeriodo"_s, u"Período Contábil"_s, depPerInicial,
                           u"depPerInicial"_s, u"Data Inicial do Período Contábil"_s, depPerFinal,
                           u"depPerFinal"_s, u"Data Final do Período Contábil"_s);
    grbLancamento =
        pairGroup(u"grbLancamento"_s, u"Período de Lançamento"_s, depLancInicial,
                  u"depLancInicial"_s, u"Data Inicial do Período de Lançamento"_s, depLancFinal,
                  u"depLancFinal"_s, u"Data Final do Período de Lançamento"_s);
    auto *left = new QVBoxLayout;
    left->addWidget(grbPeriodo);
    left->addWidget(grbLancamento);
    left->addStretch();
    columns->addLayout(left);

    grbIntegracao = NewGroup(u"grbIntegracao"_s, u"Integração Ordalis"_s, grbPeriodos);
    auto *grid = new QGridLayout(grbIntegracao);
    grid->setContentsMargins(4, 2, 4, 4);
    grid->setVerticalSpacing(2);
    grid->setHorizontalSpacing(4);
    grid->addWidget(NewLabel(u"Data Inicial"_s, grbIntegracao), 0, 1);
    grid->addWidget(NewLabel(u"Data Final"_s, grbIntegracao), 0, 2);
    const struct {
        const char16_t *Row;
        TDateEditPlus *TfrmCadAuto::*First;
        const char16_t *FirstName;
        const char16_t *FirstHint;
        TDateEditPlus *TfrmCadAuto::*Last;
        const char16_t *LastName;
        const char16_t *LastHint;
    } rows[] = {
        {u"Doc. Fiscais Entrada", &TfrmCadAuto::depDFEInicial, u"depDFEInicial",
         u"Data Inicial da Integração do DFE", &TfrmCadAuto::depDFEFinal, u"depDFEFinal",
         u"Data Final da Integração do DFE"},
        {u"Doc. Fiscais Saída", &TfrmCadAuto::depDFSInicial, u"depDFSInicial",
         u"Data Inicial da Integração do DFS", &TfrmCadAuto::depDFSFinal, u"depDFSFinal",
         u"Data Final da Integração do DFS"},
        {u"Financeiro", &TfrmCadAuto::depFINInicial, u"depFINInicial",
         u"Data Inicial da Integração do Financeiro", &TfrmCadAuto::depFINFinal, u"depFINFinal",
         u"Data Final da Integração do Financeiro"},
        {u"Gestão de Ativos", &TfrmCadAuto::depGPAInicial, u"depGPAInicial",
         u"Data Inicial da Integração do GPA", &TfrmCadAuto::depGPAFinal, u"depGPAFinal",
         u"Data Final da Integração do GPA"},
        {u"Fiscal", &TfrmCadAuto::depFICALInicial, u"depFICALInicial",
         u"Data Inicial da Integração do FISCAL", &TfrmCadAuto::depFISCALFinal, u"depFISCALFinal",
         u"Data Final da Integração do FISCAL"},
        {u"Venda Extemporânea", &TfrmCadAuto::depVENEXTInicial, u"depVENEXTInicial",
         u"Data Inicial da Integração da Vendas Extemporâneas", &TfrmCadAuto::depVENEXTFinal,
         u"depVENEXTFinal", u"Data Final da Integração da Vendas Extemporâneas"},
    };
    int line = 1;
    for (const auto &r : rows) {
        this->*r.First = NewDate(QString::fromUtf16(r.FirstName), QString::fromUtf16(r.FirstHint),
                                 false, grbIntegracao);
        this->*r.Last = NewDate(QString::fromUtf16(r.LastName), QString::fromUtf16(r.LastHint),
                                false, grbIntegracao);
        grid->addWidget(NewLabel(QString::fromUtf16(r.Row), grbIntegracao), line, 0);
        grid->addWidget(this->*r.First, line, 1);
        grid->addWidget(this->*r.Last, line, 2);
        ++line;
    }
    columns->addWidget(grbIntegracao, 1);

    // A child of the screen itself: disabling the group never disables its own switch.
    ckcPeriodos = NewSwitch(u"ckcPeriodos"_s, this);
    grbPeriodos->installEventFilter(this);
}

void TfrmCadAuto::BuildControls(QWidget *parent) {
    grbControle = NewGroup(u"grbControle"_s, u"Alteração dos Controles de Lançamentos  "_s, parent);
    auto *list = new QVBoxLayout(grbControle);
    list->setContentsMargins(4, 4, 2, 4);
    list->setSpacing(1);
    const struct {
        QCheckBox *TfrmCadAuto::*Box;
        const char16_t *Name;
        const char16_t *Caption;
    } boxes[] = {
        {&TfrmCadAuto::ckcContCCus, u"ckcContCCus", u"Controla Centro de Custo"},
        {&TfrmCadAuto::ckcRatProd, u"ckcRatProd", u"Considera Rateio dos Encargos por Produto"},
        {&TfrmCadAuto::ckcContCom, u"ckcContCom", u"Controla Conta Comercial"},
        {&TfrmCadAuto::ckcCustEst, u"ckcCustEst", u"Utiliza Custo do Estoque na Contabilização"},
        {&TfrmCadAuto::ckcSugRat, u"ckcSugRat", u"Sugere Rateio em Lançamentos Manuais"},
        {&TfrmCadAuto::ckcUtSaldoSociet, u"ckcUtSaldoSociet", u"Utiliza Saldo Societário"},
        {&TfrmCadAuto::ckcMsmConta, u"ckcMsmConta",
         u"Permite Lançamentos de DB e CR na mesma Conta"},
        {&TfrmCadAuto::ckcPriorizaCCustSeto, u"ckcPriorizaCCustSeto",
         u"Prioriza o Centro de Custo do Setor nas Retiradas de Estoque"},
        {&TfrmCadAuto::ckcConsiteVndDFS, u"ckcConsiteVndDFS",
         u"Consiste a Consolidação de Vendas (VND) de acordo com Período de Integração do DFS"},
        {&TfrmCadAuto::ckcUtilizaCNT, u"ckcUtilizaCNT",
         u"Utiliza Conta ''Despesa Tributária'' para a partida de Diferencial de Alíquota"},
        {&TfrmCadAuto::ckcConsideraData, u"ckcConsideraData",
         u"Considera ''Data da Movimentação'' na Contabilização das Retiradas"},
        {&TfrmCadAuto::ckcCntLote, u"ckcCntLote",
         u"Contabilidade por lote Sintetica na Integração com Conciliador"},
        {&TfrmCadAuto::ckcGeraEstorno, u"ckcGeraEstorno", u"Gera Estorno de Lançamento Contábil"},
        {&TfrmCadAuto::ckcContVrExcICMSep, u"ckcContVrExcICMSep",
         u"Contabiliza o valor de exclusão do ICMS separadamente"},
    };
    for (const auto &b : boxes) {
        auto *box = new QCheckBox(QString::fromUtf16(b.Caption), grbControle);
        box->setObjectName(QString::fromUtf16(b.Name));
        this->*b.Box = box;
        list->addWidget(box);
    }

    // A child of the main group, not of the one it governs.
    ckcControle = NewSwitch(u"ckcControle"_s, grbDadosRel);
    grbControle->installEventFilter(this);
}

void TfrmCadAuto::BindHandlers() {
    sbtConfirma->OnClick = [this] {
        sbtConfirmaClick();
    };
    for (QRadioButton *radio : {rbtTodas, RadioButton1})
        GuardedConnect(radio, &QRadioButton::clicked, this, [this] { rbtTodasClick(); });
    for (QRadioButton *radio : {rbtLista, RadioButton2})
        GuardedConnect(radio, &QRadioButton::clicked, this, [this] { rbtListaClick(); });
    for (TBtnPesquisa *button : {btpEmpresa, BtnPesquisa2}) {
        button->OnClick = [this] {
            btpEmpresaClick();
        };
    }
    GuardedConnect(ckcPeriodos, &QCheckBox::clicked, this, [this] { ckcPeriodosClick(); });
    GuardedConnect(ckcControle, &QCheckBox::clicked, this, [this] { ckcControleClick(); });

    const std::pair<TDateEditPlus *, void (TfrmCadAuto::*)()> exits[] = {
        {depPerInicial, &TfrmCadAuto::depPerInicialExit},
        {depPerFinal, &TfrmCadAuto::depPerFinalExit},
        {depLancInicial, &TfrmCadAuto::depLancInicialExit},
        {depLancFinal, &TfrmCadAuto::depLancFinalExit},
        {depDFEInicial, &TfrmCadAuto::depDFEInicialExit},
        {depDFEFinal, &TfrmCadAuto::depDFEFinalExit},
        {depDFSInicial, &TfrmCadAuto::depDFSInicialExit},
        {depDFSFinal, &TfrmCadAuto::depDFSFinalExit},
        {depFINInicial, &TfrmCadAuto::depFINInicialExit},
        {depFINFinal, &TfrmCadAuto::depFINFinalExit},
        {depGPAInicial, &TfrmCadAuto::depGPAInicialExit},
        {depGPAFinal, &TfrmCadAuto::depGPAFinalExit},
        {depFICALInicial, &TfrmCadAuto::depFICALInicialExit},
        {depFISCALFinal, &TfrmCadAuto::depFISCALFinalExit},
        {depVENEXTInicial, &TfrmCadAuto::depVENEXTInicialExit},
        {depVENEXTFinal, &TfrmCadAuto::depVENEXTFinalExit},
    };
    for (const auto &[edit, handler] : exits) {
        edit->OnExit = [this, handler] {
            (this->*handler)();
        };
    }
}

QList<TDateEditPlus *> TfrmCadAuto::DateEdits() const {
    return {depPerInicial,   depPerFinal,    depLancInicial,   depLancFinal,
            depDFEInicial,   depDFEFinal,    depDFSInicial,    depDFSFinal,
            depFINInicial,   depFINFinal,    depGPAInicial,    depGPAFinal,
            depFICALInicial, depFISCALFinal, depVENEXTInicial, depVENEXTFinal};
}

QList<QCheckBox *> TfrmCadAuto::ControlChecks() const {
    return {ckcContCCus,      ckcRatProd,  ckcContCom,           ckcCustEst,        ckcSugRat,
            ckcUtSaldoSociet, ckcMsmConta, ckcPriorizaCCustSeto, ckcConsiteVndDFS,  ckcUtilizaCNT,
            ckcConsideraData, ckcCntLote,  ckcGeraEstorno,       ckcContVrExcICMSep};
}

// --- switches and their groups ---------------------------------------------------------------

bool TfrmCadAuto::eventFilter(QObject *watched, QEvent *event) {
    const QEvent::Type type = event->type();
    if (type == QEvent::Move || type == QEvent::Resize || type == QEvent::Show ||
        type == QEvent::LayoutRequest) {
        if (watched == grbPeriodos)
            PlaceSwitch(ckcPeriodos, grbPeriodos);
        else if (watched == grbControle)
            PlaceSwitch(ckcControle, grbControle);
    }
    return TfrmRotiGeral::eventFilter(watched, event);
}

void TfrmCadAuto::PlaceSwitch(QCheckBox *box, QGroupBox *group) {
    QStyleOptionGroupBox option;
    option.initFrom(group);
    option.text = group->title();
    option.subControls = QStyle::SC_GroupBoxLabel | QStyle::SC_GroupBoxFrame;
    const QRect label = group->style()->subControlRect(QStyle::CC_GroupBox, &option,
                                                       QStyle::SC_GroupBoxLabel, group);
    const QSize size = box->sizeHint();
    const QPoint inGroup(label.right() + 1, label.center().y() - size.height() / 2 + 1);
    box->setGeometry(QRect(group->mapTo(box->parentWidget(), inGroup), size));
    box->raise();
}

void TfrmCadAuto::HabilitaPeriodos() {
    const QList<TDateEditPlus *> edits = DateEdits();
    for (TDateEditPlus *edit : edits)
        edit->SetDate(DateTimeUtil::Today());
    const bool on = ckcPeriodos->isChecked();
    for (TDateEditPlus *edit : edits)
        edit->setEnabled(on);
    const QColor colour =
        QApplication::palette().color(on ? QPalette::ToolTipBase : QPalette::Button);
    for (TDateEditPlus *edit : edits)
        edit->SetColor(colour);
}

void TfrmCadAuto::HabilitaControle() {
    const bool on = ckcControle->isChecked();
    for (QCheckBox *box : ControlChecks())
        box->setEnabled(on);
}

void TfrmCadAuto::ckcPeriodosClick() {
    grbPeriodos->setEnabled(ckcPeriodos->isChecked());
    HabilitaPeriodos();
}

void TfrmCadAuto::ckcControleClick() {
    grbControle->setEnabled(ckcControle->isChecked());
    HabilitaControle();
}

QString TfrmCadAuto::RetornaValor(const QCheckBox *box) const {
    return box->isChecked() ? u"S"_s : u"N"_s;
}

// --- companies -------------------------------------------------------------------------------

void TfrmCadAuto::MostraEscolha() {
    const bool all = stEmpresa == u"T"_s;
    rbtTodas->setChecked(all);
    rbtLista->setChecked(!all);
    RadioButton1->setChecked(all);
    RadioButton2->setChecked(!all);
    btpEmpresa->setEnabled(rbtLista->isChecked());
}

void TfrmCadAuto::rbtTodasClick() {
    btpEmpresa->setEnabled(rbtLista->isChecked());
    stEmpresa = u"T"_s;
    MostraEscolha();
}

void TfrmCadAuto::rbtListaClick() {
    btpEmpresa->setEnabled(rbtLista->isChecked());
    stEmpresa.clear(); // an earlier list is dropped: the user searches again
    MostraEscolha();
}

void TfrmCadAuto::btpEmpresaClick() {
    qryEmpresa->Close();
    const QString text = msgPadrao->Msg(u"Empresa"_s) + u'|' + msgPadrao->Msg(u"Empr_Cad"_s);
    PesquisaLista(dtsEmpresa, u"CDEMPRESA"_s, text, false, stEmpresa);
    MostraEscolha();
}

// --- showing, leaving a date, closing ----------------------------------------------------------

void TfrmCadAuto::FormShow() {
    HabilitaPeriodos();
    HabilitaControle();
    MostraEscolha();
    PlaceSwitch(ckcPeriodos, grbPeriodos);
    PlaceSwitch(ckcControle, grbControle);
}

void TfrmCadAuto::depPerInicialExit() {
    depPerInicial->CheckValidDate();
}
void TfrmCadAuto::depPerFinalExit() {
    depPerFinal->CheckValidDate();
}
void TfrmCadAuto::depLancInicialExit() {
    depLancInicial->CheckValidDate();
}
void TfrmCadAuto::depLancFinalExit() {
    depLancFinal->CheckValidDate();
}
void TfrmCadAuto::depDFEInicialExit() {
    depDFEInicial->CheckValidDate();
}
void TfrmCadAuto::depDFEFinalExit() {
    depDFEFinal->CheckValidDate();
}
void TfrmCadAuto::depDFSInicialExit() {
    depDFSInicial->CheckValidDate();
}
void TfrmCadAuto::depDFSFinalExit() {
    depDFSFinal->CheckValidDate();
}
void TfrmCadAuto::depFINInicialExit() {
    depFINInicial->CheckValidDate();
}
void TfrmCadAuto::depFINFinalExit() {
    depFINFinal->CheckValidDate();
}
void TfrmCadAuto::depGPAInicialExit() {
    depGPAInicial->CheckValidDate();
}
void TfrmCadAuto::depGPAFinalExit() {
    depGPAFinal->CheckValidDate();
}
void TfrmCadAuto::depFICALInicialExit() {
    depFICALInicial->CheckValidDate();
}
void TfrmCadAuto::depFISCALFinalExit() {
    depFISCALFinal->CheckValidDate();
}
void TfrmCadAuto::depVENEXTInicialExit() {
    depVENEXTInicial->CheckValidDate();
}
void TfrmCadAuto::depVENEXTFinalExit() {
    depVENEXTFinal->CheckValidDate();
}

void TfrmCadAuto::FormClose(TCloseAction &action) {
    TfrmRotiGeral::FormClose(action);
    // The parameter list reloads on every close. A reload that fails is reported on its own and
    // must not keep this screen open.
    if (bostCriado && frmParamContab)
        RunGuarded([] { frmParamContab->sbtVerificar->Click(); });
}
