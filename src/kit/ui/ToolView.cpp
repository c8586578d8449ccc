#include "kit/ui/ToolView.h"

#include <QDragEnterEvent>
#include <QMimeData>
#include <QPainter>
#include <QPointer>

namespace {

// Drawn over the whole tool while files hover over it.
class DropRing : public QWidget {
public:
    explicit DropRing(QWidget* parent) : QWidget(parent)
    {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setAttribute(Qt::WA_NoSystemBackground);
        hide();
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(palette().color(QPalette::Highlight), 3));
        // The border lies inside the shape, 6 px in from the edges.
        const QRectF shape = QRectF(rect()).adjusted(6, 6, -6, -6);
        painter.drawRoundedRect(shape.adjusted(1.5, 1.5, -1.5, -1.5), 14.5, 14.5);
    }
};

} // namespace

void ToolView::acceptFileDrops(std::function<bool(const QList<QUrl>&)> open)
{
    m_openDropped = std::move(open);
    if (!m_dropRing)
        m_dropRing = new DropRing(this);
    setAcceptDrops(true);
}

FileDrop ToolView::fileDrop()
{
    QPointer<ToolView> self(this);
    FileDrop drop;
    drop.open = [self](const QList<QUrl>& urls) { return self && self->m_openDropped && self->m_openDropped(urls); };
    drop.targeted = [self](bool targeted) {
        if (self)
            self->setDropTargeted(targeted);
    };
    return drop;
}

void ToolView::setDropTargeted(bool targeted)
{
    if (m_dropTargeted == targeted || !m_dropRing)
        return;
    m_dropTargeted = targeted;
    m_dropRing->setGeometry(rect());
    m_dropRing->setVisible(targeted);
    m_dropRing->raise();
}

void ToolView::dragEnterEvent(QDragEnterEvent* event)
{
    if (m_openDropped && event->mimeData()->hasUrls()) {
        event->acceptProposedAction();
        setDropTargeted(true);
        return;
    }
    event->ignore();
}

void ToolView::dragMoveEvent(QDragMoveEvent* event)
{
    if (m_openDropped && event->mimeData()->hasUrls())
        event->acceptProposedAction();
    else
        event->ignore();
}

void ToolView::dragLeaveEvent(QDragLeaveEvent* event)
{
    setDropTargeted(false);
    QWidget::dragLeaveEvent(event);
}

void ToolView::dropEvent(QDropEvent* event)
{
    setDropTargeted(false);
    if (m_openDropped && m_openDropped(event->mimeData()->urls()))
        event->acceptProposedAction();
    else
        event->ignore();
}

void ToolView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    if (m_dropRing)
        m_dropRing->setGeometry(rect());
}
