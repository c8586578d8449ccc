#pragma once

#include "formats/JSONDocument.h"
#include "formats/JSONFormatter.h"

#include <atomic>
#include <optional>

// Writes a parsed document back as UTF-8: pretty with an indent unit or minified, keys in source
// order or sorted by their canonically composed form in code point order.
class JSONPrinter {
public:
    // `indentUnit` absent means minified. Printed from the document's source, which the reader has
    // checked: its tape is not read and may be left out. Nothing when `cancelled` turned true on
    // the way.
    static std::optional<QByteArray> print(const JSONDocument& document, const std::optional<QString>& indentUnit,
                                        JSONFormatter::SortMode sortMode, const std::atomic_bool* cancelled = nullptr);
};
