#pragma once

#include <QFont>
#include <QFontMetricsF>
#include <QStyledItemDelegate>

#include <optional>

// Draws a cell as one line cut at the tail, 8 px in from each side, right-aligned for numbers;
// the row-number column on its tint. Leaner than the stock delegate, which lays every cell out
// through a text layout: a scroll step repaints a screenful of cells.
class CSVCellDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;

private:
    struct Face {
        QFont font;
        QFontMetricsF metrics{QFont()};
    };
    const Face& face(const QFont& base, bool rowNumbers) const;

    mutable std::optional<Face> m_cells;
    mutable std::optional<Face> m_rowNumbers;
};
