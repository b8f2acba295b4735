#include "components/pesquisalistadialog.h"

#include "dataset/clientdataset.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace {
PesquisaListaDialog::Script g_script;

QString CellText(const TFieldDef &def, const QVariant &value) {
    if (value.isNull())
        return {};
    if (def.DataType == TFieldType::Date)
        return DateTimeUtil::FormatDate(value.toDouble());
    return value.toString();
}
} // namespace

void PesquisaListaDialog::SetScript(Script script) {
    g_script = std::move(script);
}

bool PesquisaListaDialog::HasScript() {
    return bool(g_script);
}

PesquisaListaDialog::PesquisaListaDialog(TClientDataSet &table, const QString &keyField,
                                         const QString &title, QWidget *parent)
    : QDialog(parent)
    , m_table(new QTableWidget(this)) {
    setObjectName(u"PesquisaListaDialog"_s);
    setWindowTitle(title);
    setModal(true);

    const TTablePacket packet = table.GetData();
    const int keyIndex = packet.FieldIndex(keyField);
    int nameIndex = -1;
    for (int i = 0; i < table.FieldCount(); ++i) {
        if (i != keyIndex && table.Fields(i)->Visible()) {
            nameIndex = i;
            break;
        }
    }

    m_table->setObjectName(u"grdLista"_s);
    m_table->setColumnCount(2);
    m_table->setHorizontalHeaderLabels(
        {keyIndex >= 0 ? table.Fields(keyIndex)->DisplayLabel() : keyField,
         nameIndex >= 0 ? table.Fields(nameIndex)->DisplayLabel() : QString()});
    m_table->setRowCount(int(packet.Rows.size()));
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->verticalHeader()->hide();
    m_table->horizontalHeader()->setStretchLastSection(true);
    for (int row = 0; row < packet.Rows.size(); ++row) {
        const TRowValues &values = packet.Rows[row];
        auto *code = new QTableWidgetItem(
            keyIndex >= 0 ? CellText(packet.Fields[keyIndex], values.value(keyIndex)) : QString());
        code->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable | Qt::ItemIsSelectable);
        code->setCheckState(Qt::Unchecked);
        m_table->setItem(row, 0, code);
        auto *name = new QTableWidgetItem(
            nameIndex >= 0 ? CellText(packet.Fields[nameIndex], values.value(nameIndex))
                           : QString());
        name->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
        m_table->setItem(row, 1, name);
    }
    // A click anywhere on the row toggles its box, as people expect from a pick list.
    connect(m_table, &QTableWidget::cellClicked, this, [this](int row, int column) {
        if (column != 0)
            SetChecked(row, !IsChecked(row));
    });

    auto *all = new QPushButton(u"Todas"_s, this);
    all->setObjectName(u"btnTodas"_s);
    connect(all, &QPushButton::clicked, this, &PesquisaListaDialog::CheckAll);
    auto *none = new QPushButton(u"Nenhuma"_s, this);
    none->setObjectName(u"btnNenhuma"_s);
    connect(none, &QPushButton::clicked, this, &PesquisaListaDialog::UncheckAll);

    auto *buttons = new QDialogButtonBox(this);
    auto *ok = buttons->addButton(u"OK"_s, QDialogButtonBox::AcceptRole);
    ok->setObjectName(u"btnOK"_s);
    auto *cancel = buttons->addButton(u"Cancelar"_s, QDialogButtonBox::RejectRole);
    cancel->setObjectName(u"btnCancelar"_s);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto *helpers = new QHBoxLayout;
    helpers->addWidget(all);
    helpers->addWidget(none);
    helpers->addStretch();
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_table);
    layout->addLayout(helpers);
    layout->addWidget(buttons);
    resize(420, 360);
}

int PesquisaListaDialog::RowCount() const {
    return m_table->rowCount();
}

QString PesquisaListaDialog::Code(int row) const {
    return m_table->item(row, 0)->text();
}

QString PesquisaListaDialog::Name(int row) const {
    return m_table->item(row, 1)->text();
}

bool PesquisaListaDialog::IsChecked(int row) const {
    return m_table->item(row, 0)->checkState() == Qt::Checked;
}

void PesquisaListaDialog::SetChecked(int row, bool checked) {
    m_table->item(row, 0)->setCheckState(checked ? Qt::Checked : Qt::Unchecked);
}

bool PesquisaListaDialog::SetCheckedCode(const QString &code, bool checked) {
    bool found = false;
    for (int row = 0; row < RowCount(); ++row) {
        if (Code(row) == code) {
            SetChecked(row, checked);
            found = true;
        }
    }
    return found;
}

void PesquisaListaDialog::CheckAll() {
    for (int row = 0; row < RowCount(); ++row)
        SetChecked(row, true);
}

void PesquisaListaDialog::UncheckAll() {
    for (int row = 0; row < RowCount(); ++row)
        SetChecked(row, false);
}

void PesquisaListaDialog::Preselect(const QString &list) {
    const auto codes = list.split(u',', Qt::SkipEmptyParts);
    for (const QString &code : codes)
        SetCheckedCode(code.trimmed(), true);
}

QString PesquisaListaDialog::CheckedList() const {
    QStringList codes;
    for (int row = 0; row < RowCount(); ++row)
        if (IsChecked(row))
            codes.append(Code(row).trimmed());
    return codes.join(u',');
}

bool PesquisaListaDialog::Choose() {
    if (g_script)
        return g_script(*this);
    return exec() == QDialog::Accepted;
}
