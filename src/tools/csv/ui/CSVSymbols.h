#pragma once

#include <QIcon>
#include <QString>

// The tool's own symbols (filter, columns, header row, reset), drawn in the palette's text
// colour, or in the highlight colour where `tinted`; other symbols come from the kit.
QIcon csvSymbolIcon(const QString& symbol, bool tinted = false);
