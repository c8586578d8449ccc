#include "kit/ui/SymbolLabel.h"

#include <QEvent>
#include <QPainter>

SymbolLabel::SymbolLabel(QIcon icon, int size, QWidget* parent) : QWidget(parent), m_icon(std::move(icon)), m_size(size)
{
    setMinimumSize(size, size);
}

QImage SymbolLabel::rendered() const
{
    return m_icon.pixmap(m_size, m_size, isEnabled() ? QIcon::Normal : QIcon::Disabled).toImage();
}

void SymbolLabel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const QRect square(QPoint((width() - m_size) / 2, (height() - m_size) / 2), QSize(m_size, m_size));
    m_icon.paint(&painter, square, Qt::AlignCenter, isEnabled() ? QIcon::Normal : QIcon::Disabled);
}

void SymbolLabel::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::ApplicationPaletteChange)
        update();
}
