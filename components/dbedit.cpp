#include "components/dbedit.h"

#include "components/guard.h"
#include "dataset/datasource.h"

#include <QFocusEvent>
#include <QKeyEvent>

TDBEdit::TDBEdit(QWidget *parent)
    : QLineEdit(parent)
    , m_link(
          this, [this] { Reload(); }, [this] { UpdateRecord(); }) {
    // Typed or set from code, the text goes into the field while the table is being edited.
    connect(this, &QLineEdit::textChanged, this, [this] {
        if (!m_link.Loading())
            RunGuarded([this] { UpdateRecord(); });
    });
}

TDBEdit::TDBEdit(const QString &name, QWidget *parent)
    : TDBEdit(parent) {
    setObjectName(name);
}

void TDBEdit::Reload() {
    if (m_link.Loading())
        return;
    const TFieldDataLink::LoadingScope loading(m_link);
    TField *field = Field();
    // setMaxLength resets the text and with it the selection: only when it changes.
    if (field && field->DataType() == TFieldType::String && field->Size() > 0 &&
        maxLength() != field->Size())
        setMaxLength(field->Size());
    const QString shown = field ? field->Text() : QString();
    if (shown != text())
        setText(shown);
}

void TDBEdit::UpdateRecord() {
    TField *field = Field();
    if (!field || !m_link.Editing() || m_link.Loading())
        return;
    if (field->Text() == text() && !(text().isEmpty() && !field->IsNull()))
        return;
    const TFieldDataLink::LoadingScope writing(m_link);
    field->SetAsString(text());
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
    if (TFieldDataLink::IsEditingKey(event) && DataSource()) {
        bool allowed = false;
        RunGuarded([&] { allowed = !isReadOnly() && m_link.StartEdit(); });
        if (!allowed) {
            event->accept();
            return;
        }
    }
    QLineEdit::keyPressEvent(event);
}
