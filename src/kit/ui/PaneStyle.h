#pragma once

#include <QColor>
#include <QFont>
#include <QIcon>
#include <QPixmap>

class QPainter;
class QPalette;
class QRect;
class QWidget;

// The look shared by pane headers, footers and their controls.
namespace PaneStyle {

// The caption (11 px) and caption-2 (10 px) fonts at a weight, based on the widget's font, at
// their design sizes (FontScale scales them).
QFont caption(const QFont& base, QFont::Weight weight = QFont::Normal);
QFont caption2(const QFont& base, QFont::Weight weight = QFont::Normal);

// A bar's fill and its one divider line along `dividerEdge` (Qt::TopEdge or Qt::BottomEdge).
void paintBar(QPainter& painter, const QRect& rect, const QPalette& palette, Qt::Edge dividerEdge);
QColor separatorColor(const QPalette& palette);

// The icon of a symbol name ("doc.on.doc", "trash"), or a null icon when none is bundled.
QIcon symbol(const QString& name);
// The symbol drawn in one colour at `size` logical pixels for a device pixel ratio.
QPixmap tintedSymbol(const QString& name, int size, qreal devicePixelRatio, const QColor& colour);

} // namespace PaneStyle
