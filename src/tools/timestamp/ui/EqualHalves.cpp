#include "tools/timestamp/ui/EqualHalves.h"

#include <algorithm>

EqualHalves::EqualHalves(int spacing, QWidget* parent) : QLayout(parent), m_gap(spacing)
{
    setContentsMargins(0, 0, 0, 0);
}

EqualHalves::~EqualHalves()
{
    qDeleteAll(m_items);
}

void EqualHalves::addItem(QLayoutItem* item)
{
    m_items.append(item);
}

QLayoutItem* EqualHalves::itemAt(int index) const
{
    return index >= 0 && index < m_items.size() ? m_items[index] : nullptr;
}

QLayoutItem* EqualHalves::takeAt(int index)
{
    return index >= 0 && index < m_items.size() ? m_items.takeAt(index) : nullptr;
}

int EqualHalves::widestIdeal() const
{
    int widest = 0;
    for (QLayoutItem* item : m_items)
        widest = std::max(widest, item->sizeHint().width());
    return widest;
}

int EqualHalves::columnWidth(int width) const
{
    return std::max(0, (width - m_gap) / 2);
}

int EqualHalves::heightForWidth(int width) const
{
    const int column = columnWidth(width);
    int tallest = 0;
    for (QLayoutItem* item : m_items)
        tallest = std::max(tallest, item->hasHeightForWidth() ? item->heightForWidth(column) : item->sizeHint().height());
    return tallest;
}

QSize EqualHalves::sizeHint() const
{
    const int width = 2 * widestIdeal() + m_gap;
    return {width, heightForWidth(width)};
}

QSize EqualHalves::minimumSize() const
{
    return sizeHint();
}

void EqualHalves::setGeometry(const QRect& rect)
{
    QLayout::setGeometry(rect);
    const int column = columnWidth(rect.width());
    const int step = column + m_gap;
    for (int i = 0; i < m_items.size(); ++i) {
        QLayoutItem* item = m_items[i];
        const int height = item->hasHeightForWidth() ? item->heightForWidth(column) : item->sizeHint().height();
        item->setGeometry(QRect(rect.x() + i * step, rect.y(), column, height));
    }
}
