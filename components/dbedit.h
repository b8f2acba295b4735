#pragma once

#include "components/fielddatalink.h"

#include <QLineEdit>

class TDataSource;
class TField;

// Text edit bound to a field. Shows the field's Text; the first keystroke in browse state puts
// the table in edit; the text goes into the field before a post, on focus out and on setText
// from code while editing. MaxLength follows the field's size.
class TDBEdit final : public QLineEdit {
    Q_OBJECT
public:
    explicit TDBEdit(QWidget *parent = nullptr);
    TDBEdit(const QString &name, QWidget *parent);

    TDataSource *DataSource() const { return m_link.DataSource(); }
    void SetDataSource(TDataSource *source) { m_link.SetDataSource(source); }
    QString DataField() const { return m_link.DataField(); }
    void SetDataField(const QString &fieldName) { m_link.SetDataField(fieldName); }
    TField *Field() const { return m_link.Field(); }

    void UpdateRecord(); // text into the field (edit/insert only)

    std::function<void()> OnExit; // focus left; runs through the guard
Q_SIGNALS:
    void Exit();

protected:
    void focusOutEvent(QFocusEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    void Reload();

    TFieldDataLink m_link;
};
