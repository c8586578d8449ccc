#pragma once

#include <QIcon>
#include <QString>

// The icon for a symbol name the Mermaid tool shows, from the kit's table.
QIcon mermaidSymbolIcon(const QString& symbol);
