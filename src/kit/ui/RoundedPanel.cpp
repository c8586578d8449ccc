#include "kit/ui/RoundedPanel.h"

#include <QPainter>

RoundedPanel::RoundedPanel(QWidget* parent) : QWidget(parent)
{
}

void RoundedPanel::setFill(QPalette::ColorRole role, qreal alpha)
{
    m_fillRole = role;
    m_fillAlpha = alpha;
    update();
}

void RoundedPanel::setEdge(std::optional<QColor> colour, qreal width)
{
    m_edgeColour = std::move(colour);
    m_edgeWidth = width;
    update();
}

void RoundedPanel::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    QColor fill = palette().color(m_fillRole);
    fill.setAlphaF(float(m_fillAlpha));
    p.setBrush(fill);
    QRectF shape(rect());
    if (m_edgeWidth > 0) {
        p.setPen(QPen(m_edgeColour.value_or(palette().color(QPalette::Mid)), m_edgeWidth));
        // The edge straddles a half pixel in, so a hairline stays sharp.
        shape.adjust(0.5, 0.5, -0.5, -0.5);
    } else {
        p.setPen(Qt::NoPen);
    }
    p.drawRoundedRect(shape, m_radius, m_radius);
}
