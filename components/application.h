#pragma once

#include <QList>
#include <QObject>
#include <QPointer>

#include <functional>

class QWidget;

// The application object that owns the screens. A QWidget cannot have a plain QObject as parent,
// so ownership is explicit: the owned widgets still alive are deleted when the application's
// event loop ends (aboutToQuit) or on ReleaseAll. One instance per process, shared by the host
// and every loaded module (this library is shared).
class TApplication final : public QObject {
    Q_OBJECT
public:
    static TApplication *Instance();

    void Own(QWidget *widget);
    QList<QWidget *> Owned() const; // still alive, in the order they were owned
    void ReleaseAll();              // deletes every owned widget still alive, newest first
    ~TApplication() override;

private:
    explicit TApplication(QObject *parent);
    QList<QPointer<QWidget>> m_owned;
};

// Gives `widget` to `owner`: TApplication owns it; a QWidget owner becomes its parent (window
// flags kept, so a dialog stays a window); any other QObject deletes it when destroyed.
void AttachToOwner(QWidget *widget, QObject *owner);

// Second phase of a form's creation: attach to `owner`, then run `formCreate`. A form whose
// FormCreate fails is deleted before the failure travels on, so no half-built window stays.
void InitializeForm(QWidget *form, QObject *owner, const std::function<void()> &formCreate);
