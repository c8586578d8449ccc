#include "tools/jwt/ui/JWTTokenHighlighter.h"

#include "kit/CodeTextBuffer.h"
#include "kit/Palette.h"

#include <algorithm>

QColor JWTTokenHighlighter::segmentColour(int index, bool dark)
{
    const QList<const DynamicColor*>& colours = Palette::segments();
    return colours[std::clamp(index, 0, int(colours.size()) - 1)]->resolved(dark);
}

QColor JWTTokenHighlighter::dotColour(bool dark) { return Palette::muted().resolved(dark); }

void JWTTokenHighlighter::findDots(const CodeTextBuffer& buffer) const
{
    m_known = true;
    m_dotCount = 0;
    const QString text = buffer.text();
    qsizetype from = 0;
    while (m_dotCount < 4) {
        const qsizetype dot = text.indexOf(u'.', from);
        if (dot < 0)
            break;
        m_dots[size_t(m_dotCount++)] = dot;
        from = dot + 1;
    }
}

void JWTTokenHighlighter::runs(const CodeTextBuffer& buffer, qsizetype from, qsizetype to, QList<CodeTextRun>& out) const
{
    to = std::min(to, buffer.length());
    if (from >= to)
        return;
    if (!m_known)
        findDots(buffer);
    // Dots before the slice, capped at four.
    int segment = 0;
    while (segment < m_dotCount && m_dots[size_t(segment)] < from)
        ++segment;
    const QString slice = buffer.mid(from, to - from);
    const QColor dot = dotColour(m_dark);
    qsizetype runStart = from;
    auto flush = [&](qsizetype end, const QColor& colour) {
        if (end > runStart)
            out.append(CodeTextRun{runStart, end, colour, QColor(), false});
        runStart = end;
    };
    for (qsizetype i = 0; i < slice.size(); ++i) {
        if (slice[i] != u'.')
            continue;
        const qsizetype position = from + i;
        flush(position, segmentColour(segment, m_dark));
        flush(position + 1, dot);
        segment = std::min(segment + 1, 4);
    }
    flush(to, segmentColour(segment, m_dark));
}
