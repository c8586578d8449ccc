#pragma once

#include "tools/markdown/MarkdownBodyBlocks.h"

#include <QString>

#include <memory>
#include <optional>

// A rendering of a Markdown text that the next text's rendering can start from: after an edit,
// only the top-level blocks the edit could reach are converted again and put in place of the old
// ones; the blocks before and after are kept, those after with their line numbers moved. The
// result always equals renderMarkdownHTML() of the new text; an edit whose effect could reach
// further than the cuts can tell (a list or a table at a cut, an unclosed fence, line breaks
// other than LF) is rendered whole.
//
// Pure value, cheap to copy (the data is shared); thread-safe like the converter.
class MarkdownIncrementalRender {
public:
    MarkdownIncrementalRender();
    // renderMarkdownHTML(text), ready to be the start of the next rendering.
    explicit MarkdownIncrementalRender(const QString& text);

    // The rendering of `text`, from this one's blocks where the change leaves them as they were.
    MarkdownIncrementalRender next(const QString& text) const;

    const QString& text() const;
    const QString& html() const;
    // The UTF-8 size of html(), when the rendering counted it as it wrote (a whole one does);
    // -1 otherwise.
    qsizetype htmlUtf8Length() const;
    // Whether this rendering kept blocks of the one it was made from.
    bool reusedBlocks() const;

    // What turns the HTML this rendering was made from into its own, when it kept blocks: the
    // old HTML, its number of top-level blocks, and the blocks that replace some of them.
    struct Change {
        QString before;
        qsizetype beforeCount = 0;
        MarkdownBodyBlocks::Patch patch;
    };
    const std::optional<Change>& change() const;

private:
    struct State;
    std::shared_ptr<const State> m_state;
    explicit MarkdownIncrementalRender(std::shared_ptr<const State> state);
};
