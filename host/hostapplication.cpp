#include "hostapplication.h"

#include "components/guard.h"
#include "components/hostinterface.h"
#include "components/toolbutton.h"
#include "dataset/exceptions.h"
#include "desktophost.h"
#include "historyview.h"
#include "historywindow.h"
#include "mainwindow.h"
#include "moduleloader.h"

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QLibraryInfo>
#include <QKeyEvent>
#include <QMdiArea>
#include <QMessageBox>
#include <QMdiSubWindow>
#include <QTabWidget>
#include <QTimer>
#include <QTranslator>

#include <cstdio>

using namespace Qt::StringLiterals;

namespace {

const QString ScreenName = u"frmParamContab"_s;

void Settle() {
    // Let deferred layouts, deletions and the screen's own queued work finish.
    for (int i = 0; i < 5; ++i) {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::processEvents();
    }
}

} // namespace

HostApplication::HostApplication(const HostOptions &options, QObject *parent)
    : QObject(parent)
    , m_options(options)
    , m_window(std::make_unique<MainWindow>())
    , m_host(std::make_unique<DesktopHost>(options, m_window.get()))
    , m_module(std::make_unique<ModuleLoader>(ModuleLoader::DefaultPath())) {
    m_host->SetInteractive(!options.Headless());
    connect(m_window.get(), &MainWindow::openParamContabRequested, this,
            [this] { OpenParamContab(); });
    connect(m_window.get(), &MainWindow::helpRequested, this,
            [this] { m_host->ShowHelp(u"Gerhelp.hlp"_s, 12409400); });
    connect(m_window.get(), &MainWindow::historyRequested, this, [this] { OpenHistory(); });
    connect(m_window.get(), &MainWindow::aboutRequested, this, [this] {
        const QString text = AboutText();
        if (m_options.Headless())
            std::printf("%s\n", text.toUtf8().constData());
        else
            QMessageBox::about(m_window.get(), u"Sobre o Ger"_s, text);
    });
    // F1 reaches every window of the program, the modal screens included.
    if (QCoreApplication *app = QCoreApplication::instance())
        app->installEventFilter(this);
}

HistoryWindow *HostApplication::OpenHistory() {
    QString companies = u"T"_s;
    if (QWidget *screen = m_window->FindChildScreen(ScreenName)) {
        // The company the parameter list stands on.
        if (auto *grid = screen->findChild<QAbstractItemView *>(u"dbgPadrao"_s)) {
            const QModelIndex current = grid->currentIndex();
            const QString code =
                current.isValid() ? current.siblingAtColumn(0).data().toString().trimmed() : QString();
            if (!code.isEmpty())
                companies = code;
        }
    }
    if (!m_history)
        m_history = new HistoryWindow(m_host->Audit());
    m_history->SetCompanies(companies);
    m_window->ShowChild(m_history);
    m_history->Search();
    return m_history;
}

int HostApplication::RunHistory() {
    try {
        const TTablePacket history = HistoryView::Fetch(m_host->Audit(), m_options.History,
                                                        m_options.Since, {}, {}, 1'000'000);
        for (const QStringList &row : HistoryView::Rows(history))
            std::printf("%s\n", row.join(u" | "_s).toUtf8().constData());
    } catch (const std::exception &error) {
        std::fprintf(stderr, "ger-host: %s\n", error.what());
        return 1;
    }
    return 0;
}

QString HostApplication::AboutText() {
    QString database;
    try {
        database = m_host->ServerDescription();
    } catch (const std::exception &error) {
        database = u"não informado (%1)"_s.arg(QString::fromUtf8(error.what()));
    }
    return u"Ger - Parâmetro Contábil\nVersão %1\n\nServidor de aplicação: %2\nBanco de dados: %3"_s
        .arg(QStringLiteral(GER_VERSION), m_options.ServerUrl, database);
}

void HostApplication::ShowContextHelp() {
    QWidget *front = QApplication::activeModalWidget();
    if (!front) {
        QMdiSubWindow *sub = m_window->MdiArea()->activeSubWindow();
        front = sub ? sub->widget() : nullptr;
    }
    int context = 12409400;
    for (QWidget *w = front; w; w = w->parentWidget()) {
        const QVariant value = w->property(HelpContextProperty);
        if (value.isValid()) {
            context = value.toInt();
            break;
        }
    }
    m_host->ShowHelp(u"Gerhelp.hlp"_s, context);
}

bool HostApplication::eventFilter(QObject *watched, QEvent *event) {
    // Only the widget that first receives the key decides; its parents see the same event again.
    if (event->type() == QEvent::KeyPress && watched->isWidgetType() &&
        static_cast<QKeyEvent *>(event)->key() == Qt::Key_F1 &&
        static_cast<QKeyEvent *>(event)->modifiers() == Qt::NoModifier) {
        ShowContextHelp();
        return true;
    }
    return QObject::eventFilter(watched, event);
}

HostApplication::~HostApplication() {
    Shutdown();
}

void HostApplication::Start() {
    RegisterHost(m_host.get());
    m_started = true;
    try {
        m_host->StartLocalDatabase();
    } catch (const std::exception &error) {
        m_host->HandleException(error);
    }
}

