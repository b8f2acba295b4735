#pragma once

#include "components/fielddatalink.h"

#include <QLabel>

class TDataSource;

// Read-only label showing a field's DisplayText of the current row.
class TDBText final : public QLabel {
    Q_OBJECT
public:
    explicit TDBText(QWidget *parent = nullptr);
    TDBText(const QString &name, QWidget *parent);

    TDataSource *DataSource() const { return m_link.DataSource(); }
    void SetDataSource(TDataSource *source) { m_link.SetDataSource(source); }
    QString DataField() const { return m_link.DataField(); }
    void SetDataField(const QString &fieldName) { m_link.SetDataField(fieldName); }

private:
    void Reload();

    TFieldDataLink m_link;
};
