#pragma once

#include "hostoptions.h"

#include <QObject>
#include <QPointer>
#include <QStringList>

#include <memory>

class DesktopHost;
class HistoryWindow;
class MainWindow;
class ModuleLoader;
class QWidget;

// Wires the shell together: main window, IHost, local database, the parameter package; runs the
// interactive session or one of the headless jobs.
class HostApplication final : public QObject {
    Q_OBJECT
public:
    explicit HostApplication(const HostOptions &options, QObject *parent = nullptr);
    ~HostApplication() override;

    // Registers the host, opens the local copies. Call once, after QApplication exists.
    void Start();
    // Menu entry: loads the package when needed and calls its entry procedure. Whatever escapes
    // the procedure goes to the host's general error handling. Returns the screen, or nullptr.
    QWidget *OpenParamContab();
    // Closes every screen, finalises and unloads the package, unregisters the host.
    void Shutdown();

    // Qt's own texts in Brazilian Portuguese ("Sim", "Não" on message boxes). False when the
    // translation is not installed on this machine.
    static bool InstallTranslations();

    // Headless jobs; both return the process exit code.
    int RunList();
    int RunHistory();
    // Main menu: the history window, on the parameter screen's current company when that
    // screen is open (all companies otherwise), searched at once.
    HistoryWindow *OpenHistory();
    int RunScreenshot();
    static constexpr int BulkScreenPage = 3; // --page 3: the bulk-registration screen
    static constexpr int HistoryPage = 4;    // --page 4: the history of the list's company

    // The grid of a screen as text: one line per row, cells separated by " | ".
    static QStringList GridLines(QWidget *screen);
    // Brings a page forward through the screen's own menu (0 list, 1 form, 2 controls).
    static bool SelectPage(QWidget *screen, int page);

    // The About box's text: version, server address and the database the server reports (or
    // why it could not be asked).
    QString AboutText();
    // F1: the help of the screen in front (a dialog, else the active child window), or of the
    // parameter screen when none is.
    void ShowContextHelp();

    MainWindow *Window() const { return m_window.get(); }
    DesktopHost *Host() const { return m_host.get(); }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    int ShootBulkScreen(QWidget *screen);
    HostOptions m_options;
    std::unique_ptr<MainWindow> m_window;
    std::unique_ptr<DesktopHost> m_host;
    std::unique_ptr<ModuleLoader> m_module;
    QPointer<HistoryWindow> m_history;
    bool m_started = false;
};
