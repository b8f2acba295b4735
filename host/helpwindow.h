#pragma once

#include <QWidget>

class QTextBrowser;

// The users' help, shown from the resource pages embedded in the host.
class HelpWindow final : public QWidget {
    Q_OBJECT
public:
    explicit HelpWindow(QWidget *parent = nullptr);

    // Opens the page of a help context; false when the context has no page (the index is shown).
    bool ShowContext(int context);
    QString CurrentSource() const;

    static QString PageOf(int context); // resource path, empty when unknown

private:
    QTextBrowser *m_browser;
};
