#include "kit/ui/JSONSyntaxHighlighter.h"

#include "kit/Palette.h"
#include "kit/CodeTextBuffer.h"

#include <algorithm>

using JSONSyntaxTokens::Token;

JSONSyntaxHighlighter::JSONSyntaxHighlighter(bool largeDocument, bool separateLongLines)
    : m_separateLongLines(separateLongLines)
{
    if (largeDocument)
        m_coverage.emplace();
}

QColor JSONSyntaxHighlighter::colour(Token kind, bool dark)
{
    switch (kind) {
    case Token::plain:
        return QColor();
    case Token::punctuation:
        return Palette::muted().resolved(dark);
    case Token::number:
        return Palette::orange().resolved(dark);
    case Token::keyword:
        return Palette::crimson().resolved(dark);
    case Token::string:
        return Palette::green().resolved(dark);
    case Token::key:
        return Palette::teal().resolved(dark);
    }
    return QColor();
}

static qsizetype lineStartBefore(const CodeTextBuffer& buffer, qsizetype position)
{
    return buffer.lineStart(buffer.lineAt(position));
}

static qsizetype lineEndFrom(const CodeTextBuffer& buffer, qsizetype position)
{
    if (position >= buffer.length())
        return buffer.length();
    const qsizetype line = buffer.lineAt(position);
    return line + 1 < buffer.lineCount() ? buffer.lineStart(line + 1) : buffer.length();
}

// The line-aligned end at or after `position`: `position` itself when a line feed ends there.
static qsizetype lineEndAt(const CodeTextBuffer& buffer, qsizetype from, qsizetype position)
{
    if (position > from && position <= buffer.length() && buffer.at(position - 1) == u'\n')
        return position;
    return lineEndFrom(buffer, position);
}

// Line by line: an unclosed string would otherwise run on into the lines after it, colouring
// them differently from when they are coloured on their own.
static JSONSyntaxTokens::TokenArray tokensOf(const CodeTextBuffer& buffer, TextRange range)
{
    const QString text = buffer.mid(range.location, range.length);
    JSONSyntaxTokens::TokenArray out;
    out.reserve(size_t(text.size()));
    qsizetype start = 0;
    while (start < text.size()) {
        const qsizetype lf = text.indexOf(u'\n', start);
        const qsizetype end = lf < 0 ? text.size() : lf + 1;
        const JSONSyntaxTokens::TokenArray line = JSONSyntaxTokens::tokens(text, {start, end - start});
        out.insert(out.end(), line.begin(), line.end());
        start = end;
    }
    return out;
}

// Lines of more than `limit` units (line feed included) inside the line-aligned `span`. A span
// may be the whole of a new text: the buffer finds them from its blocks, never line by line
// through the text.
static QList<TextRange> longLinesIn(const CodeTextBuffer& buffer, TextRange span, qsizetype limit)
{
    QList<TextRange> out;
    for (const auto& [start, length] : buffer.linesLongerThan(limit, span.location, span.end()))
        out.append({start, length});
    return out;
}

namespace {
// The lines of a buffer, for the coverage.
struct BufferLines {
    const CodeTextBuffer& buffer;

    qsizetype size() const { return buffer.length(); }
    QChar at(qsizetype position) const { return buffer.at(position); }
    qsizetype lineStart(qsizetype position) const { return lineStartBefore(buffer, position); }
    qsizetype lineEnd(qsizetype from, qsizetype position) const { return lineEndAt(buffer, from, position); }
    QList<TextRange> longLines(TextRange span) const
    {
        return longLinesIn(buffer, span, JSONSyntaxTokens::longLineLimit);
    }
};
} // namespace

void JSONSyntaxHighlighter::tint(TextRange range, const CodeTextBuffer& buffer)
{
    if (range.length <= 0)
        return;
    m_short.removeLines(range);
    m_longLines.removeLines(range);
    // Kept in pieces of whole lines, so an edit later drops and redoes only its piece.
    constexpr qsizetype piece = 4096;
    qsizetype start = range.location;
    const qsizetype end = range.end();
    while (start < end) {
        qsizetype cut = end;
        if (end - start > piece) {
            const qsizetype lineEnd = lineEndFrom(buffer, start + piece);
            cut = lineEnd >= end ? end : lineEnd;
        }
        const TextRange part{start, cut - start};
        m_short.insert(part, tokensOf(buffer, part));
        start = cut;
    }
}

// The span, in the new text, of the stored pieces that an edit breaks (and shift drops).
static std::optional<TextRange> brokenSpan(const JSONSyntaxTokens::LongLines& store, TextRange edited,
                                               qsizetype change)
{
    const qsizetype oldEnd = edited.end() - change;
    std::optional<qsizetype> start, end;
    for (const auto& e : store.lines) {
        if (e.range.end() <= edited.location || e.range.location >= oldEnd)
            continue;
        const qsizetype s = std::min(e.range.location, edited.location);
        const qsizetype t = e.range.end() >= oldEnd ? e.range.end() + change : edited.end();
        start = start ? std::min(*start, s) : s;
        end = end ? std::max(*end, t) : t;
    }
    if (!start)
        return std::nullopt;
    return TextRange{*start, std::max<qsizetype>(0, *end - *start)};
}

static TextRange unite(std::optional<TextRange> a, std::optional<TextRange> b)
{
    if (!a)
        return b.value_or(TextRange{});
    if (!b)
        return *a;
    const qsizetype s = std::min(a->location, b->location);
    return {s, std::max(a->end(), b->end()) - s};
}

