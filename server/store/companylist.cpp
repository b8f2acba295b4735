#include "companylist.h"

#include "rules/controlchars.h"
#include "rules/textcut.h"

#include <QSet>

using namespace Qt::StringLiterals;

namespace {

bool isCodeChar(QChar c) {
    return (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z');
}

} // namespace

bool CompanyList::Parse(const QString &text, CompanyList &out, QString *error) {
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty()) {
        *error = u"Lista de empresas inválida: nenhuma empresa informada."_s;
        return false;
    }
    CompanyList list;
    if (trimmed == u"T"_s) {
        list.m_all = true;
        out = list;
        return true;
    }
    const QStringList items = trimmed.split(u',');
    QSet<QString> seen; // repeats are dropped in constant time each: a list may be long
    for (qsizetype i = 0; i < items.size(); ++i) {
        const QString item = items.at(i).trimmed();
        const qsizetype position = i + 1;
        if (item.isEmpty()) {
            *error = u"Lista de empresas inválida: item vazio na posição %1."_s.arg(position);
            return false;
        }
        if (item == u"T"_s) {
            *error = u"Lista de empresas inválida: \"T\" (todas) não pode ser combinado com "
                     "outras empresas."_s;
            return false;
        }
        if (item.size() > 2 || !std::all_of(item.begin(), item.end(), isCodeChar)) {
            // The item is the client's: quote no more of it than a code could be.
            const QString shown = item.size() > 8 ? TextCut::Left(item, 8) + u"..."_s : item;
            *error = u"Lista de empresas inválida: código '%1' na posição %2."_s.arg(shown).arg(
                position);
            return false;
        }
        const QString code = item.size() == 1 ? u"0"_s + item : item;
        if (!seen.contains(code)) {
            seen.insert(code);
            list.m_codes.append(code);
        }
    }
    list.m_codes.sort();
    out = list;
    return true;
}

QString CompanyList::Normalised() const {
    return m_all ? u"T"_s : m_codes.join(u',');
}

bool CompanyList::ParseCode(const QString &text, QString &code, QString *error) {
    const QString trimmed = text.trimmed();
    if (trimmed.size() != 2) {
        *error = u"Código de empresa inválido: '%1' (deve ter 2 caracteres)."_s.arg(
            text.size() > 8 ? TextCut::Left(text, 8) + u"..."_s : text);
        return false;
    }
    if (ControlChars::Contains(trimmed)) {
        *error = u"Código de empresa inválido: contém caracteres de controle."_s;
        return false;
    }
    code = trimmed;
    return true;
}
