#include "components/btnpesquisa.h"

#include "components/datasetmodel.h"
#include "components/functions.h"
#include "components/guard.h"
#include "components/hostinterface.h"
#include "dataset/datasource.h"
#include "dataset/exceptions.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace {

TBtnPesquisa::ChooseHook g_chooseHook;

// The single-choice list: the table's visible fields; returns the 1-based row or 0.
int ChooseRow(TBtnPesquisa &button, TClientDataSet &table) {
    if (g_chooseHook)
        return g_chooseHook(button, table);

    QWidget *parent = nullptr;
    try {
        parent = Host()->MainForm();
    } catch (const Exception &) {
    }
    QDialog dialog(parent);
    dialog.setObjectName(u"PesquisaDialog"_s);
    dialog.setWindowTitle(button.Title());
    TDataSetModel model;
    model.SetDataSet(&table);
    auto *view = new QTableView(&dialog);
    view->setObjectName(u"grdPesquisa"_s);
    view->setModel(&model);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setSelectionMode(QAbstractItemView::SingleSelection);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->verticalHeader()->hide();
    view->horizontalHeader()->setStretchLastSection(true);
    view->selectRow(table.RecNo() - 1);
    QObject::connect(view, &QTableView::doubleClicked, &dialog, &QDialog::accept);
    auto *buttons = new QDialogButtonBox(&dialog);
    buttons->addButton(u"OK"_s, QDialogButtonBox::AcceptRole)->setObjectName(u"btnOK"_s);
    buttons->addButton(u"Cancelar"_s, QDialogButtonBox::RejectRole)
        ->setObjectName(u"btnCancelar"_s);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    auto *layout = new QVBoxLayout(&dialog);
    layout->addWidget(view);
    layout->addWidget(buttons);
    dialog.resize(480, 360);
    if (dialog.exec() != QDialog::Accepted || !view->currentIndex().isValid())
        return 0;
    return view->currentIndex().row() + 1;
}

} // namespace

TBtnPesquisa::TBtnPesquisa(QWidget *parent)
    : QToolButton(parent) {
    setFocusPolicy(Qt::NoFocus);
    setText(u"..."_s);
    connect(this, &QToolButton::clicked, this, [this] {
        RunGuarded([this] {
            if (OnClick)
                OnClick();
            else
                Pesquisar();
        });
    });
}

TBtnPesquisa::TBtnPesquisa(const QString &name, QWidget *parent)
    : TBtnPesquisa(parent) {
    setObjectName(name);
}

QWidget *TBtnPesquisa::Associate() const {
    return m_associate;
}

void TBtnPesquisa::SetAssociate(QWidget *widget) {
    m_associate = widget;
}

TDataSource *TBtnPesquisa::DataSource() const {
    return m_dataSource;
}

void TBtnPesquisa::SetDataSource(TDataSource *source) {
    m_dataSource = source;
}

void TBtnPesquisa::SetChooseHook(ChooseHook hook) {
    g_chooseHook = std::move(hook);
}

void TBtnPesquisa::Pesquisar() {
    bool flag = false;
    if (OnBeforePesq)
        OnBeforePesq(*this, flag);
    TClientDataSet *table = &OpenSearchTable(m_dataSource, m_emptyError);
    const int row = ChooseRow(*this, *table);
    if (row < 1 || row > table->RecordCount())
        return;
    table->SetRecNo(row);
    if (m_associate)
        m_associate->setFocus();
    if (OnAfterPesq)
        OnAfterPesq(*this);
}
