#include "kit/ui/FocusRing.h"

#include <QApplication>
#include <QEvent>
#include <QPainter>
#include <QTimer>

FocusRing* FocusRing::attach(QWidget* target) { return new FocusRing(target); }

FocusRing::FocusRing(QWidget* target) : QWidget(target), m_target(target)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    setFocusPolicy(Qt::NoFocus);
    hide();
    target->installEventFilter(this);
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* now) { focusMoved(now); });
}

void FocusRing::focusMoved(QWidget* now)
{
    const bool focused = m_target && now && (now == m_target || now == m_target->focusProxy());
    if (focused) {
        setGeometry(m_target->rect());
        raise();
    }
    setVisible(focused);
}

bool FocusRing::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_target) {
        switch (event->type()) {
        case QEvent::Resize:
            setGeometry(m_target->rect());
            break;
        case QEvent::ChildAdded:
            // A child made later (a web view's render widget) would cover the ring.
            if (isVisible())
                QTimer::singleShot(0, this, [this] { raise(); });
            break;
        default:
            break;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void FocusRing::paintFrame(QPainter& painter, const QRectF& rect, const QPalette& palette)
{
    painter.save();
    QPen pen(palette.color(QPalette::Active, QPalette::Highlight), 2);
    pen.setJoinStyle(Qt::MiterJoin);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.drawRect(rect.adjusted(1, 1, -1, -1));
    painter.restore();
}

void FocusRing::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    paintFrame(painter, QRectF(rect()), palette());
}
