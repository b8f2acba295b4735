#pragma once

#include <QAction>

#include <functional>

// Menu item: a QAction with a name. A user trigger runs OnClick through the guard; Click() runs
// OnClick directly (even when disabled; failures travel to the caller). The tick follows
// Checked/SetChecked (the action is checkable).
class TMenuItem final : public QAction {
    Q_OBJECT
public:
    TMenuItem(const QString &name, const QString &caption, QObject *parent);

    std::function<void()> OnClick;
    void Click();

    bool Checked() const { return isChecked(); }
    void SetChecked(bool checked) { setChecked(checked); }
    bool Enabled() const { return isEnabled(); }
    void SetEnabled(bool enabled) { setEnabled(enabled); }
};
