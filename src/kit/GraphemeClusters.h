#pragma once

#include <QtGlobal>

class CodeTextBuffer;

// Bounds of extended grapheme clusters in a buffer by Unicode's default rules. Qt's own bounds
// are tailored for Indic and related scripts, and inside such a run they also fall between the
// code units of whatever follows it, such as an emoji or a surrogate pair; these never do. Both
// look only at a stretch of the line around the position, from a point where a cluster surely
// begins (the line start, or between two plain ASCII characters).
class GraphemeClusters {
public:
    // The first bound after `position`, at most `lineEnd` (where the line's break is).
    static qsizetype next(const CodeTextBuffer& buffer, qsizetype position, qsizetype lineEnd);
    // The last bound before `position`; at the start of a line, the line break before it.
    static qsizetype previous(const CodeTextBuffer& buffer, qsizetype position);
};
