#pragma once

#include <QPointer>
#include <QWidget>

class QToolButton;
class TDataSource;

// Record navigator: first / prior / next / last over a data source's table. Buttons are enabled
// only in browse state and when the move is possible. Button objectNames: "btnFirst",
// "btnPrior", "btnNext", "btnLast".
class TDBNavigator final : public QWidget {
    Q_OBJECT
public:
    explicit TDBNavigator(QWidget *parent = nullptr);
    TDBNavigator(const QString &name, QWidget *parent);

    TDataSource *DataSource() const;
    void SetDataSource(TDataSource *source);

    QToolButton *FirstButton() const { return m_first; }
    QToolButton *PriorButton() const { return m_prior; }
    QToolButton *NextButton() const { return m_next; }
    QToolButton *LastButton() const { return m_last; }

private:
    void UpdateButtons();

    QPointer<TDataSource> m_dataSource;
    QToolButton *m_first;
    QToolButton *m_prior;
    QToolButton *m_next;
    QToolButton *m_last;
    QMetaObject::Connection m_connections[2];
};