void JSONSyntaxHighlighter::storeLongLine(TextRange range, const CodeTextBuffer& buffer)
{
    m_short.removeLines(range);
    m_longLines.removeLines(range);
    const bool deferred = m_deferredLongLines > 0 && range.length >= m_deferredLongLines;
    m_longLines.insert(range, deferred ? JSONSyntaxTokens::TokenArray() : tokensOf(buffer, range));
}

QList<TextRange> JSONSyntaxHighlighter::pendingLongLines() const
{
    QList<TextRange> pending;
    for (const auto& e : m_longLines.lines)
        if (qsizetype(e.tokens.size()) != e.range.length)
            pending.append(e.range);
    return pending;
}

bool JSONSyntaxHighlighter::fillLongLine(TextRange range, JSONSyntaxTokens::TokenArray tokens)
{
    if (qsizetype(tokens.size()) != range.length)
        return false;
    for (auto& e : m_longLines.lines) {
        if (e.range == range && qsizetype(e.tokens.size()) != range.length) {
            e.tokens = std::move(tokens);
            return true;
        }
    }
    return false;
}

void JSONSyntaxHighlighter::applyEdit(const CodeTextBuffer& buffer, TextRange edited, qsizetype changeInLength)
{
    const TextRange broken =
        unite(brokenSpan(m_short, edited, changeInLength), brokenSpan(m_longLines, edited, changeInLength));
    m_short.shift(edited, changeInLength);
    m_longLines.shift(edited, changeInLength);
    const qsizetype length = buffer.length();
    if (!m_coverage) {
        if (length == 0)
            return;
        // The edited paragraphs, one unit wider unless the edit was an insertion after a break.
        const qsizetype c = std::min(length, std::max<qsizetype>(0, edited.location));
        const qsizetype d = std::min(length - c, std::max<qsizetype>(0, edited.length));
        const bool afterBreak = edited.length >= 1 && edited.length == changeInLength && edited.end() <= length
            && (c == 0 || buffer.at(c - 1) == u'\n' || buffer.at(c - 1) == QChar::ParagraphSeparator);
        const qsizetype r = std::max<qsizetype>(1, std::min(length - c, d + (afterBreak ? 0 : 1)));
        qsizetype start = c;
        qsizetype end = std::max(c + std::max<qsizetype>(d, c < length ? 1 : 0), c + (c < length ? r : 0));
        if (broken.length > 0) {
            start = std::min(start, broken.location);
            end = std::min(length, std::max(end, broken.end()));
        }
        const qsizetype from = lineStartBefore(buffer, start);
        tint({from, lineEndAt(buffer, from, end) - from}, buffer);
        return;
    }
    const QList<TextRange> ranges = m_coverage->invalidate(edited, changeInLength, BufferLines{buffer});
    // What the edit broke beyond its own lines is coloured again when it next comes into view.
    if (broken.length > 0) {
        m_coverage->tinted.remove(broken);
        for (const TextRange& r : ranges)
            m_coverage->tinted.insert(r);
    }
    for (const TextRange& r : ranges) {
        if (r.length < JSONSyntaxTokens::longLineLength || !m_separateLongLines)
            tint(r, buffer);
        else
            storeLongLine(r, buffer);
    }
}

bool JSONSyntaxHighlighter::ensureTinted(TextRange range, const CodeTextBuffer& buffer)
{
    if (!m_coverage)
        return false;
    const QList<TextRange> ranges = m_coverage->claim(range, BufferLines{buffer});
    for (const TextRange& r : ranges)
        tint(r, buffer);
    return !ranges.isEmpty();
}

bool JSONSyntaxHighlighter::isTinted(TextRange range) const
{
    return !m_coverage || range.length <= 0 || m_coverage->tinted.containsRange(range);
}

std::optional<std::pair<Token, TextRange>> JSONSyntaxHighlighter::token(qsizetype position) const
{
    if (auto t = m_longLines.token(position))
        return t;
    return m_short.token(position);
}

void JSONSyntaxHighlighter::appendRuns(const JSONSyntaxTokens::LongLines& store, qsizetype from, qsizetype to,
                                       QList<CodeTextRun>& out) const
{
    const auto& lines = store.lines;
    auto it = std::upper_bound(lines.cbegin(), lines.cend(), from,
                               [](qsizetype position, const auto& e) { return position < e.range.end(); });
    for (; it != lines.cend() && it->range.location < to; ++it) {
        if (qsizetype(it->tokens.size()) != it->range.length)
            continue; // kinds still being computed
        const qsizetype base = it->range.location;
        const qsizetype a = std::max(from, base);
        const qsizetype b = std::min(to, it->range.end());
        qsizetype i = a;
        while (i < b) {
            const Token kind = it->tokens[size_t(i - base)];
            qsizetype j = i + 1;
            while (j < b && it->tokens[size_t(j - base)] == kind)
                ++j;
            if (kind != Token::plain) {
                CodeTextRun run;
                run.from = i;
                run.to = j;
                run.foreground = colour(kind, m_dark);
                out.append(run);
            }
            i = j;
        }
    }
}

void JSONSyntaxHighlighter::runs(const CodeTextBuffer&, qsizetype from, qsizetype to, QList<CodeTextRun>& out) const
{
    appendRuns(m_short, from, to, out);
    appendRuns(m_longLines, from, to, out);
}
