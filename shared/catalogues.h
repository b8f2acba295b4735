#pragma once

#include <QStringList>

// Message catalogues of the two screens, one "key|text" line per entry; the screens load them
// into their TMessages component.
QStringList ParamContabMessages(); // accounting-parameter screen, its own msgPadrao
QStringList CadAutoMessages();     // bulk-registration screen, msgPadrao
