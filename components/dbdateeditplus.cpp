#include "components/dbdateeditplus.h"

#include "components/guard.h"
#include "dataset/datasource.h"
#include "dataset/exceptions.h"

#include <QFocusEvent>

TDBDateEditPlus::TDBDateEditPlus(QWidget *parent)
    : TDateEditPlus(parent)
    , m_link(
          this, [this] { Reload(); }, [this] { WriteTyped(); }) {
    SetKeepsShownDate(true);
}

TDBDateEditPlus::TDBDateEditPlus(const QString &name, QWidget *parent)
    : TDBDateEditPlus(parent) {
    setObjectName(name);
}

void TDBDateEditPlus::WriteTyped() {
    // Before a post: only text that changed since the field was shown; SetDate wrote already.
    if (TextChangedSinceShown())
        UpdateRecord();
}

void TDBDateEditPlus::Reload() {
    if (m_link.Loading())
        return;
    const TFieldDataLink::LoadingScope loading(m_link);
    TField *field = Field();
    DisplayDate(field && !field->IsNull() ? field->AsDateTime() : 0);
}

void TDBDateEditPlus::ShowDiaChanged(TDateTime shown) {
    // The field keeps the real day; show it rather than the day the narrower mask lost.
    if (Field() && !isModified())
        Reload();
    else
        DisplayDate(shown);
}

void TDBDateEditPlus::UpdateRecord() {
    TField *field = Field();
    if (!field || !m_link.Editing() || m_link.Loading())
        return;
    CheckValidDate();
    const bool empty = IsEmpty();
    const TDateTime date = GetDate();
    if (empty ? field->IsNull() : (!field->IsNull() && field->AsDateTime() == date))
        return;
    const TFieldDataLink::LoadingScope writing(m_link);
    if (empty)
        field->Clear();
    else
        field->SetAsDateTime(date);
}

void TDBDateEditPlus::SetDate(TDateTime date) {
    TDateEditPlus::SetDate(date);
    UpdateRecord();
}

bool TDBDateEditPlus::BeforeUserEdit() {
    if (isReadOnly())
        return false;
    if (!DataSource())
        return true; // unbound use behaves as a plain edit
    return m_link.StartEdit();
}

void TDBDateEditPlus::focusOutEvent(QFocusEvent *event) {
    if (event->reason() != Qt::ActiveWindowFocusReason && event->reason() != Qt::PopupFocusReason &&
        isModified()) {
        // Text that is no date is left for the exit handler or the post to report, once.
        bool valid = true;
        try {
            CheckValidDate();
        } catch (const Exception &) {
            valid = false;
        }
        if (valid)
            RunGuarded([this] { UpdateRecord(); });
    }
    TDateEditPlus::focusOutEvent(event);
}
