#include "kit/ui/FontScale.h"

#include <QApplication>
#include <QEvent>
#include <QScreen>
#include <QWidget>

#include <cmath>

namespace {
// The common desktop default, 10 pt, is where one design pixel is one pixel.
constexpr qreal kDefaultPoints = 10.0;
}

qreal FontScale::factor()
{
    const QFont font = QApplication::font();
    qreal points = font.pointSizeF();
    if (points <= 0 && font.pixelSize() > 0) {
        const QScreen* screen = QGuiApplication::primaryScreen();
        const qreal dpi = screen ? screen->logicalDotsPerInchY() : 96.0;
        points = font.pixelSize() * 72.0 / dpi;
    }
    return points > kDefaultPoints ? points / kDefaultPoints : 1.0;
}

int FontScale::pixels(int designPixels)
{
    return std::max(1, int(std::lround(designPixels * factor())));
}

QFont FontScale::sized(QFont font, int designPixels)
{
    font.setPixelSize(pixels(designPixels));
    return font;
}

void FontScale::apply(QWidget* widget, const QFont& font)
{
    auto* scale = widget->findChild<FontScale*>(QStringLiteral("FontScale"), Qt::FindDirectChildrenOnly);
    if (!scale) {
        scale = new FontScale(widget, font);
    } else {
        scale->m_font = font;
        scale->m_designPixels = font.pixelSize();
    }
    scale->reapply();
}

FontScale::FontScale(QWidget* widget, const QFont& font)
    : QObject(widget), m_widget(widget), m_font(font), m_designPixels(font.pixelSize())
{
    setObjectName(QStringLiteral("FontScale"));
    widget->installEventFilter(this);
}

void FontScale::reapply()
{
    m_widget->setFont(m_designPixels > 0 ? sized(m_font, m_designPixels) : m_font);
}

bool FontScale::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_widget && event->type() == QEvent::ApplicationFontChange)
        reapply();
    return QObject::eventFilter(watched, event);
}
