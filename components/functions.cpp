#include "components/functions.h"

#include "components/adoibquery.h"
#include "components/application.h"
#include "components/errors.h"
#include "components/hostinterface.h"
#include "components/pesquisalistadialog.h"
#include "dataset/datasource.h"

#include <QApplication>
#include <QJsonArray>
#include <QWidget>

using namespace Qt::StringLiterals;

bool EmptyString(const QString &text) {
    return text.trimmed().isEmpty();
}

void MensErro(const QString &text, bool abandon) {
    Q_UNUSED(abandon);
    throw EUserError(text);
}

void CheckResultOk(const TResultEnvelope &result) {
    if (result.Ok)
        return;
    QString message = result.ErrorMessage;
    if (EmptyString(message))
        message = u"O servidor de aplicação recusou a operação."_s;
    throw EServerError(message, result.ErrorCode);
}

QJsonValue CheckResultServ(const TResultEnvelope &result, bool report, int index) {
    if (!result.Ok && !report)
        return QJsonValue();
    CheckResultOk(result);
    if (index > 0 && result.Payload.isArray())
        return result.Payload.toArray().at(index);
    return result.Payload;
}

QString Ajusta(const QString &code, int width) {
    const QString trimmed = code.trimmed();
    if (trimmed.isEmpty())
        return trimmed;
    for (const QChar c : trimmed)
        if (!c.isDigit())
            return trimmed;
    return trimmed.rightJustified(width, u'0');
}

TDateTime PriDiaMes(TDateTime date) {
    return DateTimeUtil::FirstDayOfMonth(date);
}

TDateTime UltimoDiaMes(TDateTime date) {
    return DateTimeUtil::LastDayOfMonth(date);
}

void SetChildEnabled(QWidget *container, bool enabled) {
    if (!container)
        return;
    const auto children = container->findChildren<QWidget *>();
    for (QWidget *child : children)
        child->setEnabled(enabled);
}

void ActiveShowAvi(QWidget *mainForm, int kind, const QString &text) {
    Q_UNUSED(mainForm); // the host owns the indicator and knows its own main window
    Host()->ShowBusy(kind, text);
}

void DeactiveShowAvi() {
    Host()->HideBusy();
}

QString WebURL() {
    return Host()->WebURL();
}

int WebPort() {
    return Host()->WebPort();
}

QString Operador() {
    return Host()->Operador();
}

void AtualizaLocalCache(const QStringList &tables) {
    Host()->AtualizaLocalCache(tables);
}

TApplication *Application() {
    return TApplication::Instance();
}

void SetCursorHourglass() {
    QApplication::setOverrideCursor(Qt::WaitCursor);
}

void SetCursorDefault() {
    while (QApplication::overrideCursor())
        QApplication::restoreOverrideCursor();
}

QString Format(const QString &text, const QStringList &args) {
    QString result;
    result.reserve(text.size());
    qsizetype next = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == u'%' && i + 1 < text.size()) {
            if (text[i + 1] == u's' && next < args.size()) {
                result += args[next++];
                ++i;
                continue;
            }
            if (text[i + 1] == u'%') {
                result += u'%';
                ++i;
                continue;
            }
        }
        result += text[i];
    }
    return result;
}

TClientDataSet &OpenSearchTable(TDataSource *source, const QString &emptyMessage) {
    TClientDataSet *table = source ? source->DataSet() : nullptr;
    if (!table)
        MensErro(emptyMessage);
    if (!table->Active()) {
        if (auto *query = qobject_cast<TADOIBQuery *>(table))
            query->Open();
        else
            table->Open();
    }
    if (table->IsEmpty())
        MensErro(emptyMessage);
    return *table;
}

bool PesquisaLista(TDataSource *source, const QString &keyField, const QString &titleAndEmpty,
                   bool flag, QString &list) {
    Q_UNUSED(flag);
    const qsizetype bar = titleAndEmpty.indexOf(u'|');
    const QString title = bar < 0 ? titleAndEmpty : titleAndEmpty.left(bar);
    const QString emptyMessage = bar < 0 ? QString() : titleAndEmpty.mid(bar + 1);

    TClientDataSet *table = &OpenSearchTable(source, emptyMessage);

    QWidget *parent = nullptr;
    try {
        parent = Host()->MainForm();
    } catch (const Exception &) {
    }
    PesquisaListaDialog dialog(*table, keyField, title, parent);
    dialog.Preselect(list);
    if (!dialog.Choose())
        return false;
    list = dialog.CheckedList();
    return true;
}
