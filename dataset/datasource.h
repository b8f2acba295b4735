#pragma once

#include "clientdataset.h"

#include <QObject>
#include <QPointer>

#include <functional>

// Ties bound controls and the screen to a table: relays its state and data changes, and the
// notice that asks every bound control to write its value before a post.
class TDataSource final : public QObject {
    Q_OBJECT
public:
    explicit TDataSource(QObject *parent = nullptr);

    TClientDataSet *DataSet() const { return m_dataSet; }
    void SetDataSet(TClientDataSet *dataSet);
    TDataSetState State() const; // Inactive without a table
    bool Enabled() const { return m_enabled; }
    void SetEnabled(bool enabled);

    std::function<void(TDataSource &sender)> OnStateChange;
    std::function<void(TDataSource &sender, TField *field)> OnDataChange;

Q_SIGNALS:
    void stateChanged();
    void dataChanged(TField *field);
    void updateData();

private:
    void AnnounceAll(); // new state, and the whole row changed (while enabled)

    QPointer<TClientDataSet> m_dataSet;
    QMetaObject::Connection m_connections[3];
    bool m_enabled = true;
};
