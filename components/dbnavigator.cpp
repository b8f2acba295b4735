#include "components/dbnavigator.h"

#include "components/guard.h"
#include "dataset/datasource.h"

#include <QHBoxLayout>
#include <QToolButton>

using namespace Qt::StringLiterals;

namespace {
QToolButton *MakeButton(QWidget *parent, const QString &name, const QString &text,
                        const QString &hint) {
    auto *button = new QToolButton(parent);
    button->setObjectName(name);
    button->setText(text);
    button->setToolTip(hint);
    button->setFocusPolicy(Qt::NoFocus);
    return button;
}
} // namespace

TDBNavigator::TDBNavigator(QWidget *parent)
    : QWidget(parent)
    , m_first(MakeButton(this, u"btnFirst"_s, u"|<"_s, u"Primeiro"_s))
    , m_prior(MakeButton(this, u"btnPrior"_s, u"<"_s, u"Anterior"_s))
    , m_next(MakeButton(this, u"btnNext"_s, u">"_s, u"Próximo"_s))
    , m_last(MakeButton(this, u"btnLast"_s, u">|"_s, u"Último"_s)) {
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(1);
    for (QToolButton *button : {m_first, m_prior, m_next, m_last})
        layout->addWidget(button);
    auto move = [this](void (TClientDataSet::*step)()) {
        return [this, step] {
            if (m_dataSource && m_dataSource->DataSet())
                RunGuarded([&] { (m_dataSource->DataSet()->*step)(); });
        };
    };
    connect(m_first, &QToolButton::clicked, this, move(&TClientDataSet::First));
    connect(m_prior, &QToolButton::clicked, this, move(&TClientDataSet::Prior));
    connect(m_next, &QToolButton::clicked, this, move(&TClientDataSet::Next));
    connect(m_last, &QToolButton::clicked, this, move(&TClientDataSet::Last));
    UpdateButtons();
}

TDBNavigator::TDBNavigator(const QString &name, QWidget *parent)
    : TDBNavigator(parent) {
    setObjectName(name);
}

TDataSource *TDBNavigator::DataSource() const {
    return m_dataSource;
}

void TDBNavigator::SetDataSource(TDataSource *source) {
    for (auto &connection : m_connections)
        disconnect(connection);
    m_dataSource = source;
    if (source) {
        m_connections[0] =
            connect(source, &TDataSource::dataChanged, this, &TDBNavigator::UpdateButtons);
        m_connections[1] =
            connect(source, &TDataSource::stateChanged, this, &TDBNavigator::UpdateButtons);
    }
    UpdateButtons();
}

void TDBNavigator::UpdateButtons() {
    TClientDataSet *table = m_dataSource ? m_dataSource->DataSet() : nullptr;
    const bool browsing = table && table->State() == TDataSetState::Browse && !table->IsEmpty();
    const int recNo = browsing ? table->RecNo() : 0;
    const int count = browsing ? table->RecordCount() : 0;
    m_first->setEnabled(browsing && recNo > 1);
    m_prior->setEnabled(browsing && recNo > 1);
    m_next->setEnabled(browsing && recNo < count);
    m_last->setEnabled(browsing && recNo < count);
}
