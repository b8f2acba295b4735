#pragma once

#include <QLineEdit>
#include <QPointer>

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

    TDataSource *DataSource() const;
    void SetDataSource(TDataSource *source);
    QString DataField() const { return m_dataField; }
    void SetDataField(const QString &fieldName);
    TField *Field() const;

    void UpdateRecord(); // text into the field (edit/insert only)

    std::function<void()> OnExit; // focus left; runs through the guard
Q_SIGNALS:
    void Exit();

protected:
    void focusOutEvent(QFocusEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    void Reload();
    void Rebind();

    QPointer<TDataSource> m_dataSource;
    QString m_dataField;
    QMetaObject::Connection m_connections[3];
    bool m_loading = false;
};
