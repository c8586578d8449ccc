#include "kit/ui/JSONColouring.h"

#include "formats/JSONSyntaxTokens.h"
#include "kit/QuietTask.h"
#include "kit/ui/CodeTextView.h"

#include <QScrollBar>

#include <cmath>

JSONColouring::JSONColouring(bool largeDocument, bool separateLongLines) : m_syntax(largeDocument, separateLongLines)
{
    // A line of megabytes would take the GUI thread too long.
    if (largeDocument)
        m_syntax.setDeferredLongLines(deferredLongLine);
}

void JSONColouring::textChanged(const CodeTextView& view, TextRange range, qsizetype change)
{
    m_syntax.applyEdit(view.buffer(), range, change);
    // Every text change supersedes the kinds still being computed for the text before it.
    const int serial = ++m_tokenSerial;
    const QList<TextRange> pending = m_syntax.pendingLongLines();
    if (pending.isEmpty())
        return;
    const CodeTextSnapshot snapshot = view.snapshot();
    for (const TextRange line : pending) {
        QuietTask::detached<JSONSyntaxTokens::TokenArray>(
            this, [snapshot, line] { return JSONSyntaxTokens::tokens(snapshot.mid(line.location, line.length)); },
            [this, serial, line](JSONSyntaxTokens::TokenArray tokens) {
                if (serial == m_tokenSerial && m_syntax.fillLongLine(line, std::move(tokens)))
                    changed();
            });
    }
}

bool JSONColouring::viewMoved(const CodeTextView& view)
{
    if (!m_syntax.isLargeDocument())
        return false;
    const CodeTextBuffer& buffer = view.buffer();
    const qsizetype length = buffer.length();
    if (length == 0 || m_syntax.isTinted({0, length}))
        return false;
    if (view.verticalScrollBar()->value() <= 0) {
        // At the top the view may not have laid its rows out yet: two screens of lines.
        const int h = std::max(1, view.lineHeight());
        const qsizetype n = qsizetype(std::ceil(2.0 * view.viewport()->height() / h));
        const qsizetype end = n + 1 < buffer.lineCount() ? buffer.lineStart(n + 1) : length;
        return m_syntax.ensureTinted({0, end}, buffer);
    }
    const TextRange visible = view.visibleRange();
    if (visible.length <= 0 || m_syntax.isTinted({visible.location, visible.length}))
        return false;
    const qsizetype start = std::max<qsizetype>(0, visible.location - visible.length);
    const qsizetype span = std::min(length - start, 3 * visible.length);
    return m_syntax.ensureTinted({start, span}, buffer);
}
