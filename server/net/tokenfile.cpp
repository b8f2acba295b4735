#include "tokenfile.h"

#include "rules/controlchars.h"
#include "rules/textcut.h"

#include <QHash>

#include <algorithm>
#include <cstdlib>
#include <optional>

using namespace Qt::StringLiterals;

namespace {

// Shorter tokens can be guessed.
constexpr int MinTokenLength = 32;
// Longer names are cut, as the history keeps them.
constexpr int MaxNameLength = 60;

const QStringList RoleNames = {u"contador"_s, u"auditor"_s, u"integracao"_s};

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\r';
}

std::optional<Role> RoleOf(const QString &word) {
    return Roles::Parse(word.toLower());
}

// Letters of any case or script, then optionally digits or one dot: `auditor2`, `Auditr.`.
bool ShapedLikeRole(const QString &word) {
    qsizetype letters = 0;
    while (letters < word.size() && word.at(letters).isLetter())
        ++letters;
    if (letters == 0)
        return false;
    const QStringView tail = QStringView(word).mid(letters);
    if (tail == u".")
        return true;
    return std::all_of(tail.begin(), tail.end(), [](QChar c) { return c >= u'0' && c <= u'9'; });
}

// Lower case without accents, digits or the dot after the letters.
QString Folded(const QString &word) {
    QString out;
    for (const QChar c : word.normalized(QString::NormalizationForm_D)) {
        if (c.isLetter())
            out += c.toLower();
    }
    return out;
}

// At most `limit` insertions, deletions or substitutions apart; words of a few letters only.
bool WithinEdits(QStringView a, QStringView b, int limit) {
    if (std::abs(a.size() - b.size()) > limit || a.size() > 64 || b.size() > 64)
        return false;
    QList<int> previous(b.size() + 1), current(b.size() + 1);
    for (qsizetype j = 0; j <= b.size(); ++j)
        previous[j] = int(j);
    for (qsizetype i = 1; i <= a.size(); ++i) {
        current[0] = int(i);
        for (qsizetype j = 1; j <= b.size(); ++j)
            current[j] = std::min({previous[j] + 1, current[j - 1] + 1,
                                   previous[j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1)});
        std::swap(previous, current);
    }
    return previous[b.size()] <= limit;
}

// A single word after the token that a reader would take for a role.
bool CloseToRole(const QString &word) {
    if (!ShapedLikeRole(word))
        return false;
    const QString folded = Folded(word);
    return std::any_of(RoleNames.cbegin(), RoleNames.cend(), [&](const QString &role) {
        return folded.startsWith(role) || (folded.size() >= 4 && role.startsWith(folded)) ||
               WithinEdits(folded, role, 2);
    });
}

QString NoSuchRole(const QString &word, const QString &path, int line) {
    return u"o perfil '%1' em %2 (linha %3) não existe; use contador, auditor ou integracao "
           "(um operador cujo nome termina em '%1' leva o perfil depois do nome)"_s.arg(word, path)
               .arg(line);
}

} // namespace

namespace TokenFile {

bool Parse(const QByteArray &content, const QString &path,
           QList<WsListener::Settings::Token> &tokens, QString *error) {
    QHash<QByteArray, int> lineOf;
    int number = 0;
    for (const QByteArray &raw : content.split('\n')) {
        ++number;
        QList<QByteArray> fields;
        for (qsizetype i = 0; i < raw.size();) {
            while (i < raw.size() && IsBlank(raw[i]))
                ++i;
            const qsizetype start = i;
            while (i < raw.size() && !IsBlank(raw[i]))
                ++i;
            if (i > start)
                fields.append(raw.mid(start, i - start));
        }
        if (fields.isEmpty() || fields.constFirst().startsWith('#'))
            continue;
        const QByteArray token = fields.takeFirst();
        if (token.size() < MinTokenLength) {
            *error = u"o token em %1 (linha %2) tem %3 caracteres; use %4 ou mais (por exemplo: "
                     "openssl rand -hex 32)"_s.arg(path)
                         .arg(number)
                         .arg(token.size())
                         .arg(MinTokenLength);
            return false;
        }
        QStringList words;
        for (const QByteArray &field : std::as_const(fields))
            words.append(QString::fromUtf8(field));
        Role role = Role::Contador;
        if (!words.isEmpty()) {
            const QString &last = words.constLast();
            if (const auto named = RoleOf(last)) {
                role = *named;
                words.removeLast();
            } else if (words.size() > 1 ? ShapedLikeRole(last) : CloseToRole(last)) {
                *error = NoSuchRole(last, path, number);
                return false;
            }
        }
        const QString name = words.join(u' ');
        if (ControlChars::Contains(name)) {
            *error =
                u"o nome do operador em %1 (linha %2) contém caracteres de controle"_s.arg(path)
                    .arg(number);
            return false;
        }
        if (const auto seen = lineOf.constFind(token); seen != lineOf.cend()) {
            *error = u"o mesmo token está nas linhas %1 e %2 de %3; cada token deve estar em uma "
                     "só linha"_s.arg(*seen)
                         .arg(number)
                         .arg(path);
            return false;
        }
        lineOf.insert(token, number);
        tokens.append({token, TextCut::Left(name, MaxNameLength), role});
    }
    if (tokens.isEmpty()) {
        *error = u"o arquivo do token %1 não tem token; use 32 caracteres ou mais (por exemplo: "
                 "openssl rand -hex 32)"_s.arg(path);
        return false;
    }
    return true;
}

} // namespace TokenFile
