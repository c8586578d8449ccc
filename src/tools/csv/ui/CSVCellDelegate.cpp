#include "tools/csv/ui/CSVCellDelegate.h"

#include "tools/csv/ui/CSVTableModel.h"

#include <QPainter>

const CSVCellDelegate::Face& CSVCellDelegate::face(const QFont& base, bool rowNumbers) const
{
    std::optional<Face>& slot = rowNumbers ? m_rowNumbers : m_cells;
    QFont wanted = base;
    if (rowNumbers) {
        wanted.setPixelSize(12);
        wanted.setWeight(QFont::DemiBold);
    }
    if (!slot || slot->font != wanted)
        slot = Face{wanted, QFontMetricsF(wanted)};
    return *slot;
}

void CSVCellDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    const bool selected = option.state & QStyle::State_Selected;
    const bool rowNumbers = index.column() == CSVTableModel::rowNumberColumn;
    const QPalette& pal = option.palette;
    if (selected) {
        const QPalette::ColorGroup group = (option.state & QStyle::State_Active) ? QPalette::Active : QPalette::Inactive;
        painter->fillRect(option.rect, pal.color(group, QPalette::Highlight));
    } else if (rowNumbers) {
        painter->fillRect(option.rect, QColor(128, 128, 128, 28));
    }
    const QString text = index.data(Qt::DisplayRole).toString();
    if (text.isEmpty())
        return;
    const bool right = index.data(Qt::TextAlignmentRole).toInt() & Qt::AlignRight;
    const Face& f = face(option.font, rowNumbers);
    const QRectF box = QRectF(option.rect).adjusted(8, 0, -8, 0);
    // Most cells surely fit (no glyph is twice the average width): no measuring then, unless the
    // text is right-aligned and its width places it.
    const bool surelyFits = f.metrics.averageCharWidth() * 2 * qreal(text.size()) < box.width();
    QString shown = text;
    qreal width = -1;
    if (!surelyFits || right) {
        width = f.metrics.horizontalAdvance(text);
        if (width > box.width()) {
            shown = f.metrics.elidedText(text, Qt::ElideRight, box.width());
            width = f.metrics.horizontalAdvance(shown);
        }
    }
    const qreal baseline = box.top() + (box.height() + f.metrics.ascent() - f.metrics.descent()) / 2;
    const qreal x = right ? box.right() - width : box.left();
    painter->setFont(f.font);
    painter->setPen(pal.color(selected ? QPalette::HighlightedText : QPalette::Text));
    painter->drawText(QPointF(x, baseline), shown);
}
