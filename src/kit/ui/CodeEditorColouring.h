#pragma once

#include "formats/TextRange.h"
#include "kit/CodeTextHighlighter.h"

#include <functional>

class CodeTextView;

// The syntax colours a host gives its code editor: a highlighter for the view, told of every
// change of the text and, when it colours only what is seen, of every move of the visible area.
// The editor knows nothing of the language.
class CodeEditorColouring {
public:
    virtual ~CodeEditorColouring() = default;

    virtual const CodeTextHighlighter* highlighter() const = 0;
    virtual void setDark(bool dark) = 0;
    // The view's text changed over `range` of the new text, by `change` units in length.
    virtual void textChanged(const CodeTextView& view, TextRange range, qsizetype change) = 0;
    // Whether it colours only what comes into view, and so is told of each move.
    virtual bool followsView() const { return false; }
    // The view shows another area; answers whether colours changed.
    virtual bool viewMoved(const CodeTextView&) { return false; }

    // Told when colours worked out later (off the GUI thread) have arrived.
    void setOnChange(std::function<void()> action) { m_onChange = std::move(action); }

protected:
    void changed() const
    {
        if (m_onChange)
            m_onChange();
    }

private:
    std::function<void()> m_onChange;
};
