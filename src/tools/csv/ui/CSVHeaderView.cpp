#include "tools/csv/ui/CSVHeaderView.h"

#include "tools/csv/ui/CSVTableModel.h"
#include "kit/ui/FocusRing.h"
#include "kit/ui/FontScale.h"

#include <QAbstractScrollArea>
#include <QAccessible>
#include <QKeyEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScrollBar>

#include <algorithm>

CSVHeaderView::CSVHeaderView(QWidget* parent) : QHeaderView(Qt::Horizontal, parent)
{
    setSectionsClickable(true);
    setSectionsMovable(true);
    setHighlightSections(false);
    setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    setMinimumSectionSize(34);
    // Reached by Tab only: a click sorts without taking the keys from the cells.
    setFocusPolicy(Qt::TabFocus);
    QFont bold = font();
    bold.setPixelSize(13);
    bold.setBold(true);
    FontScale::apply(this, bold);
}

void CSVHeaderView::setSortMarks(const QList<SortMark>& marks)
{
    m_marks = marks;
    viewport()->update();
}

bool CSVHeaderView::takesKeys(int logicalIndex) const
{
    return logicalIndex != CSVTableModel::rowNumberColumn && logicalIndex >= 0 && logicalIndex < count()
        && !isSectionHidden(logicalIndex);
}

int CSVHeaderView::keySection() const
{
    if (takesKeys(m_keySection))
        return m_keySection;
    // None picked yet: the first data column in view, so arriving never scrolls the table.
    const int first = std::max(0, visualIndexAt(0));
    for (int i = 0; i < count(); ++i) {
        const int logical = logicalIndex((first + i) % count());
        if (takesKeys(logical))
            return logical;
    }
    return -1;
}

void CSVHeaderView::moveKeySection(int visual)
{
    const int logical = logicalIndex(visual);
    if (!takesKeys(logical))
        return;
    m_keySection = logical;
    // A screen reader hears which column the keys now sort.
    if (model()) {
        const QString title = model()->headerData(logical, Qt::Horizontal, Qt::DisplayRole).toString();
        if (title != accessibleDescription()) {
            setAccessibleDescription(title);
            QAccessibleEvent changed(this, QAccessible::DescriptionChanged);
            QAccessible::updateAccessibility(&changed);
        }
    }
    // Bring the section into view: the grid's scroll bar moves the header with it.
    if (auto* area = qobject_cast<QAbstractScrollArea*>(parentWidget())) {
        QScrollBar* bar = area->horizontalScrollBar();
        const int left = sectionPosition(logical), right = left + sectionSize(logical);
        if (left < offset())
            bar->setValue(left);
        else if (right > offset() + viewport()->width())
            bar->setValue(right - viewport()->width());
    }
    viewport()->update();
}

void CSVHeaderView::keyPressEvent(QKeyEvent* event)
{
    const int current = keySection();
    const Qt::KeyboardModifiers mods = event->modifiers() & ~Qt::KeypadModifier;
    if (current < 0 || mods != Qt::NoModifier) {
        QHeaderView::keyPressEvent(event);
        return;
    }
    const int visual = visualIndex(current);
    const bool reversed = layoutDirection() == Qt::RightToLeft;
    int step = 0;
    switch (event->key()) {
    case Qt::Key_Left: step = reversed ? 1 : -1; break;
    case Qt::Key_Right: step = reversed ? -1 : 1; break;
    case Qt::Key_Home:
        for (int v = 0; v < count(); ++v) {
            if (takesKeys(logicalIndex(v))) {
                moveKeySection(v);
                break;
            }
        }
        event->accept();
        return;
    case Qt::Key_End:
        for (int v = count() - 1; v >= 0; --v) {
            if (takesKeys(logicalIndex(v))) {
                moveKeySection(v);
                break;
            }
        }
        event->accept();
        return;
    case Qt::Key_Space:
    case Qt::Key_Return:
    case Qt::Key_Enter:
        emit sectionClicked(current);
        event->accept();
        return;
    default:
        QHeaderView::keyPressEvent(event);
        return;
    }
    for (int v = visual + step; v >= 0 && v < count(); v += step) {
        if (takesKeys(logicalIndex(v))) {
            moveKeySection(v);
            break;
        }
    }
    event->accept();
}

void CSVHeaderView::focusInEvent(QFocusEvent* event)
{
    QHeaderView::focusInEvent(event);
    if (const int current = keySection(); current >= 0)
        moveKeySection(visualIndex(current));
    viewport()->update();
}

void CSVHeaderView::focusOutEvent(QFocusEvent* event)
{
    QHeaderView::focusOutEvent(event);
    viewport()->update();
}

void CSVHeaderView::paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const
{
    painter->save();
    const QPalette pal = palette();
    painter->fillRect(rect, pal.color(QPalette::Base));
    painter->fillRect(rect, QColor(128, 128, 128, 28));
    QColor separator = pal.color(QPalette::WindowText);
    separator.setAlphaF(0.15);
    painter->fillRect(QRect(rect.left(), rect.bottom(), rect.width(), 1), separator);
    painter->fillRect(QRect(rect.right(), rect.top(), 1, rect.height()), separator);

    const QAbstractItemModel* m = model();
    const QString title = m ? m->headerData(logicalIndex, Qt::Horizontal, Qt::DisplayRole).toString() : QString();
    const bool numeric = m && m->headerData(logicalIndex, Qt::Horizontal, CSVTableModel::IsNumericRole).toBool();
    const QRect inset = rect.adjusted(8, 0, -8, 0);
    const QRect textRect = inset.adjusted(0, 0, -16, 0);
    painter->setFont(font());
    painter->setPen(pal.color(QPalette::WindowText));
    const QString shown = fontMetrics().elidedText(title, Qt::ElideRight, std::max(0, textRect.width()));
    painter->drawText(textRect, int((numeric ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter), shown);

    for (qsizetype priority = 0; priority < m_marks.size(); ++priority) {
        if (m_marks[priority].section != logicalIndex)
            continue;
        // A small chevron in the free room at the right; later keys fainter, numbered.
        const QPointF c(rect.right() - 12.5, rect.center().y() + 0.5);
        QPainterPath arrow;
        if (m_marks[priority].ascending) {
            arrow.moveTo(c.x() - 4, c.y() + 2);
            arrow.lineTo(c.x(), c.y() - 2.5);
            arrow.lineTo(c.x() + 4, c.y() + 2);
        } else {
            arrow.moveTo(c.x() - 4, c.y() - 2);
            arrow.lineTo(c.x(), c.y() + 2.5);
            arrow.lineTo(c.x() + 4, c.y() - 2);
        }
        QColor colour = pal.color(QPalette::WindowText);
        colour.setAlphaF(priority == 0 ? 0.85 : 0.5);
        painter->setRenderHint(QPainter::Antialiasing);
        painter->setPen(QPen(colour, 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        painter->drawPath(arrow);
        if (m_marks.size() > 1) {
            QFont small = font();
            small.setPixelSize(FontScale::pixels(9));
            painter->setFont(small);
            painter->drawText(QRectF(c.x() + 4, rect.top(), 8, rect.height()), Qt::AlignLeft | Qt::AlignVCenter,
                              QString::number(priority + 1));
        }
        break;
    }
    if (hasFocus() && logicalIndex == keySection()) {
        FocusRing::paintFrame(*painter, QRectF(rect), pal);
    }
    painter->restore();
}
