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

FontScale* FontScale::of(QWidget* widget)
{
    if (auto* scale = widget->findChild<FontScale*>(QStringLiteral("FontScale"), Qt::FindDirectChildrenOnly))
        return scale;
    return new FontScale(widget);
}

void FontScale::apply(QWidget* widget, const QFont& font)
{
    FontScale* scale = of(widget);
    scale->m_font = font;
    scale->m_designPixels = font.pixelSize();
    scale->m_hasFont = true;
    scale->reapply();
}

void FontScale::follow(QWidget* widget, std::function<void()> apply)
{
    FontScale* scale = of(widget);
    scale->m_followers.append(std::move(apply));
    scale->m_followers.last()();
}

FontScale::FontScale(QWidget* widget) : QObject(widget), m_widget(widget)
{
    setObjectName(QStringLiteral("FontScale"));
    widget->installEventFilter(this);
}

void FontScale::reapply()
{
    if (m_hasFont)
        m_widget->setFont(m_designPixels > 0 ? sized(m_font, m_designPixels) : m_font);
    for (const auto& follower : std::as_const(m_followers))
        follower();
}

bool FontScale::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_widget && event->type() == QEvent::ApplicationFontChange)
        reapply();
    return QObject::eventFilter(watched, event);
}
