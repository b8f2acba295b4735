#include "components/frmrotigeral.h"

#include "components/application.h"
#include "components/guard.h"
#include "components/messages.h"
#include "components/toolbutton.h"

#include <QCloseEvent>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

TfrmRotiGeral::TfrmRotiGeral(QWidget *parent)
    : QDialog(parent) {
    setObjectName(u"frmRotiGeral"_s);
    setModal(true);

    msgPadrao = new TMessages(u"msgPadrao"_s, this);

    grbDadosRel = new QGroupBox(this);
    grbDadosRel->setObjectName(u"grbDadosRel"_s);

    panMenu = new QWidget(this);
    panMenu->setObjectName(u"panMenu"_s);
    panBotoes = new QWidget(panMenu);
    panBotoes->setObjectName(u"panBotoes"_s);
    sbtConfirma = new TToolButton(u"sbtConfirma"_s, u"Confirmar"_s, panBotoes);
    sbtConfirma->SetHint(u"Confirmar"_s);
    sbtConfirma->SetFlat(true);
    auto *buttons = new QVBoxLayout(panBotoes);
    buttons->setContentsMargins(0, 0, 0, 0);
    buttons->addWidget(sbtConfirma);
    buttons->addStretch();
    lblCodTela = new QLabel(panMenu);
    lblCodTela->setObjectName(u"lblCodTela"_s);
    auto *menu = new QVBoxLayout(panMenu);
    menu->setContentsMargins(2, 2, 2, 2);
    menu->addWidget(panBotoes, 1);
    menu->addWidget(lblCodTela);

    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->addWidget(grbDadosRel, 1);
    layout->addWidget(panMenu);
}

TfrmRotiGeral::~TfrmRotiGeral() = default;

void TfrmRotiGeral::Initialize(QObject *owner) {
    InitializeForm(this, owner, [this] { FormCreate(); });
}

void TfrmRotiGeral::FormCreate() {}

void TfrmRotiGeral::FormShow() {}

void TfrmRotiGeral::FormClose(TCloseAction &action) {
    action = caFree;
}

bool TfrmRotiGeral::RunClose() {
    TCloseAction action = caFree;
    if (!RunGuarded([&] { FormClose(action); }))
        action = caNone;
    if (action == caNone)
        return false;
    if (action == caFree)
        deleteLater(); // after exec() has returned to the caller
    return true;
}

void TfrmRotiGeral::done(int result) {
    // Every way out of the dialog (accept, reject, Esc, close()) passes here exactly once.
    if (m_closing) {
        QDialog::done(result);
        return;
    }
    if (!RunClose())
        return;
    m_closing = true;
    QDialog::done(result);
    m_closing = false;
}

void TfrmRotiGeral::showEvent(QShowEvent *event) {
    QDialog::showEvent(event);
    if (m_shown)
        return;
    m_shown = true;
    RunGuarded([this] { FormShow(); });
}

void TfrmRotiGeral::closeEvent(QCloseEvent *event) {
    if (m_closing) {
        QDialog::closeEvent(event);
        return;
    }
    if (!RunClose()) {
        event->ignore();
        return;
    }
    m_closing = true;
    QDialog::closeEvent(event); // rejects: done() passes straight through
    m_closing = false;
}
