#include "pkg_ger09400.h"

#include "components/application.h"
#include "components/functions.h"
#include "components/hostinterface.h"
#include "param_screen/frmparamcontab.h"

#include <QMdiSubWindow>

extern "C" {
TfrmParamContab *frmParamContab = nullptr;
bool bostCriado = false;
TfrmCadAuto *frmCadAuto = nullptr;
QString stEmpresa;
}

namespace {

// Use counters of the package's units, in load order.
int cliGer09400Uses = 0;
int cliGer09410Uses = 0;

void CliGer09400Initialization() {
    if (cliGer09400Uses++ == 0)
        bostCriado = false;
}

void CliGer09400Finalization() {
    if (cliGer09400Uses > 0)
        --cliGer09400Uses;
}

void CliGer09410Initialization() {
    ++cliGer09410Uses;
}

void CliGer09410Finalization() {
    if (cliGer09410Uses > 0 && --cliGer09410Uses == 0)
        stEmpresa.clear();
}

// A minimised or maximised screen comes back at its normal size. Inside the host's MDI area the
// state belongs to the child window's frame.
void ShowNormalState(QWidget *form) {
    if (auto *frame = qobject_cast<QMdiSubWindow *>(form->parentWidget())) {
        if (frame->isMinimized() || frame->isMaximized())
            frame->showNormal();
    }
    form->setWindowState(Qt::WindowNoState);
}

} // namespace

extern "C" {

void CriaParamCtbl() {
    SetCursorHourglass();
    if (!bostCriado) {
        frmParamContab = TfrmPadrao::Create<TfrmParamContab>(Application());
        bostCriado = true;
    }
    ShowNormalState(frmParamContab);
    Host()->ShowChild(frmParamContab);
    SetCursorDefault();
}

void IniProc() {
    CriaParamCtbl();
}

void Initialize() {
    CliGer09400Initialization();
    CliGer09410Initialization();
}

void Finalize() {
    CliGer09410Finalization();
    CliGer09400Finalization();
}

} // extern "C"
