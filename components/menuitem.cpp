#include "components/menuitem.h"

#include "components/guard.h"

TMenuItem::TMenuItem(const QString &name, const QString &caption, QObject *parent)
    : QAction(caption, parent) {
    setObjectName(name);
    setCheckable(true);
    connect(this, &QAction::triggered, this, [this] {
        // A trigger toggles a checkable action; the tick belongs to the handler, not to Qt.
        const QSignalBlocker blocker(this);
        setChecked(!isChecked());
        if (OnClick)
            RunGuarded(OnClick);
    });
}

void TMenuItem::Click() {
    if (OnClick)
        OnClick();
}
