#include "busyindicator.h"

#include <QApplication>
#include <QFrame>
#include <QLabel>
#include <QProgressBar>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

BusyIndicator::BusyIndicator(QWidget *owner)
    : QWidget(owner, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint)
    , m_owner(owner)
    , m_text(new QLabel(this))
    , m_bar(new QProgressBar(this)) {
    setObjectName(u"frmAguarde"_s);
    setAttribute(Qt::WA_ShowWithoutActivating);
    auto *frame = new QFrame(this);
    frame->setFrameShape(QFrame::Box);
    frame->setFrameShadow(QFrame::Plain);
    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(frame);
    auto *layout = new QVBoxLayout(frame);
    layout->setContentsMargins(16, 12, 16, 12);
    m_text->setAlignment(Qt::AlignCenter);
    m_bar->setRange(0, 0); // no known end: a moving bar
    m_bar->setTextVisible(false);
    m_bar->setFixedHeight(12);
    layout->addWidget(m_text);
    layout->addWidget(m_bar);
    setMinimumWidth(320);
}

QString BusyIndicator::DefaultText(int kind) {
    switch (kind) {
    case 1:
        return u"Gravando informações..."_s;
    case 6:
        return u"Carregando informações..."_s;
    default:
        return u"Aguarde..."_s;
    }
}

void BusyIndicator::ShowBusy(int kind, const QString &text) {
    m_kind = kind;
    m_text->setText(text.isEmpty() ? DefaultText(kind) : text);
    adjustSize();
    CentreOverOwner();
    show();
    raise();
    // The caller blocks next; let the box reach the screen now. User input stays queued.
    repaint();
    QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void BusyIndicator::HideBusy() {
    m_kind = 0;
    hide();
}

void BusyIndicator::CentreOverOwner() {
    if (!m_owner)
        return;
    const QRect area(m_owner->mapToGlobal(QPoint(0, 0)), m_owner->size());
    move(area.center() - QPoint(width() / 2, height() / 2));
}
