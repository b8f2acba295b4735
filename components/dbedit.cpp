#include "components/dbedit.h"

#include "components/guard.h"
#include "dataset/datasource.h"

#include <QFocusEvent>
#include <QKeyEvent>

namespace {
bool Editing(const TDataSource *source) {
    return source &&
           (source->State() == TDataSetState::Edit || source->State() == TDataSetState::Insert);
}

bool IsEditingKey(const QKeyEvent *event) {
    if (event->matches(QKeySequence::Paste) || event->matches(QKeySequence::Cut))
        return true;
    if (event->key() == Qt::Key_Backspace || event->key() == Qt::Key_Delete)
        return true;
    const QString text = event->text();
    return !text.isEmpty() && text.at(0).isPrint() &&
           !(event->modifiers() & (Qt::ControlModifier | Qt::AltModifier));
}
} // namespace

TDBEdit::TDBEdit(QWidget *parent)
    : QLineEdit(parent) {
    // Typed or set from code, the text goes into the field while the table is being edited.
    connect(this, &QLineEdit::textChanged, this, [this] {
        if (!m_loading)
            RunGuarded([this] { UpdateRecord(); });
    });
}

TDBEdit::TDBEdit(const QString &name, QWidget *parent)
    : TDBEdit(parent) {
    setObjectName(name);
}

TDataSource *TDBEdit::DataSource() const {
    return m_dataSource;
}

void TDBEdit::SetDataSource(TDataSource *source) {
    m_dataSource = source;
    Rebind();
}

void TDBEdit::SetDataField(const QString &fieldName) {
    m_dataField = fieldName;
    Reload();
}

TField *TDBEdit::Field() const {
    if (!m_dataSource || !m_dataSource->DataSet() || !m_dataSource->DataSet()->Active() ||
        m_dataField.isEmpty())
        return nullptr;
    return m_dataSource->DataSet()->FindField(m_dataField);
}

void TDBEdit::Rebind() {
    for (auto &connection : m_connections)
        disconnect(connection);
    if (m_dataSource) {
        m_connections[0] =
            connect(m_dataSource, &TDataSource::dataChanged, this, [this](TField *field) {
                if (!field || field == Field())
                    Reload();
            });
        m_connections[1] =
            connect(m_dataSource, &TDataSource::stateChanged, this, &TDBEdit::Reload);
        m_connections[2] =
            connect(m_dataSource, &TDataSource::updateData, this, &TDBEdit::UpdateRecord);
    }
    Reload();
}

void TDBEdit::Reload() {
    if (m_loading)
        return;
    m_loading = true;
    TField *field = Field();
    // setMaxLength resets the text and with it the selection: only when it changes.
    if (field && field->DataType() == TFieldType::String && field->Size() > 0 &&
        maxLength() != field->Size())
        setMaxLength(field->Size());
    const QString shown = field ? field->Text() : QString();
    if (shown != text())
        setText(shown);
    m_loading = false;
}

void TDBEdit::UpdateRecord() {
    TField *field = Field();
    if (!field || !Editing(m_dataSource) || m_loading)
        return;
    if (field->Text() == text() && !(text().isEmpty() && !field->IsNull()))
        return;
    m_loading = true;
    try {
        field->SetAsString(text());
    } catch (...) {
        m_loading = false;
        throw;
    }
    m_loading = false;
}

void TDBEdit::focusOutEvent(QFocusEvent *event) {
    QLineEdit::focusOutEvent(event);
    if (event->reason() == Qt::ActiveWindowFocusReason || event->reason() == Qt::PopupFocusReason)
        return;
    Q_EMIT Exit();
    if (OnExit)
        RunGuarded(OnExit);
}

void TDBEdit::keyPressEvent(QKeyEvent *event) {
    if (IsEditingKey(event) && m_dataSource) {
        bool allowed = false;
        RunGuarded([&] {
            if (isReadOnly() || !Field())
                return;
            if (m_dataSource->State() == TDataSetState::Browse)
                m_dataSource->DataSet()->Edit();
            allowed = Editing(m_dataSource);
        });
        if (!allowed) {
            event->accept();
            return;
        }
    }
    QLineEdit::keyPressEvent(event);
}
