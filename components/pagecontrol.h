#pragma once

#include <QTabWidget>

#include <functional>

// Page control. OnChange (guarded) fires only when the USER picks a page (tab click or keys);
// SetActivePage from code never fires it. A disabled page's tab cannot be chosen by the user,
// and its content is disabled too.
// A tab click (or the wheel over the tabs), or a page chosen from code, first takes the focus from
// the field in the pages, as a page control that takes the focus would: the field's exit runs
// before the page changes, and an exit that fails cancels the change and leaves the page and the
// focus where it put them.
class TPageControl final : public QTabWidget {
    Q_OBJECT
public:
    explicit TPageControl(QWidget *parent = nullptr);
    TPageControl(const QString &name, QWidget *parent);

    QWidget *ActivePage() const { return currentWidget(); }
    // No OnChange. The focused field's exit runs first; when it refuses, the change is
    // cancelled and the calling handler abandoned (silent abort: the exit said why).
    void SetActivePage(QWidget *page);
    int AddPage(QWidget *page, const QString &caption);

    bool PageEnabled(QWidget *page) const;
    void SetPageEnabled(QWidget *page, bool enabled);

    std::function<void()> OnChange;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void OnCurrentChanged(int index);
    bool LeaveFocusedField(); // false when the field's exit refused
    void FocusInto(QWidget *page);
    bool m_fromCode = false;
};
