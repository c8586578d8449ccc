#include "kit/ui/PaneFooter.h"

#include "kit/ui/PaneStyle.h"
#include "kit/ui/FontScale.h"

#include <QHBoxLayout>
#include <QPainter>

PaneFooter::PaneFooter(QWidget* parent) : QWidget(parent)
{
    setFixedHeight(22);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    // Metrics inherit this font; its digits are of one width, so changing counts do not jitter.
    FontScale::apply(this, PaneStyle::caption(font()));
    m_row = new QHBoxLayout(this);
    m_row->setContentsMargins(12, 0, 12, 0);
    m_row->setSpacing(6);
    m_row->addStretch(1);
}

void PaneFooter::addMetric(QWidget* metric)
{
    m_row->insertWidget(m_row->count() - 1, metric, 0, Qt::AlignVCenter);
    m_metrics.append(metric);
}

void PaneFooter::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    PaneStyle::paintBar(p, rect(), palette(), Qt::TopEdge);
}
