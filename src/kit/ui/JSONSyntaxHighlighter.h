#pragma once

#include "kit/CodeTextHighlighter.h"
#include "formats/JSONSyntaxTokens.h"

#include <QColor>

#include <optional>

// Colours a JSON editor by token kind. In large-document mode it colours lazily: only lines
// that were brought into view (ensureTinted) or touched by an edit get their kinds computed.
// JSON tokens never span a line break, so kinds are computed line by line from the view's
// buffer, reading only the lines concerned.
// Lines of 2,049 units or more are kept apart in `longLines`, found by binary search while
// drawing. Colours are never written into the text: the view asks for runs per painted slice.
class JSONSyntaxHighlighter : public CodeTextHighlighter {
public:
    // With `separateLongLines` false (a host without its own match drawing), long lines are
    // kept like short ones.
    JSONSyntaxHighlighter(bool largeDocument, bool separateLongLines = true);

    bool isLargeDocument() const { return m_coverage.has_value(); }
    void setDark(bool dark) { m_dark = dark; }

    // The colour of a token kind; invalid for plain text (the view's own text colour).
    static QColor colour(JSONSyntaxTokens::Token kind, bool dark);

    // After an edit of the text `buffer` now holds: the edited range in the new text and the
    // change in length.
    void applyEdit(const CodeTextBuffer& buffer, TextRange edited, qsizetype changeInLength);
    // Colours what in `range` is not coloured yet (large-document mode only); answers whether
    // anything was.
    bool ensureTinted(TextRange range, const CodeTextBuffer& buffer);
    // Whether every position of `range` is coloured (always true outside large-document mode).
    bool isTinted(TextRange range) const;

    // Long lines of at least `units` units are stored without their kinds, which are then
    // computed elsewhere (off the GUI thread) and handed in with fillLongLine(); until then
    // such a line is drawn plain. 0 (the default) computes every line's kinds at once.
    void setDeferredLongLines(qsizetype units) { m_deferredLongLines = units; }
    // Stored long lines still waiting for their kinds.
    QList<TextRange> pendingLongLines() const;
    // Hands in the kinds of a pending long line; false when no pending line has that range.
    bool fillLongLine(TextRange range, JSONSyntaxTokens::TokenArray tokens);

    // The kind at a position and the run around it, from whichever store holds it.
    std::optional<std::pair<JSONSyntaxTokens::Token, TextRange>> token(qsizetype position) const;
    const JSONSyntaxTokens::LongLines& longLines() const { return m_longLines; }
    const JSONSyntaxTokens::LongLines& shortLines() const { return m_short; }

    void runs(const CodeTextBuffer& buffer, qsizetype from, qsizetype to, QList<CodeTextRun>& out) const override;

private:
    void tint(TextRange range, const CodeTextBuffer& buffer);
    void storeLongLine(TextRange range, const CodeTextBuffer& buffer);
    void appendRuns(const JSONSyntaxTokens::LongLines& store, qsizetype from, qsizetype to,
                    QList<CodeTextRun>& out) const;

    std::optional<JSONSyntaxTokens::Coverage> m_coverage;
    bool m_separateLongLines;
    // Kinds of the coloured short lines, by line ranges (the counterpart of coloured text).
    JSONSyntaxTokens::LongLines m_short;
    JSONSyntaxTokens::LongLines m_longLines;
    bool m_dark = false;
    qsizetype m_deferredLongLines = 0;
};
