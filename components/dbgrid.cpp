#include "components/dbgrid.h"

#include "components/guard.h"
#include "dataset/datasource.h"

#include <QHeaderView>

TDBGrid::TDBGrid(QWidget *parent)
    : QTableView(parent)
    , m_model(new TDataSetModel(this)) {
    setModel(m_model);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    connect(selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex &current) { OnCurrentChanged(current); });
    connect(m_model, &QAbstractItemModel::modelReset, this, &TDBGrid::SyncSelection);
    connect(this, &QTableView::doubleClicked, this, [this] {
        if (OnDblClick)
            RunGuarded(OnDblClick);
    });
}

TDBGrid::TDBGrid(const QString &name, QWidget *parent)
    : TDBGrid(parent) {
    setObjectName(name);
}

TDataSource *TDBGrid::DataSource() const {
    return m_dataSource;
}

void TDBGrid::SetDataSource(TDataSource *source) {
    for (auto &connection : m_connections)
        disconnect(connection);
    m_dataSource = source;
    m_model->SetDataSet(source ? source->DataSet() : nullptr);
    if (source) {
        // The data source may be pointed at another table later.
        m_connections[0] = connect(source, &TDataSource::dataChanged, this, [this] {
            if (m_dataSource && m_model->DataSet() != m_dataSource->DataSet())
                m_model->SetDataSet(m_dataSource->DataSet());
            SyncSelection();
        });
        m_connections[1] =
            connect(source, &TDataSource::stateChanged, this, &TDBGrid::SyncSelection);
    }
    SyncSelection();
}

void TDBGrid::SetColumns(const QVector<TGridColumn> &columns) {
    m_model->SetColumns(columns);
    for (int i = 0; i < columns.size(); ++i)
        if (columns[i].Width > 0)
            setColumnWidth(i, columns[i].Width);
}

void TDBGrid::SyncSelection() {
    TClientDataSet *table = m_model->DataSet();
    if (m_syncing || !table)
        return;
    m_syncing = true;
    const int row = table->Active() ? table->RecNo() - 1 : -1;
    if (row >= 0 && row < m_model->rowCount()) {
        if (currentIndex().row() != row) {
            const int column = std::max(0, currentIndex().column());
            selectionModel()->setCurrentIndex(m_model->index(row, column),
                                              QItemSelectionModel::ClearAndSelect |
                                                  QItemSelectionModel::Rows);
        }
    } else {
        selectionModel()->clear();
    }
    m_syncing = false;
}

void TDBGrid::OnCurrentChanged(const QModelIndex &current) {
    TClientDataSet *table = m_model->DataSet();
    if (m_syncing || !table || !current.isValid() || !table->Active())
        return;
    if (table->RecNo() == current.row() + 1)
        return;
    m_syncing = true;
    RunGuarded([&] { table->SetRecNo(current.row() + 1); });
    m_syncing = false;
    SyncSelection(); // a refused move (a failing post) puts the selection back
}
