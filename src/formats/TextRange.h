#pragma once

#include <QtGlobal>

// A span of text in UTF-16 units: what editors, searches and highlighters exchange.
struct TextRange {
    qsizetype location = 0;
    qsizetype length = 0;

    constexpr qsizetype end() const { return location + length; }
    constexpr bool contains(qsizetype position) const { return position >= location && position < end(); }
    friend constexpr bool operator==(const TextRange&, const TextRange&) = default;
};
