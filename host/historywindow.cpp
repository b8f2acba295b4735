#include "historywindow.h"

#include "historyview.h"
#include "rules/fieldcaptions.h"

#include <QComboBox>
#include <QDateEdit>
#include <QFormLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include <exception>

using namespace Qt::StringLiterals;

HistoryWindow::HistoryWindow(TNetConnection &audit, QWidget *parent)
    : QWidget(parent)
    , m_audit(audit)
    , m_companies(new QLineEdit(u"T"_s, this))
    , m_since(new QDateEdit(this))
    , m_field(new QComboBox(this))
    , m_operator(new QLineEdit(this))
    , m_table(new QTableWidget(this))
    , m_status(new QLabel(this)) {
    setObjectName(u"frmHistorico"_s);
    setWindowTitle(u"Histórico de alterações"_s);
    m_companies->setObjectName(u"edtEmpresas"_s);
    m_companies->setToolTip(u"\"T\" para todas, ou códigos separados por vírgula"_s);
    m_since->setObjectName(u"dteDesde"_s);
    m_since->setDisplayFormat(u"dd/MM/yyyy"_s);
    m_since->setCalendarPopup(true);
    // The lowest date stands for "from the beginning".
    m_since->setMinimumDate(QDate(2000, 1, 1));
    m_since->setSpecialValueText(u"(desde o início)"_s);
    m_since->setDate(m_since->minimumDate());
    m_field->setObjectName(u"cbxCampo"_s);
    m_field->addItem(u"(todos)"_s, QString());
    for (const QString &name : CaptionedFields())
        m_field->addItem(FieldCaption(name), name);
    m_operator->setObjectName(u"edtOperador"_s);
    m_operator->setPlaceholderText(u"(todos)"_s);
    auto *search = new QPushButton(u"&Pesquisar"_s, this);
    search->setObjectName(u"btnPesquisar"_s);
    connect(search, &QPushButton::clicked, this, &HistoryWindow::Search);
    connect(m_companies, &QLineEdit::returnPressed, this, &HistoryWindow::Search);

    auto *filters = new QFormLayout;
    filters->addRow(u"Empresas:"_s, m_companies);
    filters->addRow(u"Desde:"_s, m_since);
    filters->addRow(u"Campo:"_s, m_field);
    filters->addRow(u"Operador:"_s, m_operator);
    auto *top = new QHBoxLayout;
    top->addLayout(filters, 1);
    top->addWidget(search, 0, Qt::AlignBottom);

    m_table->setObjectName(u"tblHistorico"_s);
    m_table->setColumnCount(int(HistoryView::Headers().size()));
    m_table->setHorizontalHeaderLabels(HistoryView::Headers());
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->verticalHeader()->setVisible(false);
    m_table->horizontalHeader()->setStretchLastSection(true);
    m_status->setObjectName(u"lblSituacao"_s);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(m_table, 1);
    layout->addWidget(m_status);
    resize(980, 560);
}

void HistoryWindow::SetCompanies(const QString &companies) {
    m_companies->setText(companies);
}

QString HistoryWindow::Status() const {
    return m_status->text();
}

void HistoryWindow::Search() {
    const QString since = m_since->date() == m_since->minimumDate()
                              ? QString()
                              : m_since->date().toString(Qt::ISODate);
    QList<QStringList> rows;
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    try {
        rows = HistoryView::Rows(HistoryView::Fetch(m_audit, m_companies->text().trimmed(), since,
                                                    m_field->currentData().toString(),
                                                    m_operator->text().trimmed(), MaxRows));
    } catch (const std::exception &error) {
        QGuiApplication::restoreOverrideCursor();
        m_status->setText(QString::fromUtf8(error.what()));
        return;
    }
    QGuiApplication::restoreOverrideCursor();
    m_table->setRowCount(int(rows.size()));
    for (int r = 0; r < rows.size(); ++r)
        for (int c = 0; c < rows.at(r).size(); ++c)
            m_table->setItem(r, c, new QTableWidgetItem(rows.at(r).at(c)));
    m_table->resizeColumnsToContents();
    m_status->setText(rows.isEmpty() ? u"Nenhuma alteração encontrada."_s
                      : rows.size() >= MaxRows
                          ? u"As %1 alterações mais recentes."_s.arg(rows.size())
                          : u"%1 alteração(ões)."_s.arg(rows.size()));
}
