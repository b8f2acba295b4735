#pragma once

#include "components/dateeditplus.h"
#include "components/fielddatalink.h"

class TDataSource;
class TField;

// Date edit bound to a date field of a data source. Shows the field's date value (never the
// field's OnGetText text); the first keystroke in browse state puts the table in edit. It writes
// only what changed: typed text when focus leaves it or before a post, and SetDate while the table
// is in edit or insert state; an untouched edit leaves its field alone at a post. With the day
// hidden it still holds its field's day until another month is typed, so a month-only edit never
// turns 31/12 into 01/12 by itself. Empty text writes no value (null).
class TDBDateEditPlus final : public TDateEditPlus {
    Q_OBJECT
public:
    explicit TDBDateEditPlus(QWidget *parent = nullptr);
    TDBDateEditPlus(const QString &name, QWidget *parent);

    TDataSource *DataSource() const { return m_link.DataSource(); }
    void SetDataSource(TDataSource *source) { m_link.SetDataSource(source); }
    QString DataField() const { return m_link.DataField(); }
    void SetDataField(const QString &fieldName) { m_link.SetDataField(fieldName); }
    TField *Field() const { return m_link.Field(); } // nullptr when unbound, closed, or no field

    void SetDate(TDateTime date) override; // also writes the field in edit/insert state
    void UpdateRecord(); // writes the shown date into the field (edit/insert only)

protected:
    void focusOutEvent(QFocusEvent *event) override;
    bool BeforeUserEdit() override;
    void ShowDiaChanged(TDateTime shown) override;

private:
    void Reload();
    void WriteTyped();

    TFieldDataLink m_link;
};
