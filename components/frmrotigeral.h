#pragma once

#include "components/closeaction.h"

#include "components/messages.h"
#include "components/toolbutton.h"

#include <QDialog>
#include <QGroupBox>
#include <QLabel>

// Base of the routine dialogs (parameters in, one confirm button): shown modally by the caller
// with exec(). Main area grbDadosRel; button bar panMenu/panBotoes down the right edge with the
// flat confirm button sbtConfirma (derived screens set sbtConfirma->OnClick); catalogue msgPadrao.
//
// Two-phase creation as TfrmPadrao:
//   auto *dlg = TfrmRotiGeral::Create<TfrmMyDialog>(Application());  // constructor, FormCreate
//   dlg->exec();                                                     // FormShow on first show
// Closing (close(), Esc, accept/reject/done) runs FormClose(action) once through the guard;
// base: action = caFree, so the dialog is released (deleteLater) after exec() returns.
// caNone keeps it open.
class TfrmRotiGeral : public QDialog {
    Q_OBJECT
public:
    template <class T, class... Args> static T *Create(QObject *owner, Args &&...args) {
        auto *form = new T(std::forward<Args>(args)...);
        form->Initialize(owner);
        return form;
    }

    explicit TfrmRotiGeral(QWidget *parent = nullptr);
    ~TfrmRotiGeral() override;

    void Initialize(QObject *owner); // attaches to `owner`, runs FormCreate

    QLabel *lblCodTela;
    QGroupBox *grbDadosRel;
    QWidget *panMenu;
    QWidget *panBotoes;
    TToolButton *sbtConfirma;
    TMessages *msgPadrao;

    virtual void FormCreate();
    virtual void FormShow();
    virtual void FormClose(TCloseAction &action); // base: action = caFree

    void done(int result) override;

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    bool RunClose(); // false when the close handling keeps the dialog open
    bool m_shown = false;
    bool m_closing = false;
};
