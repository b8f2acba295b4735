#pragma once

#include <QToolButton>

#include <functional>

// Toolbar button. A user click runs OnClick through the guard. Click() runs OnClick directly, even
// when the button is disabled, emits no signal, and lets failures travel to the caller (a click
// "from code" belongs to the handler that makes it).
class TToolButton : public QToolButton {
    Q_OBJECT
public:
    explicit TToolButton(QWidget *parent = nullptr);
    TToolButton(const QString &name, const QString &caption, QWidget *parent);

    std::function<void()> OnClick;
    void Click();

    QString Caption() const { return text(); }
    void SetCaption(const QString &caption) { setText(caption); }
    QString Hint() const { return toolTip(); }
    void SetHint(const QString &hint) { setToolTip(hint); }
    void SetFlat(bool flat) { setAutoRaise(flat); }
};
