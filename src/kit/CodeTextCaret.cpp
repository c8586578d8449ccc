#include "kit/CodeTextCaret.h"

#include <algorithm>

CodeTextCaret::CodeTextCaret(std::function<qsizetype()> length, Moved moved)
    : m_length(std::move(length)), m_moved(std::move(moved))
{
}

TextRange CodeTextCaret::selection() const
{
    const qsizetype from = std::min(m_anchor, m_caret);
    return {from, std::max(m_anchor, m_caret) - from};
}

void CodeTextCaret::select(qsizetype anchor, qsizetype caret, bool byUser)
{
    const qsizetype n = m_length();
    anchor = std::clamp<qsizetype>(anchor, 0, n);
    caret = std::clamp<qsizetype>(caret, 0, n);
    if (anchor == m_anchor && caret == m_caret)
        return;
    const qsizetype oldAnchor = m_anchor, oldCaret = m_caret;
    m_anchor = anchor;
    m_caret = caret;
    m_upstream = false;
    if (m_moved)
        m_moved(oldAnchor, oldCaret, byUser);
}

bool CodeTextCaret::setUpstream(bool upstream)
{
    if (upstream == m_upstream)
        return false;
    m_upstream = upstream;
    return true;
}
