#pragma once

#include "wslistener.h"

#include <QByteArray>
#include <QString>

// The token file's lines: `TOKEN [OPERATOR...] [ROLE]`, fields split on any run of blanks. The
// last word is the role when it names one, whatever its case. A last word shaped like a role
// (letters, then digits or a dot) that names none is refused after an operator's name; alone
// after the token it is the operator's name, unless it is close to a role, as `auditoria` or
// `integração` are: a misspelt role must never leave its operator with every right.
namespace TokenFile {

// False with *error naming `path` and the line(s).
bool Parse(const QByteArray &content, const QString &path,
           QList<WsListener::Settings::Token> &tokens, QString *error);

} // namespace TokenFile
