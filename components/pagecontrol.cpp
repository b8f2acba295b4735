#include "components/pagecontrol.h"

#include "components/guard.h"
#include "dataset/exceptions.h"

#include <QApplication>
#include <QMouseEvent>
#include <QStackedWidget>
#include <QTabBar>

TPageControl::TPageControl(QWidget *parent)
    : QTabWidget(parent) {
    setFocusPolicy(Qt::NoFocus);
    tabBar()->setFocusPolicy(Qt::NoFocus);
    tabBar()->installEventFilter(this);
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
    // A page chosen from code hides the field in front just as a tab click does: the field's
    // exit runs first, and one that refuses abandons the handler that chose the page, leaving
    // the page and the focus where the exit put them.
    QWidget *const field = QApplication::focusWidget();
    const bool leaving =
        page && page != currentWidget() && field && field != tabBar() && isAncestorOf(field);
    if (leaving && !LeaveFocusedField())
        Abort();
    m_fromCode = true;
    setCurrentWidget(page);
    m_fromCode = false;
    // The focus was in the page that went: it goes into the new one, where Qt itself would have
    // put it, unless the exit placed it elsewhere.
    if (leaving && QApplication::focusWidget() == tabBar())
        FocusInto(page);
}

void TPageControl::FocusInto(QWidget *page) {
    QWidget *target = page->focusWidget();
    for (QWidget *next = page->nextInFocusChain(); !target && next != page;
         next = next->nextInFocusChain()) {
        if (page->isAncestorOf(next) && next->isVisibleTo(page) && next->isEnabled() &&
            (next->focusPolicy() & Qt::TabFocus))
            target = next;
    }
    if (target)
        target->setFocus(Qt::OtherFocusReason);
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

void TPageControl::OnCurrentChanged(int index) {
    // Qt hides the page before it says so; a field's exit run by that hiding may choose another
    // page from inside the switch. Its choice reaches the tabs but the outer switch then shows
    // its own page: the page shown follows the tabs again, and the outer switch is no change.
    if (index != currentIndex()) {
        if (auto *stack = findChild<QStackedWidget *>();
            stack && stack->currentIndex() != currentIndex())
            stack->setCurrentIndex(currentIndex());
        return;
    }
    if (!m_fromCode && OnChange)
        RunGuarded(OnChange);
}

bool TPageControl::LeaveFocusedField() {
    QWidget *field = QApplication::focusWidget();
    if (!field || field == tabBar() || !isAncestorOf(field))
        return true;
    const int page = currentIndex();
    const int abandoned = AbandonedHandlers();
    tabBar()->setFocus(Qt::MouseFocusReason);
    if (AbandonedHandlers() == abandoned && currentIndex() == page)
        return true;
    // An exit that failed without placing the focus keeps it, as a refused exit always does. Its
    // message box may have left the window inactive: ask the window, not the application.
    if (window()->focusWidget() == tabBar() && field->isVisible() && field->isEnabled())
        field->setFocus(Qt::OtherFocusReason);
    return false;
}

bool TPageControl::eventFilter(QObject *watched, QEvent *event) {
    // Qt would switch first and move the focus into the new page after: the exit would then run
    // on a page no longer in view, and its failure could not stop the switch.
    if (watched == tabBar()) {
        if (event->type() == QEvent::MouseButtonPress) {
            const auto *press = static_cast<QMouseEvent *>(event);
            const int index = tabBar()->tabAt(press->position().toPoint());
            if (press->button() == Qt::LeftButton && index >= 0 && index != currentIndex() &&
                isTabEnabled(index) && !LeaveFocusedField())
                return true;
        } else if (event->type() == QEvent::Wheel && !LeaveFocusedField()) {
            return true;
        }
    }
    return QTabWidget::eventFilter(watched, event);
}
