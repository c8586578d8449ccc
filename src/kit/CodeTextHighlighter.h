#pragma once

#include <QColor>
#include <QList>

class CodeTextBuffer;

// One run of drawing attributes over [from, to) of a text buffer. An invalid colour leaves the
// attribute as an earlier highlighter (or the view's default) set it.
struct CodeTextRun {
    qsizetype from = 0;
    qsizetype to = 0;
    QColor foreground;
    QColor background;
    bool bold = false;
};

// Supplies colours for the part of a text that is about to be drawn, so colouring never touches
// the buffer. The view asks once per painted slice; runs may extend past [from, to) and need not
// be sorted. Later highlighters of a view override earlier ones where their runs overlap.
// Called on the GUI thread during painting: keep it proportional to the slice, not the text.
class CodeTextHighlighter {
public:
    virtual ~CodeTextHighlighter() = default;
    virtual void runs(const CodeTextBuffer& buffer, qsizetype from, qsizetype to, QList<CodeTextRun>& out) const = 0;
};
