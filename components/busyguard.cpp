#include "components/busyguard.h"

#include "components/functions.h"

BusyGuard::BusyGuard(QWidget *mainForm, int kind, const QString &text) {
    ActiveShowAvi(mainForm, kind, text);
}

BusyGuard::~BusyGuard() {
    Release();
}

void BusyGuard::Release() {
    if (!m_active)
        return;
    m_active = false;
    try {
        DeactiveShowAvi();
    } catch (...) {
        // A destructor must not throw; a missing host has nothing to hide.
    }
}

CursorGuard::CursorGuard() {
    SetCursorHourglass();
}

CursorGuard::~CursorGuard() {
    SetCursorDefault();
}
