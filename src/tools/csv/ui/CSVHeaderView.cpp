#include "tools/csv/ui/CSVHeaderView.h"

#include "tools/csv/ui/CSVTableModel.h"
#include "kit/ui/FontScale.h"

#include <QPainter>
#include <QPainterPath>

CSVHeaderView::CSVHeaderView(QWidget* parent) : QHeaderView(Qt::Horizontal, parent)
{
    setSectionsClickable(true);
    setSectionsMovable(true);
    setHighlightSections(false);
    setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    setMinimumSectionSize(34);
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
    painter->restore();
}
