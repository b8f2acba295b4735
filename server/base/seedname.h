#pragma once

#include <QString>

// The names --seed takes ("demo", "large", "large:N"), read where the options are read: an
// unknown one stops the start before any database is opened.
namespace SeedName {

// Companies of "large" without a count.
constexpr int DefaultLargeCompanies = 1000;
// Codes of two characters, each one of 36 digits; "00" is no company's.
constexpr int MaxLargeCompanies = 36 * 36 - 1;

// False with *error for a name no seed has; *companies gets N of "large:N" (0: demo).
bool Valid(const QString &seed, QString *error, int *companies = nullptr);

} // namespace SeedName
