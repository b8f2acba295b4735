#pragma once

#include <QLabel>
#include <QPointer>

class TDataSource;

// Read-only label showing a field's DisplayText of the current row.
class TDBText final : public QLabel {
    Q_OBJECT
public:
    explicit TDBText(QWidget *parent = nullptr);
    TDBText(const QString &name, QWidget *parent);

    TDataSource *DataSource() const;
    void SetDataSource(TDataSource *source);
    QString DataField() const { return m_dataField; }
    void SetDataField(const QString &fieldName);

private:
    void Reload();
    void Rebind();

    QPointer<TDataSource> m_dataSource;
    QString m_dataField;
    QMetaObject::Connection m_connections[2];
};
