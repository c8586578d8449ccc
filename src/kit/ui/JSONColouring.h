#pragma once

#include "kit/ui/CodeEditorColouring.h"
#include "kit/ui/JSONSyntaxHighlighter.h"

#include <QObject>

// JSON token colours for a code editor. For a large document only the lines brought into view
// or touched by an edit are coloured, and a line of megabytes (a minified document) gets its
// kinds off the GUI thread.
class JSONColouring : public QObject, public CodeEditorColouring {
public:
    // In large-document mode, lines this long get their colours off the GUI thread.
    static constexpr qsizetype deferredLongLine = 1 << 16;

    // With `separateLongLines` false (a host without its own match drawing), long lines are kept
    // like short ones.
    JSONColouring(bool largeDocument, bool separateLongLines);

    const JSONSyntaxHighlighter& syntax() const { return m_syntax; }

    const CodeTextHighlighter* highlighter() const override { return &m_syntax; }
    void setDark(bool dark) override { m_syntax.setDark(dark); }
    void textChanged(const CodeTextView& view, TextRange range, qsizetype change) override;
    bool followsView() const override { return m_syntax.isLargeDocument(); }
    bool viewMoved(const CodeTextView& view) override;

private:
    JSONSyntaxHighlighter m_syntax;
    int m_tokenSerial = 0;
};
