#pragma once

#include "components/hostinterface.h"
#include "hostoptions.h"
#include "localdatabase.h"

#include <QPointer>

#include <memory>

class BusyIndicator;
class HelpWindow;
class MainWindow;
class TNetConnection;

// The host's side of IHost: dialogs, busy indicator, help, context values and the local copies,
// over the main window. In headless runs (listing, screenshots) no box may wait for a person:
// boxes are written to stderr and answered with their safe choice instead.
class DesktopHost final : public IHost {
public:
    DesktopHost(const HostOptions &options, MainWindow *window);
    ~DesktopHost() override;

    void SetInteractive(bool on) { m_interactive = on; }
    bool Interactive() const { return m_interactive; }
    int FailureCount() const { return m_failures; }

    // Opens the local database and fills it from the server; a server that cannot be reached is
    // reported on stderr and leaves the old copies in place (the screens report it themselves).
    void StartLocalDatabase();

    QWidget *MainForm() override;
    void ShowChild(QWidget *form) override;
    int MessageDlg(const QString &text, TMsgDlgType type, int buttons, int helpContext) override;
    int MessageDlgDetalhes(const QString &text, const QString &details, TMsgDlgType type,
                           int buttons, int helpContext) override;
    void ShowBusy(int kind, const QString &text) override;
    void HideBusy() override;
    void ShowHelp(const QString &helpFile, int context) override;
    QString WebURL() override;
    int WebPort() override;
    QString Operador() override;
    void AtualizaLocalCache(const QStringList &tables) override;
    QSqlDatabase LocalDatabase() override;
    void HandleException(const std::exception &error) override;
    void PrepareConnection(TNetConnection &connection) override;

    HelpWindow *Help() const;
    // The connection to the history object, prepared as every other.
    TNetConnection &Audit();
    // "SQLite (servidor 0.1)": what the server says it runs on. Throws when it cannot be asked.
    QString ServerDescription();

private:
    HostOptions m_options;
    QPointer<MainWindow> m_window;
    BusyIndicator *m_busy = nullptr;
    QPointer<HelpWindow> m_help;
    ::LocalDatabase m_localDb;
    std::unique_ptr<TNetConnection> m_audit;
    std::unique_ptr<TNetConnection> m_cache;
    bool m_interactive = true;
    int m_failures = 0;
};
