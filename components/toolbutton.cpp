#include "components/toolbutton.h"

#include "components/guard.h"

TToolButton::TToolButton(QWidget *parent)
    : QToolButton(parent) {
    setFocusPolicy(Qt::NoFocus); // a toolbar click must not trigger the field's exit handler
    setToolButtonStyle(Qt::ToolButtonTextOnly);
    connect(this, &QToolButton::clicked, this, [this] {
        if (OnClick)
            RunGuarded(OnClick);
    });
}

TToolButton::TToolButton(const QString &name, const QString &caption, QWidget *parent)
    : TToolButton(parent) {
    setObjectName(name);
    setText(caption);
}

void TToolButton::Click() {
    if (OnClick)
        OnClick();
}
