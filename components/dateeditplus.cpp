#include "components/dateeditplus.h"

#include "components/errors.h"
#include "components/fielddatalink.h"
#include "components/guard.h"

#include <QFocusEvent>
#include <QKeyEvent>
#include <QPalette>

using namespace Qt::StringLiterals;

namespace {

bool HasDigit(const QString &text) {
    for (const QChar c : text)
        if (c.isDigit())
            return true;
    return false;
}

} // namespace

TDateEditPlus::TDateEditPlus(QWidget *parent)
    : QLineEdit(parent) {
    ApplyMask();
    connect(this, &QLineEdit::textChanged, this, &TDateEditPlus::RefreshLook);
}

TDateEditPlus::TDateEditPlus(const QString &name, QWidget *parent)
    : TDateEditPlus(parent) {
    setObjectName(name);
}

void TDateEditPlus::ApplyMask() {
    setInputMask(m_showDia ? u"99/99/9999;_"_s : u"99/9999;_"_s);
}

void TDateEditPlus::SetShowDia(bool show) {
    if (show == m_showDia)
        return;
    const TDateTime shown = GetDate();
    m_showDia = show;
    ApplyMask();
    ShowDiaChanged(shown);
}

void TDateEditPlus::ShowDiaChanged(TDateTime shown) {
    DisplayDate(shown);
}

void TDateEditPlus::SetValidDateColor(const QColor &color) {
    m_validDateColor = color;
    RefreshLook();
}

void TDateEditPlus::SetColor(const QColor &background) {
    m_background = background;
    RefreshLook();
}

void TDateEditPlus::SetWeekDays(const QStringList &names) {
    m_weekDays = names;
    RefreshLook();
}

QString TDateEditPlus::WeekDayText() const {
    if (!m_showDia || m_weekDays.size() != 7 || IsEmpty())
        return {};
    const auto date = DateTimeUtil::ParseDate(text());
    if (!date)
        return {};
    return m_weekDays.at(DateTimeUtil::ToQDate(*date).dayOfWeek() % 7); // Sunday first
}

void TDateEditPlus::RefreshLook() {
    QPalette look = palette();
    const QPalette standard;
    look.setColor(QPalette::Base,
                  m_background.isValid() ? m_background : standard.color(QPalette::Base));
    look.setColor(QPalette::Text, IsDate() && m_validDateColor.isValid()
                                      ? m_validDateColor
                                      : standard.color(QPalette::Text));
    setPalette(look);
    setStatusTip(WeekDayText());
}

bool TDateEditPlus::IsEmpty() const {
    return !HasDigit(text());
}

bool TDateEditPlus::IsDate() const {
    if (IsEmpty())
        return false;
    return m_showDia ? DateTimeUtil::ParseDate(text()).has_value()
                     : DateTimeUtil::ParseMonthYear(text()).has_value();
}

QString TDateEditPlus::Text() const {
    return IsEmpty() ? QString() : text();
}

TDateTime TDateEditPlus::GetDate() const {
    if (IsEmpty())
        return 0;
    if ((m_saveTime || m_keepsShownDate) && text() == m_lastText)
        return m_lastDate;
    const auto date =
        m_showDia ? DateTimeUtil::ParseDate(text()) : DateTimeUtil::ParseMonthYear(text());
    return date.value_or(0);
}

void TDateEditPlus::DisplayDate(TDateTime date) {
    if (!m_saveTime)
        date = DateTimeUtil::Trunc(date);
    if (date <= 0) {
        if (!IsEmpty())
            clear();
        m_lastDate = 0;
        m_lastText.clear();
        return;
    }
    const QString shown =
        m_showDia ? DateTimeUtil::FormatDate(date) : DateTimeUtil::FormatMonthYear(date);
    if (shown != text())
        setText(shown);
    m_lastDate = date;
    m_lastText = text();
}

void TDateEditPlus::SetDate(TDateTime date) {
    DisplayDate(date);
}

TDateTime TDateEditPlus::GetPrimDia() const {
    const TDateTime date = GetDate();
    return date > 0 ? DateTimeUtil::FirstDayOfMonth(date) : 0;
}

TDateTime TDateEditPlus::GetUltDia() const {
    const TDateTime date = GetDate();
    return date > 0 ? DateTimeUtil::LastDayOfMonth(date) : 0;
}

void TDateEditPlus::CheckValidDate() const {
    if (!IsEmpty() && !IsDate())
        throw EUserError(u"'%1' não é uma data válida."_s.arg(text()));
}

void TDateEditPlus::focusOutEvent(QFocusEvent *event) {
    QLineEdit::focusOutEvent(event);
    // Leaving the window (a message box, another application) is not leaving the field.
    if (event->reason() == Qt::ActiveWindowFocusReason || event->reason() == Qt::PopupFocusReason)
        return;
    Q_EMIT Exit();
    if (OnExit)
        RunGuarded(OnExit);
}

void TDateEditPlus::keyPressEvent(QKeyEvent *event) {
    const bool step =
        m_editStyle == desUpDown && (event->key() == Qt::Key_Up || event->key() == Qt::Key_Down);
    if (step || TFieldDataLink::IsEditingKey(event)) {
        bool allowed = false;
        RunGuarded([&] { allowed = BeforeUserEdit(); });
        if (!allowed) {
            event->accept();
            return;
        }
    }
    if (step) {
        const TDateTime date = GetDate();
        if (date > 0) {
            const QDate moved =
                DateTimeUtil::ToQDate(date).addMonths(event->key() == Qt::Key_Up ? 1 : -1);
            RunGuarded([&] { SetDate(DateTimeUtil::FromQDate(moved)); });
        }
        event->accept();
        return;
    }
    QLineEdit::keyPressEvent(event);
}
