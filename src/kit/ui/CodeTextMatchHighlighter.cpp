#include "kit/ui/CodeTextMatchHighlighter.h"

#include <algorithm>

QColor CodeTextMatchHighlighter::findHighlightColour()
{
    return QColor(0xFF, 0xE6, 0x00);
}

void CodeTextMatchHighlighter::runs(const CodeTextBuffer&, qsizetype from, qsizetype to, QList<CodeTextRun>& out) const
{
    if (m_matches.isEmpty())
        return;
    static const QColor faint = [] {
        QColor c = findHighlightColour();
        c.setAlphaF(0.3f);
        return c;
    }();
    auto it = std::upper_bound(m_matches.cbegin(), m_matches.cend(), from,
                               [](qsizetype position, const TextRange& m) { return position < m.end(); });
    for (; it != m_matches.cend() && it->location < to; ++it) {
        CodeTextRun run;
        run.from = it->location;
        run.to = it->end();
        if (m_current && *m_current == *it) {
            run.background = findHighlightColour();
            run.foreground = Qt::black;
        } else {
            run.background = faint;
            if (m_dark)
                run.foreground = m_text;
        }
        out.append(run);
    }
}
