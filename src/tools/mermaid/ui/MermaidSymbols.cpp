#include "tools/mermaid/ui/MermaidSymbols.h"

#include "kit/ui/SymbolIcon.h"

QIcon mermaidSymbolIcon(const QString& symbol)
{
    return symbolIcon(symbol);
}
