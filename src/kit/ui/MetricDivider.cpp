#include "kit/ui/MetricDivider.h"

#include "kit/DynamicColor.h"
#include "kit/ui/AccessibleElement.h"

#include <QPainter>

static const QString& dot()
{
    static const QString text(QChar(0x00B7));
    return text;
}

MetricDivider::MetricDivider(QWidget* parent) : QWidget(parent)
{
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    AccessibleElement::hide(this);
}

QSize MetricDivider::sizeHint() const
{
    return QSize(fontMetrics().horizontalAdvance(dot()), fontMetrics().height());
}

void MetricDivider::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setPen(DynamicColor::tertiary().resolved(palette()));
    p.drawText(rect(), Qt::AlignCenter, dot());
}
