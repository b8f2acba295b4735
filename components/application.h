#pragma once

#include <QList>
#include <QObject>
#include <QPointer>

class QWidget;

// The application object that owns the screens. A QWidget cannot have a plain QObject as parent,
// so ownership is explicit: an owned widget is deleted when the application object is destroyed
// (with the QApplication) unless it was released before. One instance per process, shared by the
// host and every loaded module (this library is shared).
class TApplication final : public QObject {
    Q_OBJECT
public:
    static TApplication *Instance();

    void Own(QWidget *widget);
    QList<QWidget *> Owned() const; // still alive, in the order they were owned
    ~TApplication() override;

private:
    explicit TApplication(QObject *parent);
    QList<QPointer<QWidget>> m_owned;
};

// Gives `widget` to `owner`: TApplication owns it; a QWidget owner becomes its parent (window
// flags kept, so a dialog stays a window); any other QObject deletes it when destroyed.
void AttachToOwner(QWidget *widget, QObject *owner);
