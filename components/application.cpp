#include "components/application.h"

#include <QCoreApplication>
#include <QWidget>

TApplication::TApplication(QObject *parent)
    : QObject(parent) {
    setObjectName(QStringLiteral("Application"));
    // Widgets must go while the GUI still runs: by the time the QApplication destroys its
    // children, deleting a widget is no longer safe.
    if (auto *core = QCoreApplication::instance())
        connect(core, &QCoreApplication::aboutToQuit, this, &TApplication::ReleaseAll);
}

TApplication::~TApplication() = default;

void TApplication::ReleaseAll() {
    // Newest first, as later screens are usually opened from earlier ones.
    const auto owned = m_owned;
    m_owned.clear();
    for (qsizetype i = owned.size() - 1; i >= 0; --i)
        delete owned[i].data();
}

TApplication *TApplication::Instance() {
    // Lives as long as the QApplication, so owned screens go before the GUI is torn down.
    static QPointer<TApplication> instance;
    if (!instance)
        instance = new TApplication(QCoreApplication::instance());
    return instance;
}

void TApplication::Own(QWidget *widget) {
    m_owned.removeAll(nullptr);
    if (widget && !m_owned.contains(widget))
        m_owned.append(widget);
}

QList<QWidget *> TApplication::Owned() const {
    QList<QWidget *> alive;
    for (const auto &widget : m_owned)
        if (widget)
            alive.append(widget);
    return alive;
}

void InitializeForm(QWidget *form, QObject *owner, const std::function<void()> &formCreate) {
    AttachToOwner(form, owner);
    try {
        formCreate();
    } catch (...) {
        delete form;
        throw;
    }
}

void AttachToOwner(QWidget *widget, QObject *owner) {
    if (!widget || !owner)
        return;
    if (auto *application = qobject_cast<TApplication *>(owner)) {
        application->Own(widget);
    } else if (auto *parent = qobject_cast<QWidget *>(owner)) {
        widget->setParent(parent, widget->windowFlags());
    } else {
        QPointer<QWidget> guard(widget);
        QObject::connect(owner, &QObject::destroyed, [guard] { delete guard.data(); });
    }
}
