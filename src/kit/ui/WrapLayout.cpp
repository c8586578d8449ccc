#include "kit/ui/WrapLayout.h"

#include <QWidget>

#include <cmath>
#include <limits>

void WrapLayout::Row::add(int index, QSizeF size, bool isPinned, qreal horizontalSpacing)
{
    if (isPinned) {
        pinnedWidth += size.width() + (pinned.isEmpty() ? 0 : horizontalSpacing);
        pinned.append(index);
    } else {
        flowWidth += size.width() + (flow.isEmpty() ? 0 : horizontalSpacing);
        flow.append(index);
    }
    height = std::max(height, size.height());
}

WrapLayout::WrapLayout(QWidget* parent) : QLayout(parent)
{
    setContentsMargins(0, 0, 0, 0);
}

WrapLayout::~WrapLayout()
{
    while (QLayoutItem* item = takeAt(0))
        delete item;
}

void WrapLayout::setHorizontalSpacing(qreal spacing)
{
    m_horizontalSpacing = spacing;
    invalidate();
}

void WrapLayout::setVerticalSpacing(qreal spacing)
{
    m_verticalSpacing = spacing;
    invalidate();
}

void WrapLayout::setGroupSpacing(qreal spacing)
{
    m_groupSpacing = spacing;
    invalidate();
}

void WrapLayout::setFlowAlignment(Qt::Alignment alignment)
{
    m_alignment = alignment;
    invalidate();
}

void WrapLayout::insertWidget(int index, QWidget* widget)
{
    addChildWidget(widget);
    index = std::clamp<int>(index, 0, int(m_items.size()));
    m_items.insert(index, new QWidgetItem(widget));
    invalidate();
}

void WrapLayout::addItem(QLayoutItem* item)
{
    m_items.append(item);
    invalidate();
}

QLayoutItem* WrapLayout::itemAt(int index) const
{
    return index >= 0 && index < m_items.size() ? m_items.at(index) : nullptr;
}

QLayoutItem* WrapLayout::takeAt(int index)
{
    if (index < 0 || index >= m_items.size())
        return nullptr;
    QLayoutItem* item = m_items.takeAt(index);
    invalidate();
    return item;
}

int WrapLayout::count() const
{
    return int(m_items.size());
}

bool WrapLayout::takesPart(int index) const
{
    // A hidden widget is no subview at all.
    return !m_items.at(index)->isEmpty();
}

bool WrapLayout::flag(int index, const char* key) const
{
    const QWidget* widget = m_items.at(index)->widget();
    return widget && widget->property(key).toBool();
}

QSizeF WrapLayout::idealSize(int index) const
{
    return QSizeF(m_items.at(index)->sizeHint());
}

QList<WrapLayout::Row> WrapLayout::rows(qreal maxWidth) const
{
    QList<Row> result;
    Row current;
    const int n = int(m_items.size());
    auto addTo = [this](Row& row, int index) {
        row.add(index, idealSize(index), flag(index, PinnedLeadingKey), m_horizontalSpacing);
    };
    int i = 0;
    while (i < n) {
        if (!takesPart(i)) {
            ++i;
            continue;
        }
        const bool isRule = flag(i, GroupRuleKey);
        int last = i;
        if (isRule) {
            int next = i + 1;
            while (next < n && !takesPart(next))
                ++next;
            if (next >= n || current.flow.isEmpty()) {
                // A rule that would stand last, or first in the flowing part, is never shown.
                current.hidden.append(i);
                ++i;
                continue;
            }
            last = next;
        }
        Row working = current;
        addTo(working, i);
        if (last != i)
            addTo(working, last);
        if (current.isEmpty() || working.width(m_groupSpacing) <= maxWidth) {
            current = std::move(working);
        } else {
            if (isRule)
                current.hidden.append(i);
            result.append(std::move(current));
            current = Row();
            addTo(current, last);
        }
        i = last + 1;
    }
    if (!current.isEmpty())
        result.append(std::move(current));
    return result;
}

QSizeF WrapLayout::sizeThatFits(std::optional<qreal> width) const
{
    const qreal maxWidth = width.value_or(std::numeric_limits<qreal>::infinity());
    const QList<Row> all = rows(maxWidth);
    qreal height = 0;
    qreal widest = 0;
    for (const Row& row : all) {
        height += row.height;
        widest = std::max(widest, row.width(m_groupSpacing));
    }
    if (!all.isEmpty())
        height += m_verticalSpacing * qreal(all.size() - 1);
    return QSizeF(std::isfinite(maxWidth) ? maxWidth : widest, height);
}

static int margins(const QMargins& m, Qt::Orientation o)
{
    return o == Qt::Horizontal ? m.left() + m.right() : m.top() + m.bottom();
}

QSize WrapLayout::sizeHint() const
{
    const QSizeF size = sizeThatFits(std::nullopt);
    const QMargins m = contentsMargins();
    return QSize(int(std::ceil(size.width())) + margins(m, Qt::Horizontal),
                 int(std::ceil(size.height())) + margins(m, Qt::Vertical));
}

QSize WrapLayout::minimumSize() const
{
    // Narrower than its widest item the header cannot go; below that the item overflows.
    qreal widest = 0;
    for (int i = 0; i < m_items.size(); ++i)
        if (takesPart(i))
            widest = std::max(widest, idealSize(i).width());
    const QMargins m = contentsMargins();
    const int width = int(std::ceil(widest)) + margins(m, Qt::Horizontal);
    return QSize(width, heightForWidth(width));
}

int WrapLayout::heightForWidth(int width) const
{
    const QMargins m = contentsMargins();
    const qreal inner = std::max<qreal>(0, width - margins(m, Qt::Horizontal));
    return int(std::ceil(sizeThatFits(inner).height())) + margins(m, Qt::Vertical);
}

void WrapLayout::setGeometry(const QRect& rect)
{
    QLayout::setGeometry(rect);
    const QRect bounds = rect.marginsRemoved(contentsMargins());
    const QList<Row> all = rows(bounds.width());
    const bool trailing = m_alignment & (Qt::AlignRight | Qt::AlignTrailing);

    QList<bool> placed(m_items.size(), false);
    auto placeAt = [&](int index, qreal x, qreal y, qreal rowHeight) {
        const QSizeF size = idealSize(index);
        const qreal top = y + (rowHeight - size.height()) * 0.5;
        m_items.at(index)->setGeometry(
            QRect(QPoint(int(std::lround(x)), int(std::lround(top))), size.toSize()));
        placed[index] = true;
        return size.width() + m_horizontalSpacing;
    };

    qreal y = bounds.top();
    for (const Row& row : all) {
        qreal x = bounds.left();
        for (int index : row.pinned)
            x += placeAt(index, x, y, row.height);
        qreal start = bounds.left() + row.pinnedWidth + (row.pinned.isEmpty() ? 0 : m_groupSpacing);
        if (trailing)
            start = std::max(start, qreal(bounds.left() + bounds.width()) - row.flowWidth);
        x = start;
        for (int index : row.flow)
            x += placeAt(index, x, y, row.height);
        for (int index : row.hidden) {
            m_items.at(index)->setGeometry(QRect(bounds.left(), int(std::lround(y)), 0, 0));
            placed[index] = true;
        }
        y += row.height + m_verticalSpacing;
    }
    // Rules of a dropped, rule-only row: out of sight rather than left where they were.
    for (int i = 0; i < m_items.size(); ++i)
        if (!placed[i] && takesPart(i))
            m_items.at(i)->setGeometry(QRect(bounds.topLeft(), QSize(0, 0)));
}
