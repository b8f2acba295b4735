#pragma once

#include "components/hostinterface.h"

#include <QList>
#include <QPointer>
#include <QQueue>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

// Scripted host for tests: the only stand-in for the person at the desk. Registers itself on
// construction (RegisterHost) and unregisters on destruction.
//  - every message box is recorded (type, text) and answered from a queue: QueueAnswer(mrYes)...;
//    with the queue empty a box is answered mrOk for OK-only boxes, else mrNo (the cautious
//    answer), and counted in UnexpectedBoxes when it asks a question;
//  - busy-indicator calls are recorded ("show:<kind>:<text>", "hide");
//  - WebURL / WebPort / Operador are plain members;
//  - LocalDatabase is a SQLite file in a temporary directory (own connection name);
//  - AtualizaLocalCache, ShowChild, ShowHelp and HandleException are recorded;
//  - MainForm is a plain QWidget.
class TestHost final : public IHost {
public:
    struct Box {
        TMsgDlgType Type;
        QString Text;
        int Buttons;
        QString Details; // the unfoldable part, when the box had one
    };

    TestHost();
    ~TestHost() override;

    void QueueAnswer(int modalResult) { m_answers.enqueue(modalResult); }

    QList<Box> Boxes;      // every box shown, in order
    QStringList BusyCalls; // "show:6:", "show:1:Realizando...", "hide"
    QList<QStringList> CacheRefreshes;
    QList<QPointer<QWidget>> ShownChildren;
    QStringList HelpCalls;  // "Gerhelp.hlp#12409400"
    QStringList Exceptions; // what() of HandleException calls
    int UnexpectedBoxes = 0;

    QString Url = QStringLiteral("127.0.0.1");
    int Port = 9400;
    QString OperadorName = QStringLiteral("TESTE");

    // Texts of the boxes of one type (or all), for compact assertions.
    QStringList BoxTexts() const;
    QStringList ErrorTexts() const;
    void ClearRecords();

    // Runs each statement on the local database (fails the process on error: test set-up).
    void ExecLocal(const QStringList &statements);
    QString DatabasePath() const;

    // IHost
    QWidget *MainForm() override;
    void ShowChild(QWidget *form) override;
    int MessageDlg(const QString &text, TMsgDlgType type, int buttons, int helpContext) override;
    int MessageDlgDetalhes(const QString &text, const QString &details, TMsgDlgType type,
                           int buttons, int helpContext) override;
    void ShowBusy(int kind, const QString &text) override;
    void HideBusy() override;
    void ShowHelp(const QString &helpFile, int context) override;
    QString WebURL() override { return Url; }
    int WebPort() override { return Port; }
    QString Operador() override { return OperadorName; }
    void AtualizaLocalCache(const QStringList &tables) override;
    QSqlDatabase LocalDatabase() override;
    void HandleException(const std::exception &error) override;

private:
    QQueue<int> m_answers;
    std::unique_ptr<QWidget> m_mainForm;
    QTemporaryDir m_dir;
    QString m_connectionName;
};

// Lets queued work run: deferred deletes and posted events, a few rounds deep.
void Settle();
