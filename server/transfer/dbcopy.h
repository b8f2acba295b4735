#pragma once

#include <QStringList>

// The operator's command that moves a group's database to another engine:
//   ger-server copy --db FROM --to TO
// every table, into a target with none of our rows, in one transaction on the target, checked
// row by row on both sides before it commits. The service must be stopped meanwhile.
namespace DbCopy {

bool Handles(const QStringList &arguments); // the first argument is "copy"
int Run(const QStringList &arguments);      // the process's exit status

} // namespace DbCopy
