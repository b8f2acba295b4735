#pragma once

#include "components/hostinterface.h"

#include <QObject>
#include <QString>
#include <QStringList>

// A screen's message catalogue: lines "key|text". Keys match without regard to letter case; only
// the first bar separates, the text keeps everything after it (further bars, "%s", trailing and
// doubled blanks). Lines without a bar are kept in Lines() but are no entry.
// The catalogue never formats: callers fill "%s" with Format (functions.h).
class TMessages final : public QObject {
    Q_OBJECT
public:
    explicit TMessages(QObject *parent = nullptr);
    TMessages(const QString &name, QObject *parent);

    void SetLines(const QStringList &lines);
    const QStringList &Lines() const { return m_lines; }

    // Text of the first entry with that key; EMPTY TEXT when there is no such key (no failure:
    // a missing message must not hide the failure that asked for it).
    QString Msg(const QString &key) const;
    bool HasKey(const QString &key) const;

    // Looks the text up and shows it in a modal box through the host. Returns the TModalResult of
    // the button pressed (mrYes, mrNo, mrOk, ...).
    int ShowMsg(const QString &key, TMsgDlgType type, int buttons, int helpContext) const;

private:
    QStringList m_lines;
};
