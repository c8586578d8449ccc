#include "kit/ui/EqualWidthRow.h"

#include <cmath>

EqualWidthRow::EqualWidthRow(QWidget* parent) : QLayout(parent)
{
    setContentsMargins(0, 0, 0, 0);
    setSpacing(0);
}

EqualWidthRow::~EqualWidthRow()
{
    while (QLayoutItem* item = takeAt(0))
        delete item;
}

void EqualWidthRow::addItem(QLayoutItem* item)
{
    m_items.append(item);
    invalidate();
}

QLayoutItem* EqualWidthRow::itemAt(int index) const
{
    return index >= 0 && index < m_items.size() ? m_items.at(index) : nullptr;
}

QLayoutItem* EqualWidthRow::takeAt(int index)
{
    if (index < 0 || index >= m_items.size())
        return nullptr;
    QLayoutItem* item = m_items.takeAt(index);
    invalidate();
    return item;
}

QSize EqualWidthRow::sizeHint() const
{
    int widest = 0;
    int tallest = 0;
    for (const QLayoutItem* item : m_items) {
        const QSize hint = item->sizeHint();
        widest = std::max(widest, hint.width());
        tallest = std::max(tallest, hint.height());
    }
    return QSize(widest * int(m_items.size()), tallest);
}

QSize EqualWidthRow::minimumSize() const
{
    return QSize(0, sizeHint().height());
}

void EqualWidthRow::setGeometry(const QRect& rect)
{
    QLayout::setGeometry(rect);
    const qreal slot = qreal(rect.width()) / qreal(std::max<qsizetype>(1, m_items.size()));
    for (int i = 0; i < m_items.size(); ++i) {
        // Edges rounded from the exact slot positions, so rounding never piles up at the end.
        const int left = rect.left() + int(std::lround(i * slot));
        const int right = rect.left() + int(std::lround((i + 1) * slot));
        m_items.at(i)->setGeometry(QRect(left, rect.top(), right - left, rect.height()));
    }
}
