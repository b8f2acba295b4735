#pragma once

#include <QString>

class Database;

// Sample content for an empty database:
//   "demo"      twelve companies arranged so every server-side message of the screens shows up;
//   "large[:N]" N companies (default 1000, at most 1295) with 5 million entries and 500
//               thousand balances, to show that no call grows with the data.
// A database that already holds a company is left alone.
namespace Seeds {

bool Run(Database &database, const QString &seed, QString *error);

} // namespace Seeds
