#pragma once

#include "components/datasetmodel.h"

#include <QPointer>
#include <QTableView>

class TDataSource;

// Read-only grid over a data source's table (TDataSetModel). The selected row follows the
// table's current row, and choosing a row (click, keys) moves the table there. Columns and
// widths from SetColumns. Double click: OnDblClick (guarded).
class TDBGrid final : public QTableView {
    Q_OBJECT
public:
    explicit TDBGrid(QWidget *parent = nullptr);
    TDBGrid(const QString &name, QWidget *parent);

    TDataSource *DataSource() const;
    void SetDataSource(TDataSource *source);
    void SetColumns(const QVector<TGridColumn> &columns);
    TDataSetModel *Model() const { return m_model; }

    std::function<void()> OnDblClick;

private:
    void SyncSelection();
    void OnCurrentChanged(const QModelIndex &current);

    TDataSetModel *m_model;
    QPointer<TDataSource> m_dataSource;
    QMetaObject::Connection m_connections[2];
    bool m_syncing = false;
};
