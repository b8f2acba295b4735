#pragma once

#include <QSqlDatabase>
#include <QString>
#include <QStringList>

#include <exception>

class QWidget;
class TNetConnection;

// The dynamic property of a screen that holds its help context, so the host's F1 finds the help
// of whichever screen is in front without knowing its class.
inline constexpr char HelpContextProperty[] = "helpContext";

enum class TMsgDlgType { mtWarning, mtError, mtInformation, mtConfirmation };

// Buttons of a message box (a set, or-ed) and the button pressed.
enum TMsgDlgBtn { mbYes = 1, mbNo = 2, mbOK = 4, mbCancel = 8 };
enum TModalResult { mrNone = 0, mrOk = 1, mrCancel = 2, mrYes = 6, mrNo = 7 };

// Everything a screen needs of the desktop host, registered once by the host (or by a test).
// The shared helpers (WebURL, Operador, the dialogs, the busy indicator, help) all reach the host
// through this one interface.
class IHost {
public:
    virtual ~IHost() = default;

    virtual QWidget *MainForm() = 0;           // parent of the screens; may be nullptr in tests
    virtual void ShowChild(QWidget *form) = 0; // a child window of the main form, non-modal

    // Every message box of the product goes through here. Returns a TModalResult.
    virtual int MessageDlg(const QString &text, TMsgDlgType type, int buttons, int helpContext) = 0;
    // The same box with a longer text the user can unfold; a host that cannot show it shows the
    // box alone.
    virtual int MessageDlgDetalhes(const QString &text, const QString &details, TMsgDlgType type,
                                   int buttons, int helpContext) {
        Q_UNUSED(details);
        return MessageDlg(text, type, buttons, helpContext);
    }

    // Busy indicator over the main form; kind 6 while loading, 1 while saving. Hide is harmless
    // when nothing is shown.
    virtual void ShowBusy(int kind, const QString &text) = 0;
    virtual void HideBusy() = 0;

    virtual void ShowHelp(const QString &helpFile, int context) = 0;

    // Context.
    virtual QString WebURL() = 0;
    virtual int WebPort() = 0;
    virtual QString Operador() = 0;
    virtual void AtualizaLocalCache(const QStringList &tables) = 0;
    virtual QSqlDatabase LocalDatabase() = 0; // the connection of dtmDBGeral

    // The host's general error handler: restores the cursor and shows the failure.
    virtual void HandleException(const std::exception &error) = 0;

    // What a connection to the server needs beyond its address: TLS and its trusted
    // certificates, the bearer token. Runs before every connect; a host without either leaves
    // the connection as it is.
    virtual void PrepareConnection(TNetConnection &connection) { Q_UNUSED(connection); }
};

void RegisterHost(IHost *host); // nullptr unregisters
IHost *Host();                  // the registered host; throws when none is registered
