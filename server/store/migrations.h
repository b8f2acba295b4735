#pragma once

#include <QString>

class Database;

// Brings the schema to the newest version, one numbered migration per transaction. Several
// servers may start against one PostgreSQL database at once: each migration re-checks the
// version under a lock, so it runs exactly once.
namespace Migrations {

int LatestVersion();
bool Run(Database &database, QString *error);

} // namespace Migrations
