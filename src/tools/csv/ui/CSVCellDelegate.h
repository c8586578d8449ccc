#pragma once

#include <QFont>
#include <QFontMetricsF>
#include <QStyledItemDelegate>

#include <optional>

// Draws a cell as one line cut at the tail, 8 px in from each side, right-aligned for numbers;
// the row-number column on its tint. Leaner than the stock delegate, which lays every cell out
// through a text layout: a scroll step repaints a screenful of cells.
//
// Links in a cell (web and mail addresses) are underlined in the link colour; a click on one
// opens it, and the click still selects the row.
class CSVCellDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    bool editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
                     const QModelIndex& index) override;

    struct Link {
        qsizetype start;
        qsizetype length;
        QString url;
    };
    // Web addresses (http, https, ftp, or starting "www.") and mail addresses (mailto:).
    static QList<Link> links(const QString& text);
    // The link drawn under this point of the cell, if any.
    std::optional<QString> linkAt(const QStyleOptionViewItem& option, const QModelIndex& index, QPoint point) const;

private:
    struct Layout {
        QString shown;
        qreal x = 0;
        qreal baseline = 0;
    };
    Layout layout(const QStyleOptionViewItem& option, const QModelIndex& index, const QString& text) const;
    struct Face {
        QFont font;
        QFontMetricsF metrics{QFont()};
    };
    const Face& face(const QFont& base, bool rowNumbers) const;

    mutable std::optional<Face> m_cells;
    mutable std::optional<Face> m_rowNumbers;
};
