// The visible parts of the accounting-parameter screen: toolbar additions, menus, grid columns,
// the form page with the periods and the controls page.
#include "frmparamcontab.h"

#include "components/btnpesquisa.h"
#include "components/dbcheckbox.h"
#include "components/dbdateeditplus.h"
#include "components/dbedit.h"
#include "components/dbgrid.h"
#include "components/dbtext.h"
#include "components/menuitem.h"
#include "components/pagecontrol.h"
#include "components/toolbutton.h"
#include "dataset/datasource.h"

#include <QApplication>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QScrollArea>
#include <QStyle>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace {

const QStringList WeekDays = {u"Domingo"_s, u"Segunda"_s, u"Terça"_s, u"Quarta"_s,
                              u"Quinta"_s,  u"Sexta"_s,   u"Sábado"_s};

// Base form's group tag: the groups marked 5 take part in its editing colours.
constexpr int GroupTag = 5;

QGroupBox *NewGroup(const QString &name, const QString &caption, QWidget *parent) {
    auto *group = new QGroupBox(caption, parent);
    group->setObjectName(name);
    return group;
}

QLabel *NewLabel(const QString &name, const QString &caption, QWidget *parent) {
    auto *label = new QLabel(caption, parent);
    label->setObjectName(name);
    return label;
}

// "Apply to many companies": one sheet whose arrows fan out to a stack of three. Drawn in the
// palette's text colour so it reads in light and dark themes; the style greys it when disabled.
QIcon CadAutoIcon(const QPalette &palette) {
    QIcon icon;
    for (const int side : {16, 24, 32, 48}) {
        QPixmap pixmap(side, side);
        pixmap.fill(Qt::transparent);
        QPainter p(&pixmap);
        p.setRenderHint(QPainter::Antialiasing);
        p.scale(side / 24.0, side / 24.0);
        const QColor ink = palette.color(QPalette::WindowText);
        const QColor paper = palette.color(QPalette::Base);
        p.setPen(QPen(ink, 1.2));
        p.setBrush(paper);
        p.drawRect(QRectF(1.5, 8.5, 6, 8)); // the one setting
        for (int i = 2; i >= 0; --i)        // the many companies
            p.drawRect(QRectF(15.5 - i * 1.5, 3.5 + i * 1.5 + i * 4, 7, 5));
        p.setPen(QPen(palette.color(QPalette::Highlight), 1.6));
        for (const double y : {5.5, 12.5, 19.5}) {
            p.drawLine(QPointF(8.5, 12.5), QPointF(12.5, y));
        }
        icon.addPixmap(pixmap);
    }
    return icon;
}

} // namespace

void TfrmParamContab::BuildToolbarAndMenus() {
    sbtCadAuto = new TToolButton(u"sbtCadAuto"_s, QString(), this);
    sbtCadAuto->SetHint(u"Confirmar"_s);
    sbtCadAuto->SetFlat(true);
    // One image, two states: the style derives the greyed one for the disabled button.
    sbtCadAuto->setIcon(CadAutoIcon(palette()));
    sbtCadAuto->setToolButtonStyle(Qt::ToolButtonIconOnly);
    sbtCadAuto->setEnabled(false);
    sbtCadAuto->OnClick = [this] {
        sbtCadAutoClick();
    };
    InsertToolButton(sbtCadAuto);

    mnuFormulario->setText(u"Períodos de Lançamentos"_s);
    mnuControle = new TMenuItem(u"mnuControle"_s, u"Controles de Lançamentos"_s, this);
    mnuControle->setCheckable(false); // the page menu items that carry a tick are the base's two
    InsertOperacaoItem(mnuControle);

    mnuFolhaDados->OnClick = [this] {
        mnuFolhaDadosClick();
    };
    mnuFormulario->OnClick = [this] {
        mnuFormularioClick();
    };
    mnuControle->OnClick = [this] {
        mnuControleClick();
    };
    pgcPadrao->OnChange = [this] {
        pgcPadraoChange();
    };

    // Printing is not offered by this screen.
    mnuListagem->SetEnabled(false);
    mnuConfigImpressora->SetEnabled(false);
    sbtImprimir->setEnabled(false);
}

