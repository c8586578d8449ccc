#pragma once

#include "formats/TextRange.h"

#include <QList>
#include <QString>

#include <algorithm>
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
TokenArray tokens(const QString& text, TextRange range);
inline TokenArray tokens(const QString& text) { return tokens(text, {0, text.size()}); }

// The two paths on their own. The scanner refuses (nullopt) what it cannot classify exactly as
// the patterns would; where it accepts, both give the same kinds.
std::optional<TokenArray> scannedTokens(QStringView units);
TokenArray patternTokens(QStringView units);

// Long lines inside a line-aligned `range`.
QList<TextRange> longLineRanges(TextRange range, const QString& text, qsizetype limit = longLineLimit);

// From 0 to just past the n-th line feed, or to the end when there are fewer.
TextRange rangeOfFirstLines(qsizetype count, const QString& text);


// Ascending, disjoint, coalesced set of positions.
class IndexSet {
public:
    void insert(TextRange range);
    void remove(TextRange range);
    // Moves every position at or after `from` by `delta` (positions below from + delta after a
    // negative delta must have been removed first).
    void shift(qsizetype from, qsizetype delta);
    bool contains(qsizetype position) const;
    bool containsRange(TextRange range) const;
    // Sub-ranges of `range` not in the set, in order.
    QList<TextRange> missing(TextRange range) const;
    const QList<TextRange>& ranges() const { return m_ranges; }
    bool isEmpty() const { return m_ranges.isEmpty(); }
    qsizetype count() const;
    friend bool operator==(const IndexSet&, const IndexSet&) = default;

private:
    QList<TextRange> m_ranges;
};

struct LongLines {
    struct Entry {
        TextRange range; // the line with its line feed
        TokenArray tokens;   // one kind per unit of range
    };
    std::vector<Entry> lines;

    void shift(TextRange editedRange, qsizetype changeInLength);
    void removeLines(TextRange intersecting);
    void insert(TextRange range, TokenArray tokens);
    // Kind at a position and the run of that kind around it, within its line.
    std::optional<std::pair<Token, TextRange>> token(qsizetype position) const;
};

struct Coverage {
    IndexSet tinted;

    // After an edit (range in the new text): the ranges to colour now.
    QList<TextRange> invalidate(TextRange editedRange, qsizetype changeInLength, const QString& text);
    // The not-yet-coloured parts of `range`, widened to whole lines; marks them coloured.
    QList<TextRange> claim(TextRange range, const QString& text);

    // The same over any store of text. `Lines` has size(), at(position), lineStart(position) (of
    // the line holding it), lineEnd(from, position) (`position` itself when a line feed ends there
    // after `from`, else just past the line holding it) and longLines(line-aligned range).
    template <class Lines>
    QList<TextRange> invalidate(TextRange editedRange, qsizetype changeInLength, const Lines& lines);
    template <class Lines>
    QList<TextRange> claim(TextRange range, const Lines& lines);
};

template <class Lines>
QList<TextRange> Coverage::invalidate(TextRange editedRange, qsizetype changeInLength, const Lines& lines)
{
    const qsizetype oldEnd = editedRange.end() - changeInLength;
    tinted.remove({editedRange.location, oldEnd - editedRange.location});
    tinted.shift(oldEnd, changeInLength);
    const qsizetype n = lines.size();
    if (n == 0)
        return {};
    const qsizetype location = std::min(n, std::max<qsizetype>(0, editedRange.location));
    const qsizetype length = std::min(n - location, std::max<qsizetype>(0, editedRange.length));
    // One unit wider, unless the edit was an insertion at a line start.
    const bool insertedAtLineStart = changeInLength == length && (location == 0 || lines.at(location - 1) == u'\n');
    const qsizetype extended = std::min(n - location, insertedAtLineStart ? length : length + 1);
    const qsizetype start = lines.lineStart(location);
    const qsizetype e = location + extended;
    const qsizetype end = lines.lineEnd(extended > 0 ? e - 1 : e, e);
    const TextRange span{start, end - start};
    tinted.remove(span);
    QList<TextRange> result;
    if (span.length < longLineLength)
        result.append(span);
    else
        result = lines.longLines(span);
    for (const TextRange& r : std::as_const(result))
        tinted.insert(r);
    return result;
}

template <class Lines>
QList<TextRange> Coverage::claim(TextRange range, const Lines& lines)
{
    const qsizetype n = lines.size();
    const qsizetype lo = std::min(n, std::max<qsizetype>(0, range.location));
    const qsizetype hi = std::min(n, std::max(lo, range.end()));
    QList<TextRange> result;
    for (const TextRange& run : tinted.missing({lo, hi - lo})) {
        const qsizetype start = lines.lineStart(run.location);
        const qsizetype end = lines.lineEnd(run.location, run.end());
        if (!result.isEmpty() && result.last().end() >= start) {
            TextRange& last = result.last();
            last.length = std::max(last.end(), end) - last.location;
        } else {
            result.append({start, end - start});
        }
    }
    for (const TextRange& r : std::as_const(result))
        tinted.insert(r);
    return result;
}

} // namespace JSONSyntaxTokens
