#include "kit/ui/CodeTextRenderer.h"

#include "kit/CodeTextBuffer.h"
#include "kit/Palette.h"
#include "kit/ui/CodeTextLayout.h"

#include <QPainter>

#include <cmath>

void CodeTextRenderer::paint(QPainter& painter, const QRect& area, CodeTextLayout& layout, const CodeTextBuffer& buffer,
    const State& state)
{
    const QPalette& pal = state.palette;
    painter.fillRect(area, pal.color(QPalette::Base));
    painter.setFont(layout.font());
    const QMargins& m = state.margins;
    const QRect full = painter.viewport();
    if (buffer.isEmpty() && !state.placeholder.isEmpty()) {
        painter.setPen(Palette::placeholder().resolved(pal));
        const QRect text = full.adjusted(m.left(), m.top(), -m.right(), 0);
        painter.drawText(text, Qt::TextWordWrap | Qt::AlignLeft | Qt::AlignTop, state.placeholder);
    }

    const QPalette::ColorGroup group = state.focused ? QPalette::Active : QPalette::Inactive;
    QTextCharFormat selected;
    selected.setBackground(pal.color(group, QPalette::Highlight));
    selected.setForeground(pal.color(group, QPalette::HighlightedText));
    QTextCharFormat indicated;
    indicated.setBackground(QColor(255, 214, 10));
    indicated.setForeground(QColor(Qt::black));
    const int lh = layout.lineHeight();
    const QRectF clip = QRectF(area).intersected(QRectF(0, m.top(), full.width(), full.height() - m.top()));
    painter.save();
    painter.setClipRect(clip);
    qreal y = m.top() - qreal(state.topRowInLine) * lh;
    const qreal left = m.left();
    for (qsizetype line = state.topLine; line < buffer.lineCount() && y < clip.bottom(); ++line) {
        const qint64 rows = layout.exactRowsOfLine(line);
        const qreal bottom = y + qreal(rows) * lh;
        if (bottom > clip.top()) {
            const qint64 first = std::max<qint64>(0, qint64(std::floor((clip.top() - y) / lh)));
            const qint64 last = std::min<qint64>(rows - 1, qint64(std::floor((clip.bottom() - y) / lh)));
            const qsizetype start = buffer.lineStart(line);
            const qsizetype end = buffer.lineEnd(line);
            QList<QTextLayout::FormatRange> here;
            auto add = [&](const TextRange& r, const QTextCharFormat& f) {
                if (r.location < 0 || r.length <= 0)
                    return;
                const qsizetype a = std::max(r.location, start), b = std::min(r.end(), end);
                if (b > a)
                    here.append({int(a), int(b - a), f});
            };
            add(state.selection, selected);
            add(state.indicator, indicated);
            layout.draw(painter, line, first, last, QPointF(left, y), here, clip, state.horizontalColumns);
            // A selected line break shows as one column of selection after the line.
            if (state.selection.length > 0 && end < buffer.length() && state.selection.location <= end
                && state.selection.end() > end) {
                const qreal x = left + layout.xOfPosition(end, false)
                    - (layout.wraps() ? 0 : qreal(state.horizontalColumns) * layout.characterWidth());
                painter.fillRect(QRectF(x, bottom - lh, layout.characterWidth(), lh), pal.color(group, QPalette::Highlight));
            }
        }
        y = bottom;
    }
    painter.restore();
    if (!state.caret.isEmpty())
        painter.fillRect(QRect(state.caret.left(), state.caret.top(), 2, state.caret.height()), pal.color(QPalette::Text));
    if (!state.dropCaret.isEmpty())
        painter.fillRect(QRect(state.dropCaret.left(), state.dropCaret.top(), 2, state.dropCaret.height()),
            pal.color(QPalette::Highlight));
}