void TfrmParamContab::BuildGrid() {
    dbgPadrao->SetDataSource(dtsPadrao);
    dbgPadrao->SetColumns({
        {u"CDEMPRESA"_s, u"Código"_s, 39},
        {u"NMEMPRESA"_s, u"Nome"_s, 174},
        {u"DTINICCONT"_s, u"Per. Contábil"_s, 150},
        {u"DTINICLANC"_s, u"Per. Lançamento"_s, 150},
        {u"DTINIINTCONTDFE"_s, u"Per. DFE"_s, 150},
        {u"DTINIINTCONTDFS"_s, u"Per. DFS"_s, 150},
        {u"DTINICCTBL"_s, u"Per. FIN"_s, 150},
        {u"DTINIINTCONTGPA"_s, u"Per. GPA"_s, 150},
        {u"DTINIINTCONTFIS"_s, u"Per. Fiscal"_s, 150},
        {u"DTINIINTCONTVEXT"_s, u"Per. Venda Extemporânea"_s, 150},
    });
    // The widths are the minimum: a larger desktop font must not cut dates or titles short.
    const QFontMetrics cells(dbgPadrao->font());
    const QFontMetrics titles(dbgPadrao->horizontalHeader()->font());
    const int periodWidth = cells.horizontalAdvance(u"00/00/0000 a 00/00/0000"_s) + 16;
    const int nameWidth = cells.horizontalAdvance(u"Comércio de Alimentos São João Ltda"_s) + 16;
    const QVector<TGridColumn> columns = dbgPadrao->Model()->Columns();
    for (int i = 0; i < columns.size(); ++i) {
        int width = qMax(columns[i].Width, titles.horizontalAdvance(columns[i].Title) + 24);
        if (i == 1)
            width = qMax(width, nameWidth);
        else if (i >= 2)
            width = qMax(width, periodWidth);
        dbgPadrao->setColumnWidth(i, width);
    }
    dbtNome->SetDataSource(dtsPadrao);
    dbtNome->SetDataField(u"NMEMPRESA"_s);
}

