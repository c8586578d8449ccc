#pragma once

#include "formats/JSONTextRange.h"

#include <QList>
#include <QString>

#include <optional>
#include <utility>
#include <vector>

// Token kinds for highlighting JSON, one per UTF-16 unit, and the bookkeeping that lets the
// highlighter colour large documents lazily and keep the kinds of very long lines out of the
// text document. Only LF ends a line here. GUI-thread helpers, no shared mutable state.
namespace JSONSyntaxTokens {

enum class Token : quint8 { plain = 0, punctuation = 1, number = 2, keyword = 3, string = 4, key = 5 };
std::optional<Token> tokenFromRawValue(quint8 raw);
using TokenArray = std::vector<Token>;

// A line is long from this many units on (its line feed included).
inline constexpr qsizetype longLineLength = 2049;
inline constexpr qsizetype longLineLimit = 2048;

// Kinds of the units of `range` (which must lie inside `text`): the fast scan when it accepts
// the text, else the pattern path.
TokenArray tokens(const QString& text, JSONTextRange range);
inline TokenArray tokens(const QString& text) { return tokens(text, {0, text.size()}); }

// The two paths on their own. The scanner refuses (nullopt) what it cannot classify exactly as
// the patterns would; where it accepts, both give the same kinds.
std::optional<TokenArray> scannedTokens(QStringView units);
TokenArray patternTokens(QStringView units);

// Long lines inside a line-aligned `range`.
QList<JSONTextRange> longLineRanges(JSONTextRange range, const QString& text, qsizetype limit = longLineLimit);

// From 0 to just past the n-th line feed, or to the end when there are fewer.
JSONTextRange rangeOfFirstLines(qsizetype count, const QString& text);


// Ascending, disjoint, coalesced set of positions.
class IndexSet {
public:
    void insert(JSONTextRange range);
    void remove(JSONTextRange range);
    // Moves every position at or after `from` by `delta` (positions below from + delta after a
    // negative delta must have been removed first).
    void shift(qsizetype from, qsizetype delta);
    bool contains(qsizetype position) const;
    bool containsRange(JSONTextRange range) const;
    // Sub-ranges of `range` not in the set, in order.
    QList<JSONTextRange> missing(JSONTextRange range) const;
    const QList<JSONTextRange>& ranges() const { return m_ranges; }
    bool isEmpty() const { return m_ranges.isEmpty(); }
    qsizetype count() const;
    friend bool operator==(const IndexSet&, const IndexSet&) = default;

private:
    QList<JSONTextRange> m_ranges;
};

struct LongLines {
    struct Entry {
        JSONTextRange range; // the line with its line feed
        TokenArray tokens;   // one kind per unit of range
    };
    std::vector<Entry> lines;

    void shift(JSONTextRange editedRange, qsizetype changeInLength);
    void removeLines(JSONTextRange intersecting);
    void insert(JSONTextRange range, TokenArray tokens);
    // Kind at a position and the run of that kind around it, within its line.
    std::optional<std::pair<Token, JSONTextRange>> token(qsizetype position) const;
};

struct Coverage {
    IndexSet tinted;

    // After an edit (range in the new text): the ranges to colour now.
    QList<JSONTextRange> invalidate(JSONTextRange editedRange, qsizetype changeInLength, const QString& text);
    // The not-yet-coloured parts of `range`, widened to whole lines; marks them coloured.
    QList<JSONTextRange> claim(JSONTextRange range, const QString& text);
};

} // namespace JSONSyntaxTokens
