#include "components/dbtext.h"

#include "dataset/datasource.h"

TDBText::TDBText(QWidget *parent)
    : QLabel(parent) {}

TDBText::TDBText(const QString &name, QWidget *parent)
    : QLabel(parent) {
    setObjectName(name);
}

TDataSource *TDBText::DataSource() const {
    return m_dataSource;
}

void TDBText::SetDataSource(TDataSource *source) {
    m_dataSource = source;
    Rebind();
}

void TDBText::SetDataField(const QString &fieldName) {
    m_dataField = fieldName;
    Reload();
}

void TDBText::Rebind() {
    for (auto &connection : m_connections)
        disconnect(connection);
    if (m_dataSource) {
        m_connections[0] = connect(m_dataSource, &TDataSource::dataChanged, this, &TDBText::Reload);
        m_connections[1] =
            connect(m_dataSource, &TDataSource::stateChanged, this, &TDBText::Reload);
    }
    Reload();
}

void TDBText::Reload() {
    TClientDataSet *table = m_dataSource ? m_dataSource->DataSet() : nullptr;
    TField *field = table && table->Active() && !m_dataField.isEmpty()
                        ? table->FindField(m_dataField)
                        : nullptr;
    setText(field && !table->IsEmpty() ? field->DisplayText() : QString());
}
