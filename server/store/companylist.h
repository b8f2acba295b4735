#pragma once

#include <QString>
#include <QStringList>

// The company list of the bulk requests: "T" for every company, or codes separated by commas.
// Blanks around items are ignored; a 1-character code gets a leading "0" ("1" -> "01"). The
// codes are only ever bound as parameters, never pasted into SQL.
class CompanyList final {
public:
    // False, with a Portuguese message naming the fault, when the text is not a list.
    static bool Parse(const QString &text, CompanyList &out, QString *error);

    bool All() const { return m_all; }
    const QStringList &Codes() const { return m_codes; } // sorted, without repeats
    // "T", or the codes joined by commas: what the caller gets back by reference.
    QString Normalised() const;

    // A single company code argument: text of 2 characters once blanks are trimmed.
    static bool ParseCode(const QString &text, QString &code, QString *error);

private:
    bool m_all = false;
    QStringList m_codes;
};
