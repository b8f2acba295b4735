#pragma once

#include "dataset/datetime.h"

#include <QColor>
#include <QLineEdit>
#include <QStringList>

#include <functional>

// Masked date edit. Shows and takes "dd/mm/yyyy", or "mm/yyyy" when ShowDia is off (then a typed
// date is the first of its month). No digit typed means no date: Text() is "", GetDate gives 0
// and SetDate(0) empties the edit, so GetDate -> SetDate keeps an empty edit empty. Dates never go
// through the system locale.
class TDateEditPlus : public QLineEdit {
    Q_OBJECT
public:
    enum TEditStyle { desNormal, desUpDown }; // desUpDown: Up/Down keys step the month

    explicit TDateEditPlus(QWidget *parent = nullptr);
    TDateEditPlus(const QString &name, QWidget *parent);

    bool ShowDia() const { return m_showDia; }
    void SetShowDia(bool show); // keeps the date shown (a hidden day becomes the 1st)
    bool SaveTime() const { return m_saveTime; }
    void SetSaveTime(bool save) { m_saveTime = save; } // false: SetDate drops the time of day
    TEditStyle EditStyle() const { return m_editStyle; }
    void SetEditStyle(TEditStyle style) { m_editStyle = style; }
    QColor ValidDateColor() const { return m_validDateColor; }
    void SetValidDateColor(const QColor &color); // text colour while the text is a valid date
    QString Hint() const { return toolTip(); }
    void SetHint(const QString &hint) { setToolTip(hint); }
    void SetColor(const QColor &background); // background colour of the edit

    // Weekday names, Sunday first (7 names). While ShowDia is on and the text is a date, the
    // name of its weekday is shown as the edit's status tip and by WeekDayText().
    void SetWeekDays(const QStringList &names);
    const QStringList &WeekDays() const { return m_weekDays; }
    QString WeekDayText() const; // "" when no date or no names

    bool IsEmpty() const; // no digit typed
    // The text as a screen reads it: "" for an empty edit, whose raw text still holds the mask's
    // separators ("//", or "/" when the day is hidden).
    QString Text() const;
    bool IsDate() const;                  // the text is a whole date ("" is none)
    TDateTime GetDate() const;            // 0 when empty or when the text is no date
    virtual void SetDate(TDateTime date); // 0 empties the text
    TDateTime GetPrimDia() const;         // first day of the shown date's month (0 when empty)
    TDateTime GetUltDia() const;          // last day of that month (0 when empty)

    // Throws EUserError "'31/02/2024' não é uma data válida." when the text is neither empty nor
    // a date. Also marks the text as checked for the colour.
    void CheckValidDate() const;

    // Focus left the edit. The signal and OnExit both fire; OnExit runs through the guard.
    std::function<void()> OnExit;
Q_SIGNALS:
    void Exit();

protected:
    void focusOutEvent(QFocusEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    // Bound subclass hook: the user is about to change the text (first keystroke).
    virtual bool BeforeUserEdit() { return true; }
    // The day display was switched; `shown` is the date shown before. Bound edits reload.
    virtual void ShowDiaChanged(TDateTime shown);
    // Shows the date (0: empty) without writing anywhere. Text that is already shown is left as it
    // is, so that the cursor and the selection survive a reload of the same value.
    void DisplayDate(TDateTime date);
    // While the text is still what DisplayDate put there, GetDate gives the date it was given,
    // day included, even when the day is hidden (a bound edit keeps its field's day).
    void SetKeepsShownDate(bool keep) { m_keepsShownDate = keep; }
    // The text differs from what DisplayDate last showed (typed, pasted or set from code).
    bool TextChangedSinceShown() const { return Text() != m_lastText; }
    void ApplyMask();
    void RefreshLook();

private:
    bool m_showDia = true;
    bool m_saveTime = false;
    bool m_keepsShownDate = false;
    TEditStyle m_editStyle = desNormal;
    QColor m_validDateColor;
    QStringList m_weekDays;
    QColor m_background;
    TDateTime m_lastDate = 0; // with its time of day, for SaveTime
    QString m_lastText;
};
