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
// the field's DisplayText of that row, so OnGetText applies.
// A row other than the current one is read by moving the table there and back while it
// browses, with its signals and AfterScroll held back, so nobody sees the move; texts are kept
// per row until the table changes or moves, and only rows a view asks for are read. While a row
// is being edited the other rows keep their last texts and the current row is read live.
// The model resets when the number of rows changes and repaints every cell otherwise.
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
    const QStringList *RowTexts(int row) const;
    QString LiveText(int column) const;

    QPointer<TClientDataSet> m_dataSet;
    QVector<TGridColumn> m_columns;
    QMetaObject::Connection m_connections[2];
    int m_rowCount = 0;
    mutable QVector<QStringList> m_texts; // [row][column]; an empty list: never read
    mutable QVector<bool> m_fresh;        // [row]: texts read since the table last changed
};
