#include "components/messages.h"

TMessages::TMessages(QObject *parent)
    : QObject(parent) {}

TMessages::TMessages(const QString &name, QObject *parent)
    : QObject(parent) {
    setObjectName(name);
}

void TMessages::SetLines(const QStringList &lines) {
    m_lines = lines;
}

QString TMessages::Msg(const QString &key) const {
    for (const QString &line : m_lines) {
        const qsizetype bar = line.indexOf(u'|');
        if (bar >= 0 && QStringView(line).left(bar).compare(key, Qt::CaseInsensitive) == 0)
            return line.mid(bar + 1);
    }
    return {};
}

bool TMessages::HasKey(const QString &key) const {
    for (const QString &line : m_lines) {
        const qsizetype bar = line.indexOf(u'|');
        if (bar >= 0 && QStringView(line).left(bar).compare(key, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

int TMessages::ShowMsg(const QString &key, TMsgDlgType type, int buttons, int helpContext) const {
    return Host()->MessageDlg(Msg(key), type, buttons, helpContext);
}
