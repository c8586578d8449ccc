#include "kit/ui/Metric.h"

#include "kit/DynamicColor.h"
#include "kit/ui/PaneStyle.h"

#include <QEvent>
#include <QPainter>

namespace {
constexpr int kSpacing = 4;
}

Metric::Metric(const QString& text, const QString& systemImage, QWidget* parent)
    : QWidget(parent), m_text(text), m_systemImage(systemImage)
{
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setAccessibleName(text);
}

void Metric::setText(const QString& text)
{
    if (text == m_text)
        return;
    m_text = text;
    setAccessibleName(text);
    updateGeometry();
    update();
}

void Metric::setSystemImage(const QString& systemImage)
{
    if (systemImage == m_systemImage)
        return;
    m_systemImage = systemImage;
    updateGeometry();
    update();
}

static int iconSize(const QFontMetrics& metrics)
{
    return metrics.height() - 2;
}

QSize Metric::sizeHint() const
{
    const QFontMetrics metrics = fontMetrics();
    int width = metrics.horizontalAdvance(m_text);
    if (!PaneStyle::symbol(m_systemImage).isNull())
        width += iconSize(metrics) + kSpacing;
    return QSize(width, metrics.height());
}

void Metric::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    const QColor colour = DynamicColor::secondary().resolved(palette());
    const QFontMetrics metrics = fontMetrics();
    int x = 0;
    const int size = iconSize(metrics);
    const QPixmap icon = PaneStyle::tintedSymbol(m_systemImage, size, devicePixelRatioF(), colour);
    if (!icon.isNull()) {
        p.drawPixmap(QPoint(0, (height() - size) / 2), icon);
        x = size + kSpacing;
    }
    p.setPen(colour);
    p.drawText(QRect(x, 0, width() - x, height()), Qt::AlignVCenter | Qt::AlignLeft, m_text);
}

void Metric::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::FontChange)
        updateGeometry();
    QWidget::changeEvent(event);
}
