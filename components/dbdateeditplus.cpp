#include "components/dbdateeditplus.h"

#include "components/guard.h"
#include "dataset/datasource.h"
#include "dataset/exceptions.h"

#include <QFocusEvent>

namespace {
bool Editing(const TDataSource *source) {
    return source &&
           (source->State() == TDataSetState::Edit || source->State() == TDataSetState::Insert);
}
} // namespace

TDBDateEditPlus::TDBDateEditPlus(QWidget *parent)
    : TDateEditPlus(parent) {}

TDBDateEditPlus::TDBDateEditPlus(const QString &name, QWidget *parent)
    : TDateEditPlus(name, parent) {}

TDataSource *TDBDateEditPlus::DataSource() const {
    return m_dataSource;
}

void TDBDateEditPlus::SetDataSource(TDataSource *source) {
    m_dataSource = source;
    Rebind();
}

void TDBDateEditPlus::SetDataField(const QString &fieldName) {
    m_dataField = fieldName;
    Reload();
}

TField *TDBDateEditPlus::Field() const {
    if (!m_dataSource || !m_dataSource->DataSet() || !m_dataSource->DataSet()->Active() ||
        m_dataField.isEmpty())
        return nullptr;
    return m_dataSource->DataSet()->FindField(m_dataField);
}

void TDBDateEditPlus::Rebind() {
    for (auto &connection : m_connections)
        disconnect(connection);
    if (m_dataSource) {
        m_connections[0] =
            connect(m_dataSource, &TDataSource::dataChanged, this, [this](TField *field) {
                if (!field || field == Field())
                    Reload();
            });
        m_connections[1] =
            connect(m_dataSource, &TDataSource::stateChanged, this, &TDBDateEditPlus::Reload);
        m_connections[2] =
            connect(m_dataSource, &TDataSource::updateData, this, &TDBDateEditPlus::UpdateRecord);
    }
    Reload();
}

void TDBDateEditPlus::Reload() {
    if (m_loading)
        return;
    m_loading = true;
    TField *field = Field();
    DisplayDate(field && !field->IsNull() ? field->AsDateTime() : 0);
    m_loading = false;
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
    if (!field || !Editing(m_dataSource) || m_loading)
        return;
    CheckValidDate();
    const bool empty = IsEmpty();
    const TDateTime date = GetDate();
    if (empty ? field->IsNull() : (!field->IsNull() && field->AsDateTime() == date))
        return;
    m_loading = true;
    try {
        if (empty)
            field->Clear();
        else
            field->SetAsDateTime(date);
    } catch (...) {
        m_loading = false;
        throw;
    }
    m_loading = false;
}

void TDBDateEditPlus::SetDate(TDateTime date) {
    TDateEditPlus::SetDate(date);
    UpdateRecord();
}

bool TDBDateEditPlus::BeforeUserEdit() {
    if (isReadOnly())
        return false;
    if (!m_dataSource || !m_dataSource->DataSet() || !Field())
        return !m_dataSource; // unbound use behaves as a plain edit
    if (m_dataSource->State() == TDataSetState::Browse)
        m_dataSource->DataSet()->Edit();
    return Editing(m_dataSource);
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
