#pragma once

#include <QIcon>
#include <QString>

// The icon for a symbol name the Mermaid tool shows: the kit's, or one of the tool's own
// bundled SVGs drawn in the palette's text colour whenever it is painted.
QIcon mermaidSymbolIcon(const QString& symbol);
