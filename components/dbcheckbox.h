#pragma once

#include "components/fielddatalink.h"

#include <QCheckBox>

class TDataSource;
class TField;

// Check box bound to a flag field: ticked when the field holds ValueChecked ("S"), unticked
// otherwise; a user click puts the table in edit and writes ValueChecked / ValueUnchecked ("N").
// The box writes only what the user (or code) changed: a field without a value shows unticked and
// keeps no value until the box is ticked or unticked, so a screen can still tell "never set" from
// "N" before a post, and a value other than the two flags survives a post untouched.
class TDBCheckBox final : public QCheckBox {
    Q_OBJECT
public:
    explicit TDBCheckBox(QWidget *parent = nullptr);
    TDBCheckBox(const QString &name, const QString &caption, QWidget *parent);

    TDataSource *DataSource() const { return m_link.DataSource(); }
    void SetDataSource(TDataSource *source) { m_link.SetDataSource(source); }
    QString DataField() const { return m_link.DataField(); }
    void SetDataField(const QString &fieldName) { m_link.SetDataField(fieldName); }
    TField *Field() const { return m_link.Field(); }

    QString ValueChecked() const { return m_valueChecked; }
    void SetValueChecked(const QString &value) { m_valueChecked = value; }
    QString ValueUnchecked() const { return m_valueUnchecked; }
    void SetValueUnchecked(const QString &value) { m_valueUnchecked = value; }

    void UpdateRecord(); // tick state into the field (edit/insert only)

protected:
    void nextCheckState() override;

private:
    void Reload();

    TFieldDataLink m_link;
    QString m_valueChecked = QStringLiteral("S");
    QString m_valueUnchecked = QStringLiteral("N");
    bool m_untouched = true; // not ticked or unticked since the field was last shown
};
