#include "kit/ui/PaneStyle.h"

#include "kit/DynamicColor.h"
#include "kit/ui/SymbolIcon.h"

#include <QPainter>
#include <QPalette>

namespace PaneStyle {

static QFont sized(const QFont& base, int pixels, QFont::Weight weight)
{
    QFont font = base;
    font.setPixelSize(pixels);
    font.setWeight(weight);
    return font;
}

QFont caption(const QFont& base, QFont::Weight weight)
{
    return sized(base, 11, weight);
}

QFont caption2(const QFont& base, QFont::Weight weight)
{
    return sized(base, 10, weight);
}

QColor separatorColor(const QPalette& palette)
{
    QColor colour = palette.color(QPalette::WindowText);
    colour.setAlphaF(DynamicColor::isDark(palette) ? 0.18 : 0.13);
    return colour;
}

void paintBar(QPainter& painter, const QRect& rect, const QPalette& palette, Qt::Edge dividerEdge)
{
    painter.fillRect(rect, DynamicColor::barFill(palette));
    const int y = dividerEdge == Qt::TopEdge ? rect.top() : rect.bottom();
    painter.fillRect(QRect(rect.left(), y, rect.width(), 1), separatorColor(palette));
}

QIcon symbol(const QString& name)
{
    return symbolIcon(name);
}

QPixmap tintedSymbol(const QString& name, int size, qreal devicePixelRatio, const QColor& colour)
{
    const QIcon icon = symbol(name);
    if (icon.isNull())
        return {};
    const QSize device = QSize(size, size) * devicePixelRatio;
    QPixmap pix = icon.pixmap(device);
    if (pix.isNull())
        return pix;
    if (pix.size() != device)
        pix = pix.scaled(device, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    {
        QPainter p(&pix);
        p.setCompositionMode(QPainter::CompositionMode_SourceIn);
        p.fillRect(pix.rect(), colour);
    }
    pix.setDevicePixelRatio(devicePixelRatio);
    return pix;
}

} // namespace PaneStyle
