#include "components/datasetmodel.h"

#include "dataset/clientdataset.h"

#include <QSignalBlocker>

TDataSetModel::TDataSetModel(QObject *parent)
    : QAbstractTableModel(parent) {}

TClientDataSet *TDataSetModel::DataSet() const {
    return m_dataSet;
}

void TDataSetModel::SetDataSet(TClientDataSet *dataSet) {
    beginResetModel();
    for (auto &connection : m_connections)
        disconnect(connection);
    m_dataSet = dataSet;
    if (dataSet) {
        m_connections[0] =
            connect(dataSet, &TClientDataSet::dataChanged, this, &TDataSetModel::OnDataChanged);
        m_connections[1] =
            connect(dataSet, &TClientDataSet::stateChanged, this, &TDataSetModel::OnDataChanged);
    }
    m_rowCount = dataSet ? dataSet->RecordCount() : 0;
    m_texts.clear();
    m_fresh.clear();
    endResetModel();
}

void TDataSetModel::SetColumns(const QVector<TGridColumn> &columns) {
    beginResetModel();
    m_columns = columns;
    m_texts.clear();
    m_fresh.clear();
    endResetModel();
}

QVector<TGridColumn> TDataSetModel::EffectiveColumns() const {
    if (!m_columns.isEmpty() || !m_dataSet || !m_dataSet->Active())
        return m_columns;
    QVector<TGridColumn> visible;
    for (int i = 0; i < m_dataSet->FieldCount(); ++i) {
        const TField *field = m_dataSet->Fields(i);
        if (field->Visible())
            visible.append({field->FieldName(), field->DisplayLabel(), 0});
    }
    return visible;
}

void TDataSetModel::Refresh() {
    beginResetModel();
    m_rowCount = m_dataSet ? m_dataSet->RecordCount() : 0;
    m_texts.clear();
    m_fresh.clear();
    endResetModel();
}

void TDataSetModel::OnDataChanged() {
    const int rows = m_dataSet ? m_dataSet->RecordCount() : 0;
    if (rows != m_rowCount || (m_columns.isEmpty() && EffectiveColumns().size() != columnCount())) {
        Refresh();
        return;
    }
    if (m_dataSet && m_dataSet->State() == TDataSetState::Browse)
        m_fresh.fill(false); // stale texts still serve while a row is being edited
    if (rows > 0 && columnCount() > 0)
        Q_EMIT dataChanged(index(0, 0), index(rows - 1, columnCount() - 1), {Qt::DisplayRole});
}

int TDataSetModel::rowCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : m_rowCount;
}

int TDataSetModel::columnCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : int(EffectiveColumns().size());
}

QString TDataSetModel::LiveText(int column) const {
    const QVector<TGridColumn> columns = EffectiveColumns();
    TField *field = m_dataSet->FindField(columns.at(column).FieldName);
    if (!field)
        return {};
    try {
        return field->DisplayText();
    } catch (...) {
        return {}; // a text handler that fails must not break painting
    }
}

const QStringList *TDataSetModel::RowTexts(int row) const {
    if (m_texts.size() != m_rowCount) {
        m_texts = QVector<QStringList>(m_rowCount);
        m_fresh = QVector<bool>(m_rowCount, false);
    }
    QStringList &texts = m_texts[row];
    if (m_fresh[row])
        return &texts;
    if (m_dataSet->State() != TDataSetState::Browse)
        return texts.isEmpty() ? nullptr : &texts; // moving now would end the edit
    texts.clear();
    m_fresh[row] = true;
    const int columns = columnCount();
    const int current = m_dataSet->RecNo();
    auto afterScroll = std::move(m_dataSet->AfterScroll);
    m_dataSet->AfterScroll = nullptr;
    {
        const QSignalBlocker blocker(m_dataSet.data());
        if (current != row + 1)
            m_dataSet->SetRecNo(row + 1);
        for (int column = 0; column < columns; ++column)
            texts.append(LiveText(column));
        if (current != row + 1)
            m_dataSet->SetRecNo(current);
    }
    m_dataSet->AfterScroll = std::move(afterScroll);
    return &texts;
}

QVariant TDataSetModel::data(const QModelIndex &index, int role) const {
    if (!checkIndex(index, CheckIndexOption::IndexIsValid) || role != Qt::DisplayRole ||
        !m_dataSet || !m_dataSet->Active())
        return {};
    const bool editing =
        m_dataSet->State() == TDataSetState::Edit || m_dataSet->State() == TDataSetState::Insert;
    if (editing && index.row() == m_dataSet->RecNo() - 1)
        return LiveText(index.column());
    const QStringList *texts = RowTexts(index.row());
    return texts && index.column() < texts->size() ? texts->at(index.column()) : QVariant();
}

QVariant TDataSetModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    const QVector<TGridColumn> columns = EffectiveColumns();
    if (section < 0 || section >= columns.size())
        return {};
    const TGridColumn &column = columns.at(section);
    if (!column.Title.isEmpty())
        return column.Title;
    TField *field = m_dataSet ? m_dataSet->FindField(column.FieldName) : nullptr;
    return field ? field->DisplayLabel() : column.FieldName;
}
