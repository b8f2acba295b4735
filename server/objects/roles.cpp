#include "roles.h"

using namespace Qt::StringLiterals;

namespace Roles {

std::optional<Role> Parse(QStringView word) {
    if (word == u"contador")
        return Role::Contador;
    if (word == u"auditor")
        return Role::Auditor;
    if (word == u"integracao")
        return Role::Integracao;
    return std::nullopt;
}

QString Name(Role role) {
    switch (role) {
    case Role::Auditor:
        return u"auditor"_s;
    case Role::Integracao:
        return u"integracao"_s;
    case Role::Contador:
        break;
    }
    return u"contador"_s;
}

bool Allows(Role role, MethodClass kind) {
    switch (role) {
    case Role::Contador:
        return true;
    case Role::Auditor:
        return kind == MethodClass::Read || kind == MethodClass::History;
    case Role::Integracao:
        return kind == MethodClass::Read || kind == MethodClass::Gate;
    }
    return false;
}

QString Refusal(Role role, const QString &operatorName, const QString &method) {
    const QString who = operatorName.isEmpty() ? QString() : u" de %1"_s.arg(operatorName);
    return u"O perfil '%1'%2 não permite %3."_s.arg(Name(role), who, method);
}

} // namespace Roles