void TfrmParamContab::BuildFormPage() {
    tshFormulario = new QWidget;
    tshFormulario->setObjectName(u"tshFormulario"_s);
    AddPage(tshFormulario, u"Períodos de Lançamentos"_s);
    auto *pageLayout = new QVBoxLayout(tshFormulario);
    pageLayout->setContentsMargins(0, 0, 0, 0);
    scbFormulario = new QScrollArea(tshFormulario);
    scbFormulario->setObjectName(u"scbFormulario"_s);
    scbFormulario->setWidgetResizable(true);
    scbFormulario->setFrameShape(QFrame::NoFrame);
    pageLayout->addWidget(scbFormulario);
    auto *content = new QWidget;
    content->setObjectName(u"scbFormularioConteudo"_s);
    scbFormulario->setWidget(content);
    auto *layout = new QGridLayout(content);
    layout->setContentsMargins(8, 8, 8, 8);
    layout->setHorizontalSpacing(10);
    layout->setVerticalSpacing(8);

    // Company panel across the top.
    panEmpresa = new QWidget(content);
    panEmpresa->setObjectName(u"panEmpresa"_s);
    auto *company = new QHBoxLayout(panEmpresa);
    company->setContentsMargins(0, 0, 0, 0);
    lblEmpresa = NewLabel(u"lblEmpresa"_s, u"Empresa"_s, panEmpresa);
    QFont bold = lblEmpresa->font();
    bold.setBold(true);
    lblEmpresa->setFont(bold);
    dbeCdEmpresa = new TDBEdit(u"dbeCdEmpresa"_s, panEmpresa);
    dbeCdEmpresa->SetDataSource(dtsPadrao);
    dbeCdEmpresa->SetDataField(u"CDEMPRESA"_s);
    dbeCdEmpresa->setFixedWidth(48);
    {
        // Key fields stand out on the tooltip colour, as everywhere in the suite, in every
        // state; disabled (an existing record's company cannot change), the grey of disabled
        // text says that it cannot be typed in.
        const QPalette standard = QApplication::palette();
        QPalette palette = dbeCdEmpresa->palette();
        for (const auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
            palette.setColor(group, QPalette::Base, standard.color(QPalette::ToolTipBase));
            palette.setColor(group, QPalette::Text,
                             group == QPalette::Disabled
                                 ? standard.color(QPalette::Disabled, QPalette::Text)
                                 : standard.color(QPalette::ToolTipText));
        }
        dbeCdEmpresa->setPalette(palette);
    }
    btnEmpresa = new TBtnPesquisa(u"btnEmpresa"_s, panEmpresa);
    btnEmpresa->SetHint(u"Pesquisar"_s);
    btnEmpresa->SetAssociate(dbeCdEmpresa);
    btnEmpresa->SetDataSource(dtsEmpresa);
    btnEmpresa->SetTitle(u"Empresa"_s);
    btnEmpresa->SetEmptyError(u"Não há empresa cadastrada."_s);
    btnEmpresa->setText(u"..."_s);
    edtNmEmpresa = new QLineEdit(panEmpresa);
    edtNmEmpresa->setObjectName(u"edtNmEmpresa"_s);
    edtNmEmpresa->setEnabled(false);
    edtNmEmpresa->setMinimumWidth(300);
    company->addWidget(lblEmpresa);
    company->addWidget(dbeCdEmpresa);
    company->addWidget(btnEmpresa);
    company->addWidget(edtNmEmpresa, 1);
    layout->addWidget(panEmpresa, 0, 0, 1, 2);

    const auto newDate = [this](const QString &name, const QString &field, QWidget *parent) {
        auto *edit = new TDBDateEditPlus(name, parent);
        edit->SetDataSource(dtsPadrao);
        edit->SetDataField(field);
        edit->SetWeekDays(WeekDays);
        edit->setFixedWidth(96);
        return edit;
    };

    // Accounting and posting periods, stacked at the left; taken by month.
    const auto periodGroup = [&](const QString &name, const QString &caption,
                                 TDBDateEditPlus *&first, const QString &firstName,
                                 const QString &firstField, TDBDateEditPlus *&last,
                                 const QString &lastName, const QString &lastField) {
        QGroupBox *group = NewGroup(name, caption, content);
        group->setProperty("Tag", GroupTag);
        auto *grid = new QGridLayout(group);
        grid->addWidget(NewLabel(u"lbl"_s + firstName.mid(3), u"Data Inicial"_s, group), 0, 0);
        grid->addWidget(NewLabel(u"lbl"_s + lastName.mid(3), u"Data Final"_s, group), 0, 1);
        first = newDate(firstName, firstField, group);
        last = newDate(lastName, lastField, group);
        first->SetShowDia(false);
        last->SetShowDia(false);
        grid->addWidget(first, 1, 0);
        grid->addWidget(last, 1, 1);
        grid->setColumnStretch(2, 1);
        return group;
    };
    grbContabil = periodGroup(u"grbContabil"_s, u"Período Contábil"_s, ddeIniCont, u"ddeIniCont"_s,
                              u"DTINICCONT"_s, ddeFinCont, u"ddeFinCont"_s, u"DTFINACONT"_s);
    grbLancamento =
        periodGroup(u"grbLancamento"_s, u"Período de Lançamento"_s, ddeIniLanc, u"ddeIniLanc"_s,
                    u"DTINICLANC"_s, ddeFinLanc, u"ddeFinLanc"_s, u"DTFINALANC"_s);
    auto *left = new QVBoxLayout;
    left->addWidget(grbContabil);
    left->addWidget(grbLancamento);
    left->addStretch(1);
    layout->addLayout(left, 1, 0);

    // Integration periods of the other modules, to the right.
    GroupBox2 = NewGroup(u"GroupBox2"_s, u"Integração Ordalis"_s, content);
    auto *integration = new QGridLayout(GroupBox2);
    integration->setHorizontalSpacing(8);
    integration->addWidget(NewLabel(u"lblIntDataInicial"_s, u"Data Inicial"_s, GroupBox2), 0, 1);
    integration->addWidget(NewLabel(u"lblIntDataFinal"_s, u"Data Final"_s, GroupBox2), 0, 2);
    const struct {
        const char16_t *Label;
        const char16_t *LabelName;
        TDBDateEditPlus *TfrmParamContab::*First;
        const char16_t *FirstName;
        const char16_t *FirstField;
        TDBDateEditPlus *TfrmParamContab::*Last;
        const char16_t *LastName;
        const char16_t *LastField;
    } rows[] = {
        {u"Doc. Fiscais Entrada", u"lblDocFisEntr", &TfrmParamContab::ddeIniDocFisEntr,
         u"ddeIniDocFisEntr", u"DTINIINTCONTDFE", &TfrmParamContab::ddeFinDocFisEntr,
         u"ddeFinDocFisEntr", u"DTFININTCONTDFE"},
        {u"Doc. Fiscais Saída", u"lblDocFisSaid", &TfrmParamContab::ddeIniDocFisSaid,
         u"ddeIniDocFisSaid", u"DTINIINTCONTDFS", &TfrmParamContab::ddeFinDocFisSaid,
         u"ddeFinDocFisSaid", u"DTFININTCONTDFS"},
        {u"Financeiro", u"lblFinanceiro", &TfrmParamContab::ddeIniInte, u"ddeIniInte",
         u"DTINICCTBL", &TfrmParamContab::ddeFimInte, u"ddeFimInte", u"DTFINACCTBL"},
        {u"Gestão de Ativos", u"lblGestaoAtivos", &TfrmParamContab::dtIniGpa, u"dtIniGpa",
         u"DTINIINTCONTGPA", &TfrmParamContab::dtFinGpa, u"dtFinGpa", u"DTFININTCONTGPA"},
        {u"Fiscal", u"lblFiscal", &TfrmParamContab::dbdIniFiscal, u"dbdIniFiscal",
         u"DTINIINTCONTFIS", &TfrmParamContab::dbdFinFiscal, u"dbdFinFiscal", u"DTFININTCONTFIS"},
        {u"Venda Extemporânea", u"lblVendExt", &TfrmParamContab::dbdIniVendExt, u"dbdIniVendExt",
         u"DTINIINTCONTVEXT", &TfrmParamContab::dbdFinVendExt, u"dbdFinVendExt",
         u"DTFININTCONTVEXT"},
    };
    int line = 1;
    for (const auto &row : rows) {
        integration->addWidget(
            NewLabel(QString::fromUtf16(row.LabelName), QString::fromUtf16(row.Label), GroupBox2),
            line, 0);
        this->*row.First = newDate(QString::fromUtf16(row.FirstName),
                                   QString::fromUtf16(row.FirstField), GroupBox2);
        this->*row.Last =
            newDate(QString::fromUtf16(row.LastName), QString::fromUtf16(row.LastField), GroupBox2);
        integration->addWidget(this->*row.First, line, 1);
        integration->addWidget(this->*row.Last, line, 2);
        ++line;
    }
    integration->setRowStretch(line, 1);
    layout->addWidget(GroupBox2, 1, 1);
    layout->setColumnStretch(2, 1);
    layout->setRowStretch(2, 1);
}

