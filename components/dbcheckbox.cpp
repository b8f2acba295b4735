#include "components/dbcheckbox.h"

#include "components/guard.h"
#include "dataset/datasource.h"

TDBCheckBox::TDBCheckBox(QWidget *parent)
    : QCheckBox(parent)
    , m_link(
          this, [this] { Reload(); }, [this] { UpdateRecord(); }) {
    connect(this, &QCheckBox::toggled, this, [this] {
        m_untouched = false;
        RunGuarded([this] { UpdateRecord(); });
    });
}

TDBCheckBox::TDBCheckBox(const QString &name, const QString &caption, QWidget *parent)
    : TDBCheckBox(parent) {
    setObjectName(name);
    setText(caption);
}

void TDBCheckBox::Reload() {
    TField *field = Field();
    m_untouched = true;
    const bool checked = field && field->AsString() == m_valueChecked;
    if (checked != isChecked()) {
        const QSignalBlocker blocker(this);
        setChecked(checked);
        update();
    }
}

void TDBCheckBox::UpdateRecord() {
    TField *field = Field();
    if (!field || !m_link.Editing() || m_untouched)
        return;
    const QString value = isChecked() ? m_valueChecked : m_valueUnchecked;
    if (field->IsNull() || field->AsString() != value)
        field->SetAsString(value);
}

void TDBCheckBox::nextCheckState() {
    if (DataSource()) {
        bool allowed = false;
        RunGuarded([&] { allowed = m_link.StartEdit(); });
        if (!allowed)
            return;
    }
    QCheckBox::nextCheckState();
}
