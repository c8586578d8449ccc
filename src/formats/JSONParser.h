#pragma once

#include "formats/JSONDocument.h"
#include "formats/JSONFormatter.h"

#include <atomic>
#include <optional>

// Strict RFC 8259 reader over UTF-16 text: any value at the top level, keys kept in source order
// (duplicates included), nesting capped, faults reported as one sentence with line and column.
class JSONParser {
public:
    struct Result {
        std::optional<JSONFormatter::FormatError> error;
        qsizetype topLevelCount = -1; // members or elements of a top-level container, else -1
    };

    // Parses `text` into `document` (its tape is left empty when `buildTape` is false).
    static Result parse(const QString& text, JSONDocument* document, bool buildTape = true,
                        const std::atomic_bool* cancelled = nullptr);

    // 1-based line and column (UTF-16 units) of an offset; LF, CR and CR LF each end a line.
    static std::pair<int, int> lineAndColumn(QStringView text, qsizetype offset);
};
