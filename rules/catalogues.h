#pragma once

#include <QStringList>

// Message catalogues of the two screens, one "key|text" line per entry; the screens load them
// into their TMessages component.
QStringList ParamContabMessages(); // accounting-parameter screen, its own msgPadrao
QStringList CadAutoMessages();     // bulk-registration screen, msgPadrao

// The text of a key of the parameter screen's catalogue, for those who check what the screen
// checks without the screen (the server); empty when the key is unknown.
QString ParamContabMessage(QStringView key);
