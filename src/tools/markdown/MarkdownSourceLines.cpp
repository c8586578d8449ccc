#include "tools/markdown/MarkdownSourceLines.h"

#include <algorithm>

MarkdownSourceLines::MarkdownSourceLines() : m_starts{0} {}

MarkdownSourceLines::MarkdownSourceLines(QStringView text) : m_starts{0}
{
    const char16_t* units = reinterpret_cast<const char16_t*>(text.utf16());
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t u = units[i];
        if (u == u'\r') {
            m_starts.append(i + 1);
        } else if (u == u'\n') {
            if (i > 0 && units[i - 1] == u'\r')
                m_starts.last() = i + 1; // CR LF ends one line, after the LF
            else
                m_starts.append(i + 1);
        }
    }
    m_length = n;
}

void MarkdownSourceLines::apply(qint64 loc, qint64 len, qint64 delta, QStringView text)
{
    const qint64 total = text.size();
    const bool fits = loc >= 0 && len >= 0 && total - loc >= len && m_length + delta == total && len - delta >= 0;
    if (!fits || m_starts.isEmpty()) {
        *this = MarkdownSourceLines(text);
        return;
    }
    const qint64 editEnd = loc + len;
    const qint64 oldEnd = editEnd - delta;
    const qint64 first = std::max<qint64>(loc, 1);

    const auto lowerIt = std::lower_bound(m_starts.cbegin(), m_starts.cend(), first);
    const auto upperIt = std::lower_bound(lowerIt, m_starts.cend(), oldEnd + 1);
    const qsizetype lower = lowerIt - m_starts.cbegin();
    const qsizetype upper = upperIt - m_starts.cbegin();

    // One unit on each side of the edit, so a CR before it or an LF after it is seen.
    QList<qint64> found;
    const char16_t* units = reinterpret_cast<const char16_t*>(text.utf16());
    for (qint64 p = first; p <= editEnd; ++p) {
        const char16_t before = units[p - 1];
        if (before == u'\n' || (before == u'\r' && (p == total || units[p] != u'\n')))
            found.append(p);
    }

    const qsizetype removed = upper - lower;
    const qsizetype added = found.size();
    if (added > removed)
        m_starts.insert(lower, added - removed, 0);
    else if (removed > added)
        m_starts.remove(lower, removed - added);
    std::copy(found.cbegin(), found.cend(), m_starts.begin() + lower);
    if (delta != 0) {
        for (qsizetype i = lower + added; i < m_starts.size(); ++i)
            m_starts[i] += delta;
    }
    m_length = total;
}

qint64 MarkdownSourceLines::lineAt(qint64 offset) const
{
    offset = std::clamp<qint64>(offset, 0, m_length);
    if (m_starts.size() <= 1)
        return 0;
    qsizetype lo = 0;
    qsizetype hi = m_starts.size() - 1;
    while (lo < hi) {
        const qsizetype mid = (lo + hi + 1) / 2;
        if (offset < m_starts[mid])
            hi = mid - 1;
        else
            lo = mid;
    }
    return lo;
}
