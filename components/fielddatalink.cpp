#include "components/fielddatalink.h"

#include "dataset/datasource.h"

#include <QKeyEvent>

TFieldDataLink::TFieldDataLink(QObject *owner, std::function<void()> reload,
                               std::function<void()> writeRecord)
    : m_owner(owner)
    , m_reload(std::move(reload))
    , m_writeRecord(std::move(writeRecord)) {}

TDataSource *TFieldDataLink::DataSource() const {
    return m_dataSource;
}

TFieldDataLink::~TFieldDataLink() {
    // The owner outlives its members by a moment; no signal may reach the callbacks then.
    Disconnect();
}

void TFieldDataLink::SetDataSource(TDataSource *source) {
    m_dataSource = source;
    Rebind();
}

void TFieldDataLink::SetDataField(const QString &fieldName) {
    m_dataField = fieldName;
    m_reload();
}

TField *TFieldDataLink::Field() const {
    if (!m_dataSource || !m_dataSource->DataSet() || !m_dataSource->DataSet()->Active() ||
        m_dataField.isEmpty())
        return nullptr;
    return m_dataSource->DataSet()->FindField(m_dataField);
}

bool TFieldDataLink::Editing() const {
    return m_dataSource && (m_dataSource->State() == TDataSetState::Edit ||
                            m_dataSource->State() == TDataSetState::Insert);
}

bool TFieldDataLink::StartEdit() {
    if (!Field())
        return false;
    if (m_dataSource->State() == TDataSetState::Browse)
        m_dataSource->DataSet()->Edit();
    return Editing();
}

void TFieldDataLink::Disconnect() {
    for (auto &connection : m_connections)
        QObject::disconnect(connection);
}

void TFieldDataLink::Rebind() {
    Disconnect();
    if (m_dataSource) {
        m_connections[0] = QObject::connect(
            m_dataSource, &TDataSource::dataChanged, m_owner, [this](TField *field) {
                if (m_reloadOnAnyField || !field || field == Field())
                    m_reload();
            });
        m_connections[1] = QObject::connect(m_dataSource, &TDataSource::stateChanged, m_owner,
                                            [this] { m_reload(); });
        if (m_writeRecord)
            m_connections[2] = QObject::connect(m_dataSource, &TDataSource::updateData, m_owner,
                                                [this] { m_writeRecord(); });
    }
    m_reload();
}

bool TFieldDataLink::IsEditingKey(const QKeyEvent *event) {
    if (event->matches(QKeySequence::Paste) || event->matches(QKeySequence::Cut) ||
        event->matches(QKeySequence::Delete) || event->matches(QKeySequence::DeleteEndOfWord) ||
        event->matches(QKeySequence::DeleteStartOfWord))
        return true;
    if (event->key() == Qt::Key_Backspace || event->key() == Qt::Key_Delete)
        return true;
    const QString text = event->text();
    return !text.isEmpty() && text.at(0).isPrint() &&
           !(event->modifiers() & (Qt::ControlModifier | Qt::AltModifier));
}
