#pragma once

#include <QWidget>

class QLabel;
class QProgressBar;

// Small frameless box with a moving bar and a text, centred over the main window while the
// interface thread waits for the server. It paints itself before returning, because the caller
// blocks right after showing it.
class BusyIndicator final : public QWidget {
    Q_OBJECT
public:
    explicit BusyIndicator(QWidget *owner);

    void ShowBusy(int kind, const QString &text);
    void HideBusy();
    int Kind() const { return m_kind; }

    static QString DefaultText(int kind);

private:
    void CentreOverOwner();

    QWidget *m_owner;
    QLabel *m_text;
    QProgressBar *m_bar;
    int m_kind = 0;
};
