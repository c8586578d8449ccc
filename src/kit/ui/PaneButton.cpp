#include "kit/ui/PaneButton.h"

#include "kit/ui/PaneStyle.h"
#include "kit/ui/FontScale.h"

#include <QEvent>
#include <QFocusEvent>
#include <QPainter>
#include <QPainterPath>
#include <QStyleOptionFocusRect>

namespace {
constexpr int kIconSize = 12;
constexpr int kSpacing = 4;
constexpr int kPadding = 7;
constexpr int kHeight = 22;
} // namespace

PaneButton::PaneButton(const QString& title, const QString& systemImage, const DynamicColor& tint,
                       std::function<void()> action, QWidget* parent)
    : QAbstractButton(parent), m_systemImage(systemImage), m_tint(tint), m_action(std::move(action))
{
    setText(title);
    FontScale::apply(this, PaneStyle::caption(font(), QFont::Medium));
    setFocusPolicy(Qt::TabFocus);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setCursor(Qt::ArrowCursor);
    connect(this, &QAbstractButton::clicked, this, [this] {
        if (m_action)
            m_action();
    });
}

void PaneButton::setTitle(const QString& title)
{
    if (title == text())
        return;
    setText(title);
    updateGeometry();
}

void PaneButton::setSystemImage(const QString& systemImage)
{
    if (systemImage == m_systemImage)
        return;
    m_systemImage = systemImage;
    updateGeometry();
    update();
}

void PaneButton::setTint(const DynamicColor& tint)
{
    m_tint = tint;
    update();
}

QSize PaneButton::sizeHint() const
{
    const int textWidth = fontMetrics().horizontalAdvance(text());
    const bool hasIcon = !PaneStyle::symbol(m_systemImage).isNull();
    int width = kPadding * 2 + textWidth;
    if (hasIcon)
        width += kIconSize + (text().isEmpty() ? 0 : kSpacing);
    return QSize(width, kHeight);
}

void PaneButton::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QPalette& pal = palette();
    QColor tint = m_tint.resolved(pal);
    if (!isEnabled())
        tint = DynamicColor::tertiary().resolved(pal);

    // The bordered bezel: a soft fill, darker while pressed, and a hairline edge.
    const QRectF bezel = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    QColor fill = pal.color(QPalette::WindowText);
    fill.setAlphaF(isDown() ? 0.16 : (m_hovered && isEnabled() ? 0.10 : 0.06));
    QColor edge = pal.color(QPalette::WindowText);
    edge.setAlphaF(0.14);
    p.setPen(QPen(edge, 1));
    p.setBrush(fill);
    p.drawRoundedRect(bezel, 5, 5);
    if (hasFocus() && m_keyboardFocus) {
        QColor ring = pal.color(QPalette::Highlight);
        p.setPen(QPen(ring, 2));
        p.setBrush(Qt::NoBrush);
        p.drawRoundedRect(bezel.adjusted(1, 1, -1, -1), 4, 4);
    }

    int x = kPadding;
    const QPixmap icon = PaneStyle::tintedSymbol(m_systemImage, kIconSize, devicePixelRatioF(), tint);
    if (!icon.isNull()) {
        p.drawPixmap(QPoint(x, (height() - kIconSize) / 2), icon);
        x += kIconSize + kSpacing;
    }
    p.setPen(tint);
    p.setFont(font());
    p.drawText(QRect(x, 0, width() - x - kPadding + 1, height()), Qt::AlignVCenter | Qt::AlignLeft, text());
}

void PaneButton::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::FontChange)
        updateGeometry();
    QAbstractButton::changeEvent(event);
}

void PaneButton::focusInEvent(QFocusEvent* event)
{
    m_keyboardFocus = event->reason() == Qt::TabFocusReason || event->reason() == Qt::BacktabFocusReason;
    QAbstractButton::focusInEvent(event);
}

void PaneButton::enterEvent(QEnterEvent* event)
{
    m_hovered = true;
    update();
    QAbstractButton::enterEvent(event);
}

void PaneButton::leaveEvent(QEvent* event)
{
    m_hovered = false;
    update();
    QAbstractButton::leaveEvent(event);
}
