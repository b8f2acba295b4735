#pragma once

#include <QMainWindow>

class QMdiArea;
class QAction;

// The desktop shell: screens open as child windows of its MDI area, from the menu.
class MainWindow final : public QMainWindow {
    Q_OBJECT
public:
    explicit MainWindow(QWidget *parent = nullptr);

    QMdiArea *MdiArea() const { return m_mdi; }
    QAction *ParamContabAction() const { return m_paramContab; }

    // Shows a screen as a child window, or restores and brings forward the one already shown.
    void ShowChild(QWidget *form);
    // The screen with that object name among the child windows, nullptr when none.
    QWidget *FindChildScreen(const QString &objectName) const;

Q_SIGNALS:
    void openParamContabRequested();
    void historyRequested();
    void helpRequested();
    void aboutRequested();
    void closing();

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QMdiArea *m_mdi;
    QAction *m_paramContab;
};
