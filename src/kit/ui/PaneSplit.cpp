#include "kit/ui/PaneSplit.h"

#include <QHBoxLayout>
#include <QPainter>

namespace {

class SeparatorLine : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.fillRect(QRectF(0, 0, 1.5, height()), palette().color(QPalette::Mid));
    }
};

} // namespace

PaneSplit::PaneSplit(QWidget* leading, int leadingMinimumWidth, QWidget* trailing, int trailingMinimumWidth,
                     const QList<int>& sizes, QWidget* parent)
    : QSplitter(Qt::Horizontal, parent), m_leadingColumn(new QWidget)
{
    m_leadingColumn->setMinimumWidth(leadingMinimumWidth);
    auto* row = new QHBoxLayout(m_leadingColumn);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    row->addWidget(leading);
    auto* line = new SeparatorLine;
    line->setFixedWidth(2);
    row->addWidget(line);
    trailing->setMinimumWidth(trailingMinimumWidth);

    setChildrenCollapsible(false);
    setHandleWidth(1);
    addWidget(m_leadingColumn);
    addWidget(trailing);
    setSizes(sizes);
}
