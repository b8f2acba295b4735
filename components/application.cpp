#include "components/application.h"

#include <QCoreApplication>
#include <QWidget>

TApplication::TApplication(QObject *parent)
    : QObject(parent)
{
    setObjectName(QStringLiteral("Application"));
}

TApplication::~TApplication()
{
    // Newest first, as children are usually created after their owners.
    for (qsizetype i = m_owned.size() - 1; i >= 0; --i)
        delete m_owned[i].data();
}

TApplication *TApplication::Instance()
{
    // Lives as long as the QApplication, so owned screens go before the GUI is torn down.
    static QPointer<TApplication> instance;
    if (!instance)
        instance = new TApplication(QCoreApplication::instance());
    return instance;
}

void TApplication::Own(QWidget *widget)
{
    m_owned.removeAll(nullptr);
    if (widget && !m_owned.contains(widget))
        m_owned.append(widget);
}

QList<QWidget *> TApplication::Owned() const
{
    QList<QWidget *> alive;
    for (const auto &widget : m_owned)
        if (widget)
            alive.append(widget);
    return alive;
}

void AttachToOwner(QWidget *widget, QObject *owner)
{
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
