#pragma once

#include <QIcon>
#include <QPalette>
#include <QString>

// The icon for a symbol name ("doc.text", "envelope"): the desktop theme's icon of that meaning
// when it has one, else the program's bundled SVG tinted, whenever it is drawn, with the
// application palette's colour of `role` (so it follows a switch between light and dark).
QIcon symbolIcon(const QString& symbol);
// Always the bundled SVG, in the colour of `role` (the accent is QPalette::Highlight).
QIcon tintedSymbolIcon(const QString& symbol, QPalette::ColorRole role);
