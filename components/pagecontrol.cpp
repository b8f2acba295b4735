#include "components/pagecontrol.h"

#include "components/guard.h"

#include <QTabBar>

TPageControl::TPageControl(QWidget *parent)
    : QTabWidget(parent) {
    setFocusPolicy(Qt::NoFocus);
    tabBar()->setFocusPolicy(Qt::NoFocus);
    connect(this, &QTabWidget::currentChanged, this, &TPageControl::OnCurrentChanged);
}

TPageControl::TPageControl(const QString &name, QWidget *parent)
    : TPageControl(parent) {
    setObjectName(name);
}

int TPageControl::AddPage(QWidget *page, const QString &caption) {
    // Adding the first page makes it current; that is not the user's choice.
    m_fromCode = true;
    const int index = addTab(page, caption);
    m_fromCode = false;
    return index;
}

void TPageControl::SetActivePage(QWidget *page) {
    m_fromCode = true;
    setCurrentWidget(page);
    m_fromCode = false;
}

bool TPageControl::PageEnabled(QWidget *page) const {
    const int index = indexOf(page);
    return index >= 0 && isTabEnabled(index);
}

void TPageControl::SetPageEnabled(QWidget *page, bool enabled) {
    const int index = indexOf(page);
    if (index < 0)
        return;
    // Qt moves off a disabled current tab by itself; that move is not the user's.
    m_fromCode = true;
    const int current = currentIndex();
    setTabEnabled(index, enabled);
    if (currentIndex() != current)
        setCurrentIndex(current);
    m_fromCode = false;
    page->setEnabled(enabled);
}

void TPageControl::OnCurrentChanged() {
    if (!m_fromCode && OnChange)
        RunGuarded(OnChange);
}
