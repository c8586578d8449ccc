#pragma once

#include "formats/TextRange.h"

#include <functional>

// The caret and selection of a text view: the caret is the moving end, the anchor the fixed one.
// The view owns it and its input moves it too; both ends stay within the text of `length()`.
class CodeTextCaret {
public:
    // Told of every move of either end, after it, with where the ends were.
    using Moved = std::function<void(qsizetype oldAnchor, qsizetype oldCaret, bool byUser)>;

    CodeTextCaret(std::function<qsizetype()> length, Moved moved);

    qsizetype position() const { return m_caret; }
    qsizetype anchor() const { return m_anchor; }
    bool hasSelection() const { return m_caret != m_anchor; }
    TextRange selection() const;

    // Clamps both ends to the text. A move puts the caret at the start of a wrapped row.
    void select(qsizetype anchor, qsizetype caret, bool byUser);
    // Moves the caret, keeping the anchor when extending.
    void moveTo(qsizetype caret, bool extend, bool byUser) { select(extend ? m_anchor : caret, caret, byUser); }

    // The caret sits at the end of a wrapped row rather than at the start of the next (the two
    // are one position). Answers whether this changed.
    bool isUpstream() const { return m_upstream; }
    bool setUpstream(bool upstream);

private:
    std::function<qsizetype()> m_length;
    Moved m_moved;
    qsizetype m_anchor = 0;
    qsizetype m_caret = 0;
    bool m_upstream = false;
};
