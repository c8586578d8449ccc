#pragma once

#include <QIcon>
#include <QString>

// The icon for a symbol name ("doc.text", "envelope"): the desktop theme's icon of that meaning
// when it has one, else the program's bundled SVG (tinted for the current palette).
QIcon symbolIcon(const QString& symbol);
