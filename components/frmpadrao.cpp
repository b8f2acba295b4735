#include "components/frmpadrao.h"

#include "components/application.h"
#include "components/dbgrid.h"
#include "components/dbnavigator.h"
#include "components/dbtext.h"
#include "components/guard.h"
#include "components/hostinterface.h"
#include "components/menuitem.h"
#include "components/messages.h"
#include "components/pagecontrol.h"
#include "components/toolbutton.h"
#include "dataset/datasource.h"
#include "dataset/exceptions.h"

#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMdiSubWindow>

#include <QMenu>
#include <QMenuBar>
#include <QScrollArea>
#include <QVBoxLayout>
#include <set>

using namespace Qt::StringLiterals;

namespace {

bool Editing(const TDataSource *source) {
    return source->State() == TDataSetState::Edit || source->State() == TDataSetState::Insert;
}

TClientDataSet *RequireTable(const TDataSource *source) {
    if (!source->DataSet())
        throw EDatabaseError(
            u"Nenhuma tabela ligada à fonte de dados '%1'."_s.arg(source->objectName()));
    return source->DataSet();
}

} // namespace

TfrmPadrao::TfrmPadrao(QWidget *parent)
    : QWidget(parent) {
    setObjectName(u"frmPadrao"_s);
    setAttribute(Qt::WA_DeleteOnClose, false); // release is decided by FormClose

    dtsPadrao = new TDataSource(this);
    dtsPadrao->setObjectName(u"dtsPadrao"_s);
    msgMensagensPadroes = new TMessages(u"msgMensagensPadroes"_s, this);
    msgMensagensPadroes->SetLines({
        u"Excl|Confirma exclusão?"_s,
        u"Canc|Confirma cancelamento das alterações?"_s,
        u"Conf|Confirma as alterações?"_s,
        u"Fech|Existem alterações não confirmadas. Deseja fechar assim mesmo?"_s,
        u"Vazio|Não há registros."_s,
    });

    // Toolbar.
    lblCodTela = new QLabel(this);
    lblCodTela->setObjectName(u"lblCodTela"_s);
    panMenu = new QWidget(this);
    panMenu->setObjectName(u"panMenu"_s);
    m_toolLayout = new QHBoxLayout(panMenu);
    m_toolLayout->setContentsMargins(0, 0, 0, 0);
    m_toolLayout->setSpacing(2);
    auto button = [this](TToolButton *&member, const QString &name, const QString &caption) {
        member = new TToolButton(name, caption, panMenu);
        member->SetHint(caption);
        m_toolLayout->addWidget(member);
    };
    button(sbtIncluir, u"sbtIncluir"_s, u"Incluir"_s);
    button(sbtAlterar, u"sbtAlterar"_s, u"Alterar"_s);
    button(sbtExcluir, u"sbtExcluir"_s, u"Excluir"_s);
    button(sbtLocalizar, u"sbtLocalizar"_s, u"Localizar"_s);
    button(sbtVerificar, u"sbtVerificar"_s, u"Verificar"_s);
    button(sbtConfirmar, u"sbtConfirmar"_s, u"Confirmar"_s);
    button(sbtCancelar, u"sbtCancelar"_s, u"Cancelar"_s);
    button(sbtImprimir, u"sbtImprimir"_s, u"Imprimir"_s);
    button(sbtAjuda, u"sbtAjuda"_s, u"Ajuda"_s);
    button(sbtFechar, u"sbtFechar"_s, u"Fechar"_s);
    m_toolLayout->addStretch();
    m_toolLayout->addWidget(lblCodTela);

    // Menus.
    mnuMenu = new QMenuBar(this);
    mnuMenu->setObjectName(u"mnuMenu"_s);
    mnuOperacao = mnuMenu->addMenu(u"&Operação"_s);
    mnuOperacao->setObjectName(u"mnuOperacao"_s);
    auto item = [this](TMenuItem *&member, const QString &name, const QString &caption) {
        member = new TMenuItem(name, caption, this);
        mnuOperacao->addAction(member);
    };
    item(mnuFolhaDados, u"mnuFolhaDados"_s, u"Folha de Dados"_s);
    item(mnuFormulario, u"mnuFormulario"_s, u"Formulário"_s);
    mnuOperacao->addSeparator();
    item(mnuIncluir, u"mnuIncluir"_s, u"Incluir"_s);
    item(mnuAlterar, u"mnuAlterar"_s, u"Alterar"_s);
    item(mnuExcluir, u"mnuExcluir"_s, u"Excluir"_s);
    item(mnuLocalizar, u"mnuLocalizar"_s, u"Localizar"_s);
    item(mnuVerificar, u"mnuVerificar"_s, u"Verificar"_s);
    item(mnuConfirmar, u"mnuConfirmar"_s, u"Confirmar"_s);
    item(mnuCancelar, u"mnuCancelar"_s, u"Cancelar"_s);
    mnuOperacao->addSeparator();
    item(mnuListagem, u"mnuListagem"_s, u"Listagem"_s);
    item(mnuConfigImpressora, u"mnuConfigImpressora"_s, u"Configurar Impressora"_s);
    mnuFolhaDados->setChecked(true);

    // Pages.
    pgcPadrao = new TPageControl(u"pgcPadrao"_s, this);
    tshFolhaDados = new QWidget;
    tshFolhaDados->setObjectName(u"tshFolhaDados"_s);
    dbgPadrao = new TDBGrid(u"dbgPadrao"_s, tshFolhaDados);
    dbgPadrao->SetDataSource(dtsPadrao);
    auto *listLayout = new QVBoxLayout(tshFolhaDados);
    listLayout->setContentsMargins(2, 2, 2, 2);
    listLayout->addWidget(dbgPadrao);
    pgcPadrao->AddPage(tshFolhaDados, u"Folha de Dados"_s);

    // Navigator panel.
    panNavigator = new QWidget(this);
    panNavigator->setObjectName(u"panNavigator"_s);
    dbtNome = new TDBText(u"dbtNome"_s, panNavigator);
    dbtNome->SetDataSource(dtsPadrao);
    dbnPadrao = new TDBNavigator(u"dbnPadrao"_s, panNavigator);
    dbnPadrao->SetDataSource(dtsPadrao);
    auto *navLayout = new QHBoxLayout(panNavigator);
    navLayout->setContentsMargins(2, 0, 2, 0);
    navLayout->addWidget(dbtNome, 1);
    navLayout->addWidget(dbnPadrao);

    // Navigation pop-up (its actions work only when switched on).
    pmnNavegar = new QMenu(this);
    pmnNavegar->setObjectName(u"pmnNavegar"_s);
    auto navItem = [this](TMenuItem *&member, const QString &name, const QString &caption,
                          void (TClientDataSet::*step)()) {
        member = new TMenuItem(name, caption, this);
        member->setCheckable(false);
        member->OnClick = [this, step] {
            if (m_navigatePopup)
                (RequireTable(dtsPadrao)->*step)();
        };
        pmnNavegar->addAction(member);
    };
    navItem(Primeiro1, u"Primeiro1"_s, u"Primeiro"_s, &TClientDataSet::First);
    navItem(Anterior1, u"Anterior1"_s, u"Anterior"_s, &TClientDataSet::Prior);
    navItem(Proximo1, u"Proximo1"_s, u"Próximo"_s, &TClientDataSet::Next);
    navItem(Ultimo1, u"Ultimo1"_s, u"Último"_s, &TClientDataSet::Last);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(2, 2, 2, 2);
    layout->setSpacing(2);
    layout->setMenuBar(mnuMenu);
    layout->addWidget(panMenu);
    layout->addWidget(pgcPadrao, 1);
    layout->addWidget(panNavigator);

    // Handlers: virtual calls happen only when the event fires, after construction.
    const std::pair<TToolButton *, void (TfrmPadrao::*)()> handlers[] = {
        {sbtIncluir, &TfrmPadrao::sbtIncluirClick},
        {sbtAlterar, &TfrmPadrao::sbtAlterarClick},
        {sbtExcluir, &TfrmPadrao::sbtExcluirClick},
        {sbtLocalizar, &TfrmPadrao::sbtLocalizarClick},
        {sbtVerificar, &TfrmPadrao::sbtVerificarClick},
        {sbtConfirmar, &TfrmPadrao::sbtConfirmarClick},
        {sbtCancelar, &TfrmPadrao::sbtCancelarClick},
        {sbtImprimir, &TfrmPadrao::sbtImprimirClick},
        {sbtAjuda, &TfrmPadrao::sbtAjudaClick},
        {sbtFechar, &TfrmPadrao::sbtFecharClick}};
    // A pending edit is only ever posted by confirm and dropped by cancel: the buttons that would
    // move off the row, start another one or reload do nothing while a record is being edited.
    const std::set<TToolButton *> browseOnly = {sbtIncluir, sbtAlterar, sbtExcluir, sbtLocalizar,
                                                sbtVerificar};
    for (const auto &[sbt, handler] : handlers)
        sbt->OnClick = [this, handler = handler, onlyBrowsing = browseOnly.contains(sbt)] {
            if (onlyBrowsing && Editing(dtsPadrao))
                return;
            (this->*handler)();
        };
    const std::pair<TMenuItem *, TToolButton *> pairs[] = {
        {mnuIncluir, sbtIncluir},     {mnuAlterar, sbtAlterar},     {mnuExcluir, sbtExcluir},
        {mnuLocalizar, sbtLocalizar}, {mnuVerificar, sbtVerificar}, {mnuConfirmar, sbtConfirmar},
        {mnuCancelar, sbtCancelar},   {mnuListagem, sbtImprimir}};
    for (const auto &[menu, tool] : pairs) {
        menu->setCheckable(false);
        menu->OnClick = [tool] {
            tool->Click();
        };
    }
    mnuConfigImpressora->setCheckable(false);
    connect(dtsPadrao, &TDataSource::stateChanged, this,
            [this] { RunGuarded([this] { dtsPadraoStateChange(); }); });
}

