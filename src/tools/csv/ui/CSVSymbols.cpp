#include "tools/csv/ui/CSVSymbols.h"

#include "kit/ui/SymbolIcon.h"

QIcon csvSymbolIcon(const QString& symbol, bool tinted)
{
    return tinted ? tintedSymbolIcon(symbol, QPalette::Highlight) : symbolIcon(symbol);
}
