#pragma once

#include "formats/TextRange.h"

#include <QList>
#include <QString>

#include <atomic>
#include <optional>

// Case- and diacritic-insensitive find over JSON text, optionally limited to object keys or to
// values, plus the lookups the editors make while drawing. Match lists are ascending, never
// overlapping, every length above 0, in UTF-16 units.
namespace JSONSearch {

enum class Scope { all, keys, values };
inline constexpr Scope allScopes[] = {Scope::all, Scope::keys, Scope::values};
QString rawValue(Scope scope);                       // "all", "keys", "values"
std::optional<Scope> scopeFromRawValue(const QString& raw);

using MatchList = QList<TextRange>;

// Every occurrence of `query` (as typed, not trimmed) in `text` within `scope`. Stops early with
// an incomplete list when `cancelled` becomes true.
MatchList matches(const QString& query, const QString& text, Scope scope,
                  const std::atomic_bool* cancelled = nullptr);

// The match to select from `selection` going forward (next) or backward, wrapping at the ends.
std::optional<TextRange> target(TextRange selection, const MatchList& matches, bool forward);

// "No matches", "12 matches", "3 of 12 matches", "1 of 1 match" (numbers in the user's locale).
QString statusText(const MatchList& matches, TextRange current);

// Position of exactly `range` in the list.
std::optional<qsizetype> index(TextRange range, const MatchList& matches);

// For a position: the match holding it (isMatch, with its index), or the gap between matches
// that holds it (index -1).
struct Segment {
    bool isMatch = false;
    qsizetype index = -1;
    TextRange range;
    friend bool operator==(const Segment&, const Segment&) = default;
};
Segment segment(qsizetype position, const MatchList& matches, qsizetype textLength);

} // namespace JSONSearch
