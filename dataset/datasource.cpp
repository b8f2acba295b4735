#include "datasource.h"

TDataSource::TDataSource(QObject *parent)
    : QObject(parent) {}

void TDataSource::SetDataSet(TClientDataSet *dataSet) {
    if (m_dataSet == dataSet)
        return;
    for (QMetaObject::Connection &connection : m_connections)
        disconnect(connection);
    m_dataSet = dataSet;
    if (dataSet) {
        m_connections[0] = connect(dataSet, &TClientDataSet::stateChanged, this, [this] {
            Q_EMIT stateChanged();
            if (OnStateChange)
                OnStateChange(*this);
        });
        m_connections[1] =
            connect(dataSet, &TClientDataSet::dataChanged, this, [this](TField *field) {
                if (!m_enabled)
                    return;
                Q_EMIT dataChanged(field);
                if (OnDataChange)
                    OnDataChange(*this, field);
            });
        m_connections[2] = connect(dataSet, &TClientDataSet::updateRecord, this, [this] {
            if (m_enabled)
                Q_EMIT updateData();
        });
    }
    // Bound controls re-read state and row of the table they now show.
    AnnounceAll();
}

TDataSetState TDataSource::State() const {
    if (!m_dataSet || !m_enabled)
        return TDataSetState::Inactive;
    return m_dataSet->State();
}

void TDataSource::SetEnabled(bool enabled) {
    if (m_enabled == enabled)
        return;
    m_enabled = enabled;
    AnnounceAll();
}

void TDataSource::AnnounceAll() {
    Q_EMIT stateChanged();
    if (OnStateChange)
        OnStateChange(*this);
    if (m_enabled) {
        Q_EMIT dataChanged(nullptr);
        if (OnDataChange)
            OnDataChange(*this, nullptr);
    }
}