TfrmPadrao::~TfrmPadrao() = default;

void TfrmPadrao::Initialize(QObject *owner) {
    InitializeForm(this, owner, [this] { FormCreate(); });
}

void TfrmPadrao::InsertToolButton(TToolButton *button) {
    button->setParent(panMenu);
    m_toolLayout->insertWidget(m_toolLayout->indexOf(sbtImprimir), button);
    ++m_insertedButtons;
}

void TfrmPadrao::InsertOperacaoItem(TMenuItem *item) {
    const QList<QAction *> actions = mnuOperacao->actions();
    const int at = int(actions.indexOf(mnuFormulario)) + 1 + m_insertedItems;
    mnuOperacao->insertAction(actions.value(at), item);
    ++m_insertedItems;
}

int TfrmPadrao::AddPage(QWidget *page, const QString &caption) {
    return pgcPadrao->AddPage(page, caption);
}

void TfrmPadrao::SetNavigatePopupEnabled(bool on) {
    m_navigatePopup = on;
}

void TfrmPadrao::FormCreate() {
    pgcPadrao->SetActivePage(tshFolhaDados);
    dtsPadraoStateChange();
}

void TfrmPadrao::FormShow() {}

void TfrmPadrao::FormActivate() {}

void TfrmPadrao::FormClose(TCloseAction &action) {
    action = caFree;
}

