#pragma once
// Fonts of the windows. The design uses MS Sans Serif 8 pt and, in the
// terminal, Courier New 8 pt; where those are missing, the nearest families
// that exist and hold Cyrillic letters take their place.

#include <QFont>
#include <QStringList>

// The first of the families that the font database knows, or "" for none.
QString FirstInstalledFamily(const QStringList &families);

QFont WindowFont();
QFont TerminalFont(); // always fixed pitch
