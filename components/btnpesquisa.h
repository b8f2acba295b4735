#pragma once

#include <QPointer>
#include <QToolButton>

#include <functional>

class TDataSource;
class TClientDataSet;

// Search button: lists the rows of its DataSource's table in a modal single-choice dialog and
// leaves the table on the chosen row. A click runs, through the guard:
//   1. OnBeforePesq(button, flag) - the screen usually (re)opens the query here;
//   2. an inactive table is opened; an empty table: MensErro(EmptyError) - OnAfterPesq does not
//      run;
//   3. the dialog (title Title; columns: the table's visible fields, titled by their labels;
//      starts on the current row);
//   4. on a choice: the table stands on the chosen row, then OnAfterPesq(button). Cancel: nothing.
// Tests answer the dialog with SetChooseHook instead of a person.
class TBtnPesquisa final : public QToolButton {
    Q_OBJECT
public:
    explicit TBtnPesquisa(QWidget *parent = nullptr);
    TBtnPesquisa(const QString &name, QWidget *parent);

    QWidget *Associate() const;
    void SetAssociate(QWidget *widget);
    TDataSource *DataSource() const;
    void SetDataSource(TDataSource *source);
    QString Title() const { return m_title; }
    void SetTitle(const QString &title) { m_title = title; }
    QString EmptyError() const { return m_emptyError; }
    void SetEmptyError(const QString &text) { m_emptyError = text; }
    QString FieldCodigo() const { return m_fieldCodigo; }
    void SetFieldCodigo(const QString &name) { m_fieldCodigo = name; }
    QString FieldNivel() const { return m_fieldNivel; }
    void SetFieldNivel(const QString &name) { m_fieldNivel = name; }
    QString Hint() const { return toolTip(); }
    void SetHint(const QString &hint) { setToolTip(hint); }

    // `flag` starts false; the button does not read it back (reserved).
    std::function<void(TBtnPesquisa &sender, bool &flag)> OnBeforePesq;
    std::function<void(TBtnPesquisa &sender)> OnAfterPesq;
    // When set, a click runs this instead of the built-in single choice (a screen that searches
    // its own way, such as a multi-choice list).
    std::function<void()> OnClick;

    // The click's work, unguarded (failures travel to the caller). Also what a click runs.
    void Pesquisar();

    // Test hook: given the button and its table (already open, not empty, on its current row),
    // return the 1-based row number chosen, or 0 for Cancel. Empty: a person chooses.
    using ChooseHook = std::function<int(TBtnPesquisa &button, TClientDataSet &table)>;
    static void SetChooseHook(ChooseHook hook);

private:
    QPointer<QWidget> m_associate;
    QPointer<TDataSource> m_dataSource;
    QString m_title;
    QString m_emptyError;
    QString m_fieldCodigo;
    QString m_fieldNivel;
};