void TfrmPadrao::dtsPadraoStateChange() {
    const TDataSetState state = dtsPadrao->State();
    const bool editing = Editing(dtsPadrao);
    const bool browsing = state == TDataSetState::Browse;
    const bool hasRows = dtsPadrao->DataSet() && !dtsPadrao->DataSet()->IsEmpty();
    sbtConfirmar->setEnabled(editing);
    sbtCancelar->setEnabled(editing);
    sbtIncluir->setEnabled(browsing);
    for (TToolButton *record : {sbtAlterar, sbtExcluir, sbtLocalizar, sbtVerificar})
        record->setEnabled(browsing && hasRows);
    sbtImprimir->setEnabled(browsing && hasRows);
    dbnPadrao->setEnabled(browsing);
    const std::pair<TMenuItem *, TToolButton *> pairs[] = {
        {mnuIncluir, sbtIncluir},     {mnuAlterar, sbtAlterar},     {mnuExcluir, sbtExcluir},
        {mnuLocalizar, sbtLocalizar}, {mnuVerificar, sbtVerificar}, {mnuConfirmar, sbtConfirmar},
        {mnuCancelar, sbtCancelar},   {mnuListagem, sbtImprimir}};
    for (const auto &[menu, tool] : pairs)
        menu->setEnabled(tool->isEnabled());
}

void TfrmPadrao::sbtIncluirClick() {
    RequireTable(dtsPadrao)->Insert();
}

void TfrmPadrao::sbtAlterarClick() {
    RequireTable(dtsPadrao)->Edit();
    ShowFormPage();
}

void TfrmPadrao::ShowFormPage() {
    // The list moves the current row; it is never in front while a record is being edited.
    if (pgcPadrao->ActivePage() != tshFolhaDados || pgcPadrao->count() < 2)
        return;
    pgcPadrao->SetActivePage(pgcPadrao->widget(1));
    if (pgcPadrao->OnChange)
        pgcPadrao->OnChange();
}

