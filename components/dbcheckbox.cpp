#include "components/dbcheckbox.h"

#include "components/guard.h"
#include "dataset/datasource.h"

namespace {
bool Editing(const TDataSource *source) {
    return source &&
           (source->State() == TDataSetState::Edit || source->State() == TDataSetState::Insert);
}
} // namespace

TDBCheckBox::TDBCheckBox(QWidget *parent)
    : QCheckBox(parent) {
    connect(this, &QCheckBox::toggled, this, [this] {
        m_null = false;
        RunGuarded([this] { UpdateRecord(); });
    });
}

TDBCheckBox::TDBCheckBox(const QString &name, const QString &caption, QWidget *parent)
    : TDBCheckBox(parent) {
    setObjectName(name);
    setText(caption);
}

TDataSource *TDBCheckBox::DataSource() const {
    return m_dataSource;
}

void TDBCheckBox::SetDataSource(TDataSource *source) {
    m_dataSource = source;
    Rebind();
}

void TDBCheckBox::SetDataField(const QString &fieldName) {
    m_dataField = fieldName;
    Reload();
}

TField *TDBCheckBox::Field() const {
    if (!m_dataSource || !m_dataSource->DataSet() || !m_dataSource->DataSet()->Active() ||
        m_dataField.isEmpty())
        return nullptr;
    return m_dataSource->DataSet()->FindField(m_dataField);
}

void TDBCheckBox::Rebind() {
    for (auto &connection : m_connections)
        disconnect(connection);
    if (m_dataSource) {
        m_connections[0] =
            connect(m_dataSource, &TDataSource::dataChanged, this, [this](TField *field) {
                if (!field || field == Field())
                    Reload();
            });
        m_connections[1] =
            connect(m_dataSource, &TDataSource::stateChanged, this, &TDBCheckBox::Reload);
        m_connections[2] =
            connect(m_dataSource, &TDataSource::updateData, this, &TDBCheckBox::UpdateRecord);
    }
    Reload();
}

void TDBCheckBox::Reload() {
    TField *field = Field();
    m_null = !field || field->IsNull();
    const bool checked = field && field->AsString() == m_valueChecked;
    if (checked != isChecked()) {
        const QSignalBlocker blocker(this);
        setChecked(checked);
        update();
    }
}

void TDBCheckBox::UpdateRecord() {
    TField *field = Field();
    if (!field || !Editing(m_dataSource) || m_null)
        return;
    const QString value = isChecked() ? m_valueChecked : m_valueUnchecked;
    if (field->IsNull() || field->AsString() != value)
        field->SetAsString(value);
}

void TDBCheckBox::nextCheckState() {
    if (m_dataSource) {
        bool allowed = false;
        RunGuarded([&] {
            if (!Field())
                return;
            if (m_dataSource->State() == TDataSetState::Browse)
                m_dataSource->DataSet()->Edit();
            allowed = Editing(m_dataSource);
        });
        if (!allowed)
            return;
    }
    QCheckBox::nextCheckState();
}