bool HostApplication::InstallTranslations() {
    static QTranslator qtbase;
    if (!qtbase.isEmpty())
        return true;
    if (!qtbase.load(u"qtbase_pt_BR"_s, QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        return false;
    return QCoreApplication::installTranslator(&qtbase);
}

QWidget *HostApplication::OpenParamContab() {
    try {
        m_module->Call("IniProc");
    } catch (const std::exception &error) {
        m_host->HandleException(error);
    } catch (...) {
        m_host->HandleException(Exception(u"Falha desconhecida ao abrir a tela."_s));
    }
    return m_window->FindChildScreen(ScreenName);
}

void HostApplication::Shutdown() {
    if (!m_started)
        return;
    m_started = false;
    // Screens live in the package's code: they must be gone before it is unloaded.
    m_window->MdiArea()->closeAllSubWindows();
    Settle();
    const auto windows = m_window->MdiArea()->subWindowList();
    for (QMdiSubWindow *sub : windows)
        delete sub;
    Settle();
    m_module->Unload();
    RegisterHost(nullptr);
}

QStringList HostApplication::GridLines(QWidget *screen) {
    QStringList lines;
    auto *grid = screen ? screen->findChild<QAbstractItemView *>(u"dbgPadrao"_s) : nullptr;
    if (!grid || !grid->model())
        return lines;
    const QAbstractItemModel *model = grid->model();
    for (int row = 0; row < model->rowCount(); ++row) {
        QStringList cells;
        for (int column = 0; column < model->columnCount(); ++column)
            cells << model->index(row, column).data(Qt::DisplayRole).toString();
        lines << cells.join(u" | "_s);
    }
    return lines;
}

bool HostApplication::SelectPage(QWidget *screen, int page) {
    static const char *const menus[] = {"mnuFolhaDados", "mnuFormulario", "mnuControle"};
    if (!screen || page < 0 || page > 2)
        return false;
    auto *pages = screen->findChild<QTabWidget *>(u"pgcPadrao"_s);
    if (!pages)
        return false;
    // The screen's menu runs its page handlers, as a person choosing the page would.
    if (auto *action = screen->findChild<QAction *>(QString::fromLatin1(menus[page]));
        action && action->isEnabled())
        action->trigger();
    if (pages->currentIndex() != page) // an empty table keeps its pages disabled: show it anyway
        pages->setCurrentIndex(page);
    return pages->currentIndex() == page;
}

int HostApplication::RunList() {
    QWidget *screen = OpenParamContab();
    Settle();
    if (!screen) {
        std::fprintf(stderr, "ger-host: a tela de parâmetros não abriu.\n");
        return 1;
    }
    const QStringList lines = GridLines(screen);
    for (const QString &line : lines)
        std::printf("%s\n", line.toUtf8().constData());
    std::fflush(stdout);
    return m_host->FailureCount() == 0 ? 0 : 1;
}

// The bulk screen is modal: its toolbar button does not return while it is open, so the picture
// is taken from inside its event loop, and closing it ends the run as a person's close would.
int HostApplication::ShootBulkScreen(QWidget *screen) {
    auto *button = screen->findChild<TToolButton *>(u"sbtCadAuto"_s);
    if (!button) {
        std::fprintf(stderr, "ger-host: a tela de parâmetros não tem o botão sbtCadAuto.\n");
        return 1;
    }
    bool saved = false, opened = false;
    QTimer::singleShot(200, screen, [&] {
        QWidget *dialog = QApplication::activeModalWidget();
        if (!dialog)
            return;
        opened = true;
        saved = dialog->grab().save(m_options.ScreenshotFile, "PNG");
        dialog->close();
    });
    RunGuarded([button] { button->Click(); });
    Settle();
    if (!opened) {
        std::fprintf(stderr, "ger-host: a tela de cadastramento automático não abriu.\n");
        return 1;
    }
    if (!saved) {
        std::fprintf(stderr, "ger-host: não foi possível gravar %s\n",
                     m_options.ScreenshotFile.toUtf8().constData());
        return 1;
    }
    return m_host->FailureCount() == 0 ? 0 : 1;
}

int HostApplication::RunScreenshot() {
    // The most common desktop: every column of the grid shows at the default font.
    m_window->resize(1920, 1080);
    m_window->show();
    QWidget *screen = OpenParamContab();
    Settle();
    if (!screen) {
        std::fprintf(stderr, "ger-host: a tela de parâmetros não abriu.\n");
        return 1;
    }
    if (m_options.Page == BulkScreenPage)
        return ShootBulkScreen(screen);
    if (m_options.Page == HistoryPage) {
        OpenHistory()->showMaximized();
    } else {
        SelectPage(screen, m_options.Page);
    }
    Settle();
    const QPixmap shot = m_window->grab();
    if (!shot.save(m_options.ScreenshotFile, "PNG")) {
        std::fprintf(stderr, "ger-host: não foi possível gravar %s\n",
                     m_options.ScreenshotFile.toUtf8().constData());
        return 1;
    }
    return m_host->FailureCount() == 0 ? 0 : 1;
}
