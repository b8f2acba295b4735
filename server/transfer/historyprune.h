#pragma once

#include <QStringList>

// `ger-server prune-history DATE FILE`: the change history from its oldest row up to the last
// one before DATE, in the chain's order, written to FILE (as `export historico` writes it) and
// then removed; the chain's anchor becomes the last row removed, so what remains still verifies
// and the file verifies on its own up to that anchor. A broken chain is not pruned: the rows
// that show it would go.
namespace HistoryPrune {

bool Handles(const QStringList &arguments);
// Exit code: 0 done (or nothing before DATE), 1 refused or failed, 2 a usage mistake.
int Run(const QStringList &arguments);

} // namespace HistoryPrune