void TfrmParamContab::BuildControlPage() {
    tshControle = new QWidget;
    tshControle->setObjectName(u"tshControle"_s);
    AddPage(tshControle, u"Controle de Lançamentos"_s);
    auto *pageLayout = new QVBoxLayout(tshControle);
    pageLayout->setContentsMargins(8, 8, 8, 8);
    grbControle = NewGroup(u"grbControle"_s, QString(), tshControle);
    grbControle->setProperty("Tag", GroupTag);
    pageLayout->addWidget(grbControle);
    pageLayout->addStretch(1);
    auto *layout = new QVBoxLayout(grbControle);
    layout->setSpacing(6);

    const struct {
        TDBCheckBox *TfrmParamContab::*Member;
        const char16_t *Name;
        const char16_t *Caption;
        const char16_t *Field;
    } boxes[] = {
        {&TfrmParamContab::dbcCusto, u"dbcCusto", u"Controla Centro de Custo", u"IDCONTGERE"},
        {&TfrmParamContab::dbcRatProd, u"dbcRatProd", u"Considera Rateio dos Encargos por Produto",
         u"IDCONSRATPROD"},
        {&TfrmParamContab::dbcComercial, u"dbcComercial", u"Controla Conta Comercial",
         u"IDCONTCOME"},
        {&TfrmParamContab::dbcCustEstCont, u"dbcCustEstCont",
         u"Utiliza Custo do Estoque na Contabilização", u"IDUTCUSTESTCONT"},
        {&TfrmParamContab::dbcSugRateio, u"dbcSugRateio", u"Sugere Rateio em Lançamentos Manuais",
         u"IDSUGRAT"},
        {&TfrmParamContab::dbcUtSaldoSoc, u"dbcUtSaldoSoc", u"Utiliza Saldo Societário",
         u"IDUTSALDOSOC"},
        {&TfrmParamContab::dbcDbCrMsmConta, u"dbcDbCrMsmConta",
         u"Permite Lançamentos de DB e CR na mesma Conta", u"IDMSMCONTADBCR"},
        {&TfrmParamContab::dbcCCustoRetirada, u"dbcCCustoRetirada",
         u"Prioriza o Centro de Custo do Setor nas Retiradas de Estoque", u"IDRETESTSETOR"},
        {&TfrmParamContab::dbcConsiteVND, u"dbcConsiteVND",
         u"Consiste a Consolidação de Vendas (VND) de acordo com Período de Integração do DFS",
         u"IDCONSVNDDFS"},
        {&TfrmParamContab::dbcUtDespTribDifal, u"dbcUtDespTribDifal",
         u"Utiliza Conta \"Despesa Tributária\" para a partida de Diferencial de Alíquota",
         u"IDDESPTRIBDIFAL"},
        {&TfrmParamContab::dbcConsDtMoviRet, u"dbcConsDtMoviRet",
         u"Considera \"Data da Movimentação\" na Contabilização das Retiradas",
         u"IDCONSDTMOVIRETEST"},
        {&TfrmParamContab::cdbcContabSinte, u"cdbcContabSinte",
         u"Contabilidade por Lote Sintetica na Integracao com Conciliador", u"IDCTBSINTETICO"},
        {&TfrmParamContab::dbcEstLancCont, u"dbcEstLancCont",
         u"Gera Estorno de Lançamento Contábil", u"IDGERESTLANCONT"},
        {&TfrmParamContab::dbcContaAjusDtComp, u"dbcContaAjusDtComp",
         u"Contabiliza Ajuste Data de Competência", u"IDCONTAJUDTCOMP"},
        {&TfrmParamContab::dbcContaExclICMSSep, u"dbcContaExclICMSSep",
         u"Contabiliza o valor de exclusão do ICMS separadamente", u"IDCONTVREXCICMSEP"},
        {&TfrmParamContab::dbcConGGF, u"dbcConGGF",
         u"Controla parte gerencial para contas vinculadas ao GGF", u"IDCONGERGGF"},
    };
    for (const auto &b : boxes) {
        auto *box =
            new TDBCheckBox(QString::fromUtf16(b.Name), QString::fromUtf16(b.Caption), grbControle);
        box->SetDataSource(dtsPadrao);
        box->SetDataField(QString::fromUtf16(b.Field));
        box->SetValueChecked(u"S"_s);
        box->SetValueUnchecked(u"N"_s);
        this->*b.Member = box;
        layout->addWidget(box);
    }
}

