#include "components/dbtext.h"

#include "dataset/datasource.h"

TDBText::TDBText(QWidget *parent)
    : QLabel(parent)
    , m_link(this, [this] { Reload(); }) {
    // The shown text may come from a display handler that reads other fields of the row.
    m_link.SetReloadOnAnyField(true);
}

TDBText::TDBText(const QString &name, QWidget *parent)
    : TDBText(parent) {
    setObjectName(name);
}

void TDBText::Reload() {
    TField *field = m_link.Field();
    setText(field && !DataSource()->DataSet()->IsEmpty() ? field->DisplayText() : QString());
}
