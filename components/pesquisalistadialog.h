#pragma once

#include <QDialog>
#include <QStringList>

#include <functional>

class QTableWidget;
class TClientDataSet;

// The modal multi-choice list behind PesquisaLista (functions.h): one check box per row of a
// table, code and name columns, "Todas"/"Nenhuma" helpers, OK/Cancelar.
//
// Tests stand in for the person with SetScript: while a script is set, Choose() does not show the
// dialog but hands the script the ready dialog (rows filled, pre-selection ticked); the script
// ticks rows (SetChecked/CheckAll/...) and returns true for OK or false for Cancelar.
class PesquisaListaDialog final : public QDialog {
    Q_OBJECT
public:
    using Script = std::function<bool(PesquisaListaDialog &dialog)>;
    static void SetScript(Script script); // empty: a person answers (exec())
    static bool HasScript();

    // `keyField` gives the codes; the name column is the first other visible field.
    PesquisaListaDialog(TClientDataSet &table, const QString &keyField, const QString &title,
                        QWidget *parent = nullptr);

    int RowCount() const;
    QString Code(int row) const;
    QString Name(int row) const;
    bool IsChecked(int row) const;
    void SetChecked(int row, bool checked);
    bool SetCheckedCode(const QString &code, bool checked); // false when no row has that code
    void CheckAll();                                        // "Todas"
    void UncheckAll();                                      // "Nenhuma"

    void Preselect(const QString &list); // ticks the codes of "01,02" (blanks ignored)
    QString CheckedList() const;         // "01,03": row order, comma, no blanks

    // Shows the dialog (or runs the script); true on OK.
    bool Choose();

private:
    QTableWidget *m_table;
};