void TfrmPadrao::sbtExcluirClick() {
    TClientDataSet *table = RequireTable(dtsPadrao);
    if (table->IsEmpty())
        return;
    if (msgMensagensPadroes->ShowMsg(u"Excl"_s, TMsgDlgType::mtConfirmation, mbYes | mbNo, 0) !=
        mrYes)
        return;
    table->Delete();
}

void TfrmPadrao::sbtLocalizarClick() {}

void TfrmPadrao::sbtVerificarClick() {}

void TfrmPadrao::sbtConfirmarClick() {
    TClientDataSet *table = RequireTable(dtsPadrao);
    if (Editing(dtsPadrao))
        table->Post();
}

void TfrmPadrao::sbtCancelarClick() {
    TClientDataSet *table = RequireTable(dtsPadrao);
    if (!Editing(dtsPadrao))
        return;
    if (msgMensagensPadroes->ShowMsg(u"Canc"_s, TMsgDlgType::mtConfirmation, mbYes | mbNo, 0) !=
        mrYes)
        return;
    table->Cancel();
}

void TfrmPadrao::sbtImprimirClick() {}

void TfrmPadrao::sbtAjudaClick() {
    Host()->ShowHelp(m_helpFile, m_helpContext);
}

void TfrmPadrao::sbtFecharClick() {
    // Inside the host's MDI area the frame is what the user sees: closing it closes the screen.
    if (auto *frame = qobject_cast<QMdiSubWindow *>(parentWidget()))
        frame->close();
    else
        close();
}

void TfrmPadrao::showEvent(QShowEvent *event) {
    QWidget::showEvent(event);
    if (m_shown)
        return;
    m_shown = true;
    // A scroll area only holds a page's fields. Taking the focus from a click on its empty part
    // would run the exit of the field being typed in, for a click that asked for nothing.
    const auto areas = findChildren<QScrollArea *>();
    for (QScrollArea *area : areas)
        area->setFocusPolicy(Qt::NoFocus);
    RunGuarded([this] { FormShow(); });
}

void TfrmPadrao::changeEvent(QEvent *event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::ParentChange) {
        // A child window of an MDI area is activated by its frame, not as a top-level window.
        disconnect(m_frameActivation);
        if (auto *frame = qobject_cast<QMdiSubWindow *>(parentWidget()))
            m_frameActivation = connect(frame, &QMdiSubWindow::aboutToActivate, this,
                                        [this] { RunGuarded([this] { FormActivate(); }); });
    }
    if (event->type() == QEvent::ActivationChange && isWindow() && isActiveWindow())
        RunGuarded([this] { FormActivate(); });
}

void TfrmPadrao::closeEvent(QCloseEvent *event) {
    // A record being edited is never dropped without asking.
    if (Editing(dtsPadrao)) {
        int answer = mrNo;
        RunGuarded([&] {
            answer = msgMensagensPadroes->ShowMsg(u"Fech"_s, TMsgDlgType::mtConfirmation,
                                                  mbYes | mbNo, 0);
        });
        if (answer != mrYes) {
            event->ignore();
            return;
        }
    }
    TCloseAction action = caFree;
    if (!RunGuarded([&] { FormClose(action); }))
        action = caNone; // a failing close handler keeps the screen open
    auto *frame = qobject_cast<QMdiSubWindow *>(parentWidget());
    switch (action) {
    case caNone:
        event->ignore();
        return;
    case caMinimize:
        event->ignore();
        (frame ? static_cast<QWidget *>(frame) : this)->showMinimized();
        return;
    case caHide:
        event->accept();
        if (frame)
            frame->hide();
        return;
    case caFree:
        event->accept();
        if (frame)
            frame->deleteLater(); // the frame owns the screen and takes it along
        else
            deleteLater();
        return;
    }
}

void TfrmPadrao::keyPressEvent(QKeyEvent *event) {
    if (m_keyHandling && (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)) {
        focusNextChild();
        return;
    }
    QWidget::keyPressEvent(event);
}

void TfrmPadrao::contextMenuEvent(QContextMenuEvent *event) {
    if (m_navigatePopup) {
        pmnNavegar->popup(event->globalPos());
        return;
    }
    QWidget::contextMenuEvent(event);
}
