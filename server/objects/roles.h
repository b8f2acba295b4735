#pragma once

#include <QString>
#include <QStringView>

#include <optional>

// What a token lets its operator do. A token without a role is an accountant's, so token files
// written before roles existed keep working; so is a loopback client without a token.
enum class Role { Contador, Auditor, Integracao };

// What a method does, as far as roles go.
enum class MethodClass {
    Read,    // reads records and tables
    History, // reads the change history
    Gate,    // asks the period gate
    Write,   // changes anything
};

namespace Roles {

std::optional<Role> Parse(QStringView word); // "contador", "auditor", "integracao"
QString Name(Role role);
bool Allows(Role role, MethodClass kind);
// The refusal a client reads: names the role and the method.
QString Refusal(Role role, const QString &operatorName, const QString &method);

} // namespace Roles
