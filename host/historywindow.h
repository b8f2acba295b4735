#pragma once

#include <QWidget>

class QComboBox;
class QDateEdit;
class QLabel;
class QLineEdit;
class QTableWidget;
class TNetConnection;

// "Histórico de alterações": who changed which field of which company, when, from what to what.
class HistoryWindow final : public QWidget {
    Q_OBJECT
public:
    HistoryWindow(TNetConnection &audit, QWidget *parent = nullptr);

    // The companies to show ("T" or codes); the field, operator and day filters stay.
    void SetCompanies(const QString &companies);
    // Asks the server and fills the table; a failure is shown in the window's status line.
    void Search();

    QTableWidget *Table() const { return m_table; }
    QString Status() const;

    static constexpr int MaxRows = 5000;

private:
    TNetConnection &m_audit;
    QLineEdit *m_companies;
    QDateEdit *m_since;
    QComboBox *m_field;
    QLineEdit *m_operator;
    QTableWidget *m_table;
    QLabel *m_status;
};
