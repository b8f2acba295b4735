#pragma once

#include <QAbstractTableModel>
#include <QPointer>
#include <QVector>

class TClientDataSet;

// A grid column: the field shown, its title and its width in pixels (0: the view decides).
struct TGridColumn {
    QString FieldName;
    QString Title;
    int Width = 0;
};

// Table model over a TClientDataSet: one model row per table row, in the table's reading order;
// the columns given (or, with none, the table's visible fields titled by their labels). A cell is
// the field's DisplayText of that row, so OnGetText applies. Reading a row other than the
// current one moves the table's row silently (RecNo) and back; the model resets when the
// table's content or state changes and reports single-row changes otherwise.
class TDataSetModel final : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit TDataSetModel(QObject *parent = nullptr);

    TClientDataSet *DataSet() const;
    void SetDataSet(TClientDataSet *dataSet);
    void SetColumns(const QVector<TGridColumn> &columns); // empty: visible fields
    const QVector<TGridColumn> &Columns() const { return m_columns; }
    QVector<TGridColumn> EffectiveColumns() const;

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    void Refresh(); // full reset

private:
    void OnDataChanged();

    QPointer<TClientDataSet> m_dataSet;
    QVector<TGridColumn> m_columns;
    QMetaObject::Connection m_connections[2];
    int m_rowCount = 0;
};
