#pragma once

#include <QRegularExpression>
#include <QString>

// The expressions with which the Markdown highlighter finds headings, block quotes, list markers,
// strong and emphasised text and inline code, and the code-span mask that keeps emphasis
// markers inside inline code from being taken for emphasis. Each expression is compiled once,
// on first use from any thread, and only read afterwards.
namespace MarkdownSyntaxPatterns {

// Groups: 1 the "#" run, 2 the blanks after it, 3 the title. Horizontal space only, so a lone
// "#" line never colours the line after it.
const QRegularExpression& heading();
// Group 1: ">" and the white-space character after it.
const QRegularExpression& blockquote();
// Groups: 1 indentation, 2 the bullet or the digits with "." or ")", 3 the blank after it or the line end.
const QRegularExpression& listMarker();
// Groups 1 and 3 the markers, 2 the text between them (all three below alike).
const QRegularExpression& strong();
const QRegularExpression& emphasisAsterisk();
const QRegularExpression& emphasisUnderscore();
const QRegularExpression& inlineCode();

// The same text, of the same UTF-16 length, with every "*" and "_" inside an inline code span
// replaced by a backtick. Without any replacement the input itself comes back (shared, not copied).
QString maskingCodeSpans(const QString& text);

// The per-line step: masks the line [start, end) of `units` in place; answers whether it replaced
// anything.
bool maskCodeSpans(char16_t* units, qsizetype start, qsizetype end);

// The text with every unpaired surrogate replaced by U+FFFD (same length); the expression engine
// refuses a subject that holds one. Returns the input itself when it has none.
QString matchable(const QString& text);

} // namespace MarkdownSyntaxPatterns
