#include "kit/CodeTextUndoStack.h"

void CodeTextUndoStack::record(Step step)
{
    m_redo.clear();
    bool merged = false;
    if (m_mergeOpen && !m_undo.empty() && step.kind != Kind::Other && m_undo.back().kind == step.kind) {
        Step& last = m_undo.back();
        switch (step.kind) {
        case Kind::Typing:
            if (step.removed.isEmpty() && step.position == last.position + last.inserted.size()) {
                last.inserted += step.inserted;
                merged = true;
            }
            break;
        case Kind::DeleteBackward:
            if (step.inserted.isEmpty() && step.position + step.removed.size() == last.position) {
                last.removed.prepend(step.removed);
                last.position = step.position;
                merged = true;
            }
            break;
        case Kind::DeleteForward:
            if (step.inserted.isEmpty() && step.position == last.position) {
                last.removed += step.removed;
                merged = true;
            }
            break;
        case Kind::Other:
            break;
        }
        if (merged) {
            last.anchorAfter = step.anchorAfter;
            last.caretAfter = step.caretAfter;
        }
    }
    // A typed line break closes the step, so undo takes back one line of typing at a time.
    const bool endsLine = step.kind == Kind::Typing && step.inserted.endsWith(QLatin1Char('\n'));
    const Kind kind = step.kind;
    if (!merged)
        m_undo.push_back(std::move(step));
    m_mergeOpen = kind != Kind::Other && !endsLine;
}

void CodeTextUndoStack::clear()
{
    m_undo.clear();
    m_redo.clear();
    m_mergeOpen = false;
}

const CodeTextUndoStack::Step* CodeTextUndoStack::takeUndo()
{
    m_mergeOpen = false;
    if (m_undo.empty())
        return nullptr;
    m_redo.push_back(std::move(m_undo.back()));
    m_undo.pop_back();
    return &m_redo.back();
}

const CodeTextUndoStack::Step* CodeTextUndoStack::takeRedo()
{
    m_mergeOpen = false;
    if (m_redo.empty())
        return nullptr;
    m_undo.push_back(std::move(m_redo.back()));
    m_redo.pop_back();
    return &m_undo.back();
}

qsizetype CodeTextUndoStack::memoryUsage() const
{
    qsizetype bytes = 0;
    for (const auto* side : {&m_undo, &m_redo})
        for (const Step& s : *side)
            bytes += sizeof(Step) + 2 * (s.removed.capacity() + s.inserted.capacity());
    return bytes;
}
