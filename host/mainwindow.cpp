#include "mainwindow.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QStatusBar>

using namespace Qt::StringLiterals;

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent)
    , m_mdi(new QMdiArea(this)) {
    setObjectName(u"frmPrincipal"_s);
    setWindowTitle(u"Ger - Gestão Empresarial"_s);
    m_mdi->setObjectName(u"mdiPrincipal"_s);
    m_mdi->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_mdi->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setCentralWidget(m_mdi);

    QMenu *file = menuBar()->addMenu(u"&Arquivo"_s);
    file->setObjectName(u"mnuArquivo"_s);
    QAction *quit = file->addAction(u"&Sair"_s, this, &QWidget::close);
    quit->setObjectName(u"mnuSair"_s);

    QMenu *accounting = menuBar()->addMenu(u"&Contabilidade"_s);
    accounting->setObjectName(u"mnuContabilidade"_s);
    m_paramContab =
        accounting->addAction(u"Parâmetro Contábil"_s, this, &MainWindow::openParamContabRequested);
    m_paramContab->setObjectName(u"mnuParamContab"_s);
    // Outside the module's screens, whose layout is fixed.
    accounting->addSeparator();
    accounting->addAction(u"&Histórico de alterações"_s, this, &MainWindow::historyRequested)
        ->setObjectName(u"mnuHistorico"_s);

    QMenu *windows = menuBar()->addMenu(u"&Janelas"_s);
    windows->setObjectName(u"mnuJanelas"_s);
    windows->addAction(u"Em &cascata"_s, m_mdi, &QMdiArea::cascadeSubWindows);
    windows->addAction(u"&Lado a lado"_s, m_mdi, &QMdiArea::tileSubWindows);

    QMenu *help = menuBar()->addMenu(u"A&juda"_s);
    help->setObjectName(u"mnuAjudaPrincipal"_s);
    help->addAction(u"&Conteúdo"_s, this, &MainWindow::helpRequested);
    help->addAction(u"&Sobre o Ger..."_s, this, &MainWindow::aboutRequested);

    statusBar()->setObjectName(u"stbPrincipal"_s);
    resize(1280, 800);
    // Child windows take no focus from a click (ShowChild), so bringing one forward on a click
    // inside it is done here.
    if (QCoreApplication *app = QCoreApplication::instance())
        app->installEventFilter(this);
}

void MainWindow::ShowChild(QWidget *form) {
    auto *sub = qobject_cast<QMdiSubWindow *>(form->parentWidget());
    if (!sub || sub->mdiArea() != m_mdi) {
        const QSize wanted = form->size();
        sub = m_mdi->addSubWindow(form);
        sub->setObjectName(form->objectName() + u"_janela"_s);
        // A press on what takes no focus of its own (a toolbar or search button, a label, a panel,
        // the frame) gives the focus to the nearest parent that takes it from a click: the frame.
        // The screen's field would lose it, and its exit would run in the middle of the press,
        // before the click's own action. Tab still reaches the frame.
        sub->setFocusPolicy(Qt::TabFocus);
        sub->setWindowTitle(form->windowTitle());
        sub->setWindowIcon(form->windowIcon());
        // The screen releases itself when it closes; its frame goes with it.
        connect(form, &QObject::destroyed, sub, &QObject::deleteLater);
        // The screen's own size, as far as the area allows; the frame adds its borders.
        sub->adjustSize();
        const QSize frame = sub->size() - form->size();
        const QSize room = m_mdi->viewport()->size();
        sub->resize(qMin(wanted.width() + frame.width(), qMax(room.width(), 400)),
                    qMin(wanted.height() + frame.height(), qMax(room.height(), 300)));
    }
    // A screen that can grow fills the area, so its grid shows as many columns as fit; one of
    // fixed size (a dialog-like screen) keeps it.
    const bool resizable = form->minimumSize() != form->maximumSize();
    if (resizable)
        sub->showMaximized();
    else if (sub->isMinimized() || sub->isMaximized())
        sub->showNormal();
    else
        sub->show();
    form->show();
    m_mdi->setActiveSubWindow(sub);
    sub->raise();
}

QWidget *MainWindow::FindChildScreen(const QString &objectName) const {
    const auto windows = m_mdi->subWindowList();
    for (QMdiSubWindow *sub : windows) {
        if (sub->widget() && sub->widget()->objectName() == objectName)
            return sub->widget();
    }
    return nullptr;
}

bool MainWindow::eventFilter(QObject *watched, QEvent *event) {
    if (event->type() == QEvent::MouseButtonPress && watched->isWidgetType()) {
        for (auto *w = static_cast<QWidget *>(watched); w && !w->isWindow();
             w = w->parentWidget()) {
            auto *sub = qobject_cast<QMdiSubWindow *>(w);
            if (sub && sub->mdiArea() == m_mdi) {
                if (m_mdi->activeSubWindow() != sub)
                    m_mdi->setActiveSubWindow(sub);
                break;
            }
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void MainWindow::closeEvent(QCloseEvent *event) {
    // Screens get their own close handling first; one that refuses keeps the shell open.
    m_mdi->closeAllSubWindows();
    const auto windows = m_mdi->subWindowList();
    for (const QMdiSubWindow *sub : windows) {
        if (sub->isVisible()) {
            event->ignore();
            return;
        }
    }
    Q_EMIT closing();
    event->accept();
}
