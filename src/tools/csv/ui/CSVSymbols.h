#pragma once

#include <QIcon>
#include <QString>

// The tool's symbols from the kit, drawn in the palette's text colour, or in the highlight
// colour where `tinted`.
QIcon csvSymbolIcon(const QString& symbol, bool tinted = false);
