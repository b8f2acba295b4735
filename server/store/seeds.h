#pragma once

#include <QString>

class Database;

// Sample content for an empty database:
//   "demo"      twelve companies arranged so every server-side message of the screens shows up;
//   "large[:N]" N companies (default 1000, at most 1295) with 5,000 entries and 500 balances
//               each, to show that no call grows with the data.
// A database that already holds a company is left alone (*seeded false).
namespace Seeds {

// False with *error for a seed name Run would refuse; *companies gets N of "large:N" (0: demo).
bool Valid(const QString &seed, QString *error, int *companies = nullptr);
bool Run(Database &database, const QString &seed, QString *error, bool *seeded = nullptr);

} // namespace Seeds
