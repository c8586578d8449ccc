#include "kit/ui/EqualWidthRow.h"

#include <algorithm>
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

void EqualWidthRow::setSqueezable(bool squeezable)
{
    m_squeezable = squeezable;
    invalidate();
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

int EqualWidthRow::gap() const
{
    return std::max(0, spacing());
}

qreal EqualWidthRow::columnWidth(int width) const
{
    const qsizetype n = std::max<qsizetype>(1, m_items.size());
    return std::max<qreal>(0, qreal(width - gap() * (n - 1)) / qreal(n));
}

int EqualWidthRow::heightAt(QLayoutItem* item, int width)
{
    return item->hasHeightForWidth() ? item->heightForWidth(width) : item->sizeHint().height();
}

bool EqualWidthRow::hasHeightForWidth() const
{
    return std::any_of(m_items.begin(), m_items.end(), [](const QLayoutItem* item) { return item->hasHeightForWidth(); });
}

int EqualWidthRow::heightForWidth(int width) const
{
    const int column = int(columnWidth(width));
    int tallest = 0;
    for (QLayoutItem* item : m_items)
        tallest = std::max(tallest, heightAt(item, column));
    return tallest;
}

QSize EqualWidthRow::sizeHint() const
{
    int widest = 0;
    for (const QLayoutItem* item : m_items)
        widest = std::max(widest, item->sizeHint().width());
    const int count = int(m_items.size());
    const int width = widest * count + gap() * std::max(0, count - 1);
    return QSize(width, heightForWidth(width));
}

QSize EqualWidthRow::minimumSize() const
{
    const QSize hint = sizeHint();
    return m_squeezable ? QSize(0, hint.height()) : hint;
}

void EqualWidthRow::setGeometry(const QRect& rect)
{
    QLayout::setGeometry(rect);
    const qreal column = columnWidth(rect.width());
    const qreal step = column + gap();
    for (int i = 0; i < m_items.size(); ++i) {
        // Edges rounded from the exact column positions, so rounding never piles up at the end.
        const int left = rect.left() + int(std::lround(i * step));
        const int right = rect.left() + int(std::lround(i * step + column));
        QLayoutItem* item = m_items.at(i);
        item->setGeometry(QRect(left, rect.top(), right - left, std::min(rect.height(), heightAt(item, right - left))));
    }
}