void TfrmParamContab::SetTabOrder() {
    // Form page: the periods first, as they are what users come to change; company last.
    QList<QWidget *> form;
    for (TDBDateEditPlus *edit : DateEdits())
        form << edit;
    form << dbeCdEmpresa << btnEmpresa << edtNmEmpresa;
    for (int i = 1; i < form.size(); ++i)
        QWidget::setTabOrder(form[i - 1], form[i]);

    // Controls page: screen order, except that the product apportionment box comes late.
    QList<QWidget *> controls;
    for (TDBCheckBox *box : ControlChecks()) {
        if (box != dbcRatProd)
            controls << box;
        if (box == dbcContaExclICMSSep)
            controls << dbcRatProd;
    }
    for (int i = 1; i < controls.size(); ++i)
        QWidget::setTabOrder(controls[i - 1], controls[i]);
}

QList<TDBDateEditPlus *> TfrmParamContab::DateEdits() const {
    return {ddeIniCont,       ddeFinCont,       ddeIniLanc,       ddeFinLanc,
            ddeIniDocFisEntr, ddeFinDocFisEntr, ddeIniDocFisSaid, ddeFinDocFisSaid,
            ddeIniInte,       ddeFimInte,       dtIniGpa,         dtFinGpa,
            dbdIniFiscal,     dbdFinFiscal,     dbdIniVendExt,    dbdFinVendExt};
}

QList<TDBCheckBox *> TfrmParamContab::ControlChecks() const {
    return {dbcCusto,       dbcRatProd,         dbcComercial,        dbcCustEstCont,
            dbcSugRateio,   dbcUtSaldoSoc,      dbcDbCrMsmConta,     dbcCCustoRetirada,
            dbcConsiteVND,  dbcUtDespTribDifal, dbcConsDtMoviRet,    cdbcContabSinte,
            dbcEstLancCont, dbcContaAjusDtComp, dbcContaExclICMSSep, dbcConGGF};
}
