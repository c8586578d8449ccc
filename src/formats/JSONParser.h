#pragma once

#include "formats/JSONDocument.h"
#include "formats/JSONFormatter.h"

#include <atomic>
#include <optional>

// Strict RFC 8259 reader over UTF-8 text: any value at the top level, keys kept in source order
// (duplicates included), nesting capped, faults reported as one sentence with line and column
// (in UTF-16 units, as the editors count them).
class JSONParser {
public:
    struct Result {
        std::optional<JSONFormatter::FormatError> error;
        qsizetype topLevelCount = -1; // members or elements of a top-level container, else -1
    };

    // Parses `utf8`, which must be well-formed UTF-8 (as a file is once checked, or a text
    // encoded), into `document`, which then shares it (its tape is left empty when `buildTape` is
    // false; only then is a large text checked in parts side by side).
    static Result parse(const QByteArray& utf8, JSONDocument* document, bool buildTape = true,
                        const std::atomic_bool* cancelled = nullptr);
    // The same for a text, encoded first; a lone surrogate is a fault of its own.
    static Result parse(const QString& text, JSONDocument* document, bool buildTape = true,
                        const std::atomic_bool* cancelled = nullptr);
    // Why `text` cannot be encoded as UTF-8 (its first lone surrogate), if it cannot.
    static std::optional<JSONFormatter::FormatError> encodingFault(const QString& text);
};
