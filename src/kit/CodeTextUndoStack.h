#pragma once

#include <QString>

#include <vector>

// Undo and redo steps of a code view. A step records one replacement (position, removed text,
// inserted text) with the selection before and after it. Consecutive typing at the caret merges
// into one step, as does consecutive deletion in one direction; a line break, a caret move or an
// explicit break ends the merge.
class CodeTextUndoStack {
public:
    enum class Kind { Other, Typing, DeleteBackward, DeleteForward };

    struct Step {
        qsizetype position = 0;
        QString removed;
        QString inserted;
        qsizetype anchorBefore = 0, caretBefore = 0;
        qsizetype anchorAfter = 0, caretAfter = 0;
        Kind kind = Kind::Other;
    };

    // Records an edit already applied to the text.
    void record(Step step);
    // The next edit starts a new step.
    void breakMerge() { m_mergeOpen = false; }
    void clear();

    bool canUndo() const { return !m_undo.empty(); }
    bool canRedo() const { return !m_redo.empty(); }
    // The step to revert (moves it to the redo side); nullptr when none.
    const Step* takeUndo();
    const Step* takeRedo();

    qsizetype memoryUsage() const;

private:
    std::vector<Step> m_undo;
    std::vector<Step> m_redo;
    bool m_mergeOpen = false;
};
