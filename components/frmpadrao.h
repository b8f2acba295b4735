#pragma once

#include "hostinterface.h"

#include "components/closeaction.h"

#include "components/dbgrid.h"
#include "components/dbnavigator.h"
#include "components/dbtext.h"
#include "components/menuitem.h"
#include "components/messages.h"
#include "components/pagecontrol.h"
#include "components/toolbutton.h"
#include "dataset/datasource.h"

#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QWidget>

class QHBoxLayout;

// Base of the record-maintenance screens: a child window of the host (shown with
// Host()->ShowChild) with a toolbar, an operations menu, a page control whose first page is a
// grid over dtsPadrao, a navigator panel and a standard message catalogue.
//
// Creation is two-phase because the base constructor must not call virtuals:
//   auto *screen = TfrmPadrao::Create<TfrmMyScreen>(Application());
//     1. TfrmMyScreen's constructor runs (base members exist; it adds pages, buttons, tables);
//     2. the form is given to its owner;
//     3. Initialize() runs FormCreate() (the derived override, which calls the base first).
//   A failure in FormCreate releases the form and travels on to the caller of Create.
// Later: FormShow() on the first show, FormActivate() whenever the window becomes active (inside
// an MDI area: whenever its frame is activated),
// FormClose(action) from the close event. All of them, every toolbar click, menu trigger and
// state change of dtsPadrao run through the handler guard.
//
// Base state handling (dtsPadraoStateChange), by the state of dtsPadrao:
//   Edit/Insert: sbtConfirmar, sbtCancelar (+ menus) enabled; sbtIncluir, the four record
//                buttons (+ menus), dbnPadrao disabled.
//   Browse:      sbtConfirmar, sbtCancelar (+ menus) disabled; sbtIncluir enabled; the four record
//                buttons (+ menus) and sbtImprimir, mnuListagem enabled when the table has rows;
//                dbnPadrao enabled.
//   Inactive:    all of the above disabled.
// The four record buttons (sbtAlterar, sbtExcluir, sbtLocalizar, sbtVerificar) always move
// together. Menu items take the state of their buttons.
// The browse-only control is dbnPadrao.
class TfrmPadrao : public QWidget {
    Q_OBJECT
public:
    template <class T, class... Args> static T *Create(QObject *owner, Args &&...args) {
        auto *form = new T(std::forward<Args>(args)...);
        form->Initialize(owner);
        return form;
    }

    explicit TfrmPadrao(QWidget *parent = nullptr);
    ~TfrmPadrao() override;

    // Runs after the derived constructor: attaches to `owner` (may be nullptr) and runs
    // FormCreate. Create() calls it; call it yourself only when constructing by hand.
    void Initialize(QObject *owner);

    // Where a derived screen adds its own parts.
    void InsertToolButton(TToolButton *button); // before sbtImprimir, after earlier insertions
    void InsertOperacaoItem(TMenuItem *item);   // after mnuFormulario (and earlier insertions)
    int AddPage(QWidget *page, const QString &caption);

    bool KeyHandlingEnabled() const { return m_keyHandling; }
    void SetKeyHandlingEnabled(bool on) { m_keyHandling = on; } // Enter -> next field, Esc
    bool NavigatePopupEnabled() const { return m_navigatePopup; }
    void SetNavigatePopupEnabled(bool on); // pmnNavegar items act on dtsPadrao's table

    QString HelpFile() const { return m_helpFile; }
    void SetHelpFile(const QString &file) { m_helpFile = file; }
    int HelpContext() const { return m_helpContext; }
    void SetHelpContext(int context) {
        m_helpContext = context;
        setProperty(HelpContextProperty, context);
    }

    // Members (objectName = member name).
    QLabel *lblCodTela;
    QWidget *panMenu;
    TToolButton *sbtIncluir;
    TToolButton *sbtAlterar;
    TToolButton *sbtExcluir;
    TToolButton *sbtLocalizar;
    TToolButton *sbtVerificar;
    TToolButton *sbtConfirmar;
    TToolButton *sbtCancelar;
    TToolButton *sbtImprimir;
    TToolButton *sbtAjuda;
    TToolButton *sbtFechar;
    QMenuBar *mnuMenu;
    QMenu *mnuOperacao;
    TMenuItem *mnuFolhaDados;
    TMenuItem *mnuFormulario;
    TMenuItem *mnuIncluir;
    TMenuItem *mnuAlterar;
    TMenuItem *mnuExcluir;
    TMenuItem *mnuLocalizar;
    TMenuItem *mnuVerificar;
    TMenuItem *mnuConfirmar;
    TMenuItem *mnuCancelar;
    TMenuItem *mnuListagem;
    TMenuItem *mnuConfigImpressora;
    TPageControl *pgcPadrao;
    QWidget *tshFolhaDados;
    TDBGrid *dbgPadrao;
    QWidget *panNavigator;
    TDBText *dbtNome;
    TDBNavigator *dbnPadrao;
    TDataSource *dtsPadrao;
    QMenu *pmnNavegar;
    TMenuItem *Primeiro1;
    TMenuItem *Anterior1;
    TMenuItem *Proximo1;
    TMenuItem *Ultimo1;
    TMessages *msgMensagensPadroes;

    // Handlers. A derived screen overrides and calls the base one first.
    virtual void FormCreate();
    virtual void FormShow();
    virtual void FormActivate();
    virtual void FormClose(TCloseAction &action); // base: action = caFree
    virtual void dtsPadraoStateChange();          // base state handling (above)
    virtual void sbtIncluirClick();               // Insert on dtsPadrao's table
    virtual void sbtAlterarClick();               // Edit, then the form page in front
    virtual void sbtExcluirClick();               // "Excl" confirmation, then Delete
    virtual void sbtLocalizarClick();             // nothing
    virtual void sbtVerificarClick();             // nothing (the screen reloads its data)
    virtual void sbtConfirmarClick();             // Post
    virtual void sbtCancelarClick();              // "Canc" confirmation, then Cancel
    virtual void sbtImprimirClick();              // nothing
    virtual void sbtAjudaClick();                 // host help at HelpFile / HelpContext
    virtual void sbtFecharClick();                // close()

protected:
    // Brings the first form page (the one after the list) forward when the list is in front, and
    // runs the page control's change handler as a user's choice would.
    void ShowFormPage();
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void changeEvent(QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;

private:
    QHBoxLayout *m_toolLayout = nullptr;
    QMetaObject::Connection m_frameActivation;
    int m_insertedButtons = 0;
    int m_insertedItems = 0;
    bool m_shown = false;
    bool m_keyHandling = false;
    bool m_navigatePopup = false;
    QString m_helpFile;
    int m_helpContext = 0;
};
