#include "testhost.h"

#include <QCoreApplication>

#include <QSqlError>
#include <QSqlQuery>
#include <QUuid>
#include <QWidget>

#include <cstdio>
#include <cstdlib>

using namespace Qt::StringLiterals;

TestHost::TestHost()
    : m_connectionName(u"testhost-"_s + QUuid::createUuid().toString(QUuid::WithoutBraces)) {
    QSqlDatabase db = QSqlDatabase::addDatabase(u"QSQLITE"_s, m_connectionName);
    db.setDatabaseName(DatabasePath());
    if (!db.open()) {
        std::fprintf(stderr, "test host: cannot open %s\n", qPrintable(DatabasePath()));
        std::abort();
    }
    RegisterHost(this);
}

TestHost::~TestHost() {
    RegisterHost(nullptr);
    {
        QSqlDatabase db = QSqlDatabase::database(m_connectionName, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(m_connectionName);
}

QString TestHost::DatabasePath() const {
    return m_dir.filePath(u"local.sqlite"_s);
}

QStringList TestHost::BoxTexts() const {
    QStringList texts;
    for (const Box &box : Boxes)
        texts.append(box.Text);
    return texts;
}

QStringList TestHost::ErrorTexts() const {
    QStringList texts;
    for (const Box &box : Boxes)
        if (box.Type == TMsgDlgType::mtError)
            texts.append(box.Text);
    return texts;
}

void TestHost::ClearRecords() {
    Boxes.clear();
    BusyCalls.clear();
    CacheRefreshes.clear();
    HelpCalls.clear();
    Exceptions.clear();
    UnexpectedBoxes = 0;
}

void TestHost::ExecLocal(const QStringList &statements) {
    QSqlQuery query(LocalDatabase());
    for (const QString &statement : statements) {
        if (!query.exec(statement)) {
            std::fprintf(stderr, "test host: %s\n  %s\n", qPrintable(statement),
                         qPrintable(query.lastError().text()));
            std::abort();
        }
    }
}

QWidget *TestHost::MainForm() {
    if (!m_mainForm) {
        m_mainForm = std::make_unique<QWidget>();
        m_mainForm->setObjectName(u"frmPrincipal"_s);
    }
    return m_mainForm.get();
}

void TestHost::ShowChild(QWidget *form) {
    ShownChildren.append(form);
    form->show();
}

int TestHost::MessageDlg(const QString &text, TMsgDlgType type, int buttons, int helpContext) {
    Q_UNUSED(helpContext);
    Boxes.append({type, text, buttons, {}});
    if (!m_answers.isEmpty())
        return m_answers.dequeue();
    if (buttons == mbOK)
        return mrOk;
    ++UnexpectedBoxes;
    return (buttons & mbNo) ? mrNo : mrCancel;
}

int TestHost::MessageDlgDetalhes(const QString &text, const QString &details, TMsgDlgType type,
                                 int buttons, int helpContext) {
    const int answer = MessageDlg(text, type, buttons, helpContext);
    Boxes.last().Details = details;
    return answer;
}

void TestHost::ShowBusy(int kind, const QString &text) {
    BusyCalls.append(u"show:%1:%2"_s.arg(kind).arg(text));
}

void TestHost::HideBusy() {
    BusyCalls.append(u"hide"_s);
}

void TestHost::ShowHelp(const QString &helpFile, int context) {
    HelpCalls.append(u"%1#%2"_s.arg(helpFile).arg(context));
}

void TestHost::AtualizaLocalCache(const QStringList &tables) {
    CacheRefreshes.append(tables);
}

QSqlDatabase TestHost::LocalDatabase() {
    return QSqlDatabase::database(m_connectionName);
}

void TestHost::HandleException(const std::exception &error) {
    Exceptions.append(QString::fromUtf8(error.what()));
}

void Settle() {
    for (int i = 0; i < 3; ++i) {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::processEvents();
    }
}
