#pragma once

#include <QTabWidget>

#include <functional>

// Page control. OnChange (guarded) fires only when the USER picks a page (tab click or keys);
// SetActivePage from code never fires it. A disabled page's tab cannot be chosen by the user,
// and its content is disabled too.
class TPageControl final : public QTabWidget {
    Q_OBJECT
public:
    explicit TPageControl(QWidget *parent = nullptr);
    TPageControl(const QString &name, QWidget *parent);

    QWidget *ActivePage() const { return currentWidget(); }
    void SetActivePage(QWidget *page); // no OnChange
    int AddPage(QWidget *page, const QString &caption);

    bool PageEnabled(QWidget *page) const;
    void SetPageEnabled(QWidget *page, bool enabled);

    std::function<void()> OnChange;

private:
    void OnCurrentChanged();
    bool m_fromCode = false;
};
