#pragma once

#include <QStringList>

// The operator's commands that move a group's data in and out as CSV files:
//   ger-server import KIND FILE [--db URL | --config FILE]
//   ger-server export KIND FILE|- [--db URL | --config FILE]
// on the same database as the service, while it runs.
namespace DataTransfer {

bool Handles(const QStringList &arguments); // the first argument names one of the commands
int Run(const QStringList &arguments);      // the process's exit status

} // namespace DataTransfer
