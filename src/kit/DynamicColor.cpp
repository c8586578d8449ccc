#include "kit/DynamicColor.h"

#include <QGuiApplication>

#include <algorithm>
#include <cmath>

QColor DynamicColor::barFill(const QPalette& palette)
{
    const QColor window = palette.color(QPalette::Window);
    return isDark(palette) ? window.lighter(108) : window.darker(102);
}

bool DynamicColor::isDark(const QPalette& palette)
{
    return palette.color(QPalette::Active, QPalette::Window).lightness() < 128;
}

static qreal luminance(const QColor& colour)
{
    auto linear = [](qreal c) { return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4); };
    return 0.2126 * linear(colour.redF()) + 0.7152 * linear(colour.greenF()) + 0.0722 * linear(colour.blueF());
}

static QColor blend(const QColor& over, const QColor& under)
{
    const qreal a = over.alphaF();
    return QColor::fromRgbF(float(over.redF() * a + under.redF() * (1 - a)),
                            float(over.greenF() * a + under.greenF() * (1 - a)),
                            float(over.blueF() * a + under.blueF() * (1 - a)));
}

qreal DynamicColor::contrast(const QColor& over, const QColor& under)
{
    const QColor back = under.toRgb();
    const qreal a = luminance(blend(over.toRgb(), back));
    const qreal b = luminance(back);
    return (std::max(a, b) + 0.05) / (std::min(a, b) + 0.05);
}

QColor DynamicColor::resolved(const QPalette& palette) const
{
    if (isRole()) {
        QColor colour = palette.color(m_role);
        const qreal base = colour.alphaF();
        colour.setAlphaF(base * m_opacity);
        if (m_minimumContrast <= 1.0)
            return colour;
        // The backgrounds secondary text sits on: the window, the pane bars (a shade off it) and
        // the content; the blend grows until it reads on all of them, or is the role itself.
        const QColor window = palette.color(QPalette::Window);
        const QColor backs[] = {window, barFill(palette), palette.color(QPalette::Base)};
        for (qreal opacity = m_opacity; opacity < 1.0; opacity += 0.01) {
            colour.setAlphaF(base * opacity);
            if (std::all_of(std::begin(backs), std::end(backs),
                            [&](const QColor& back) { return contrast(colour, back) >= m_minimumContrast; }))
                return colour;
        }
        colour.setAlphaF(base);
        return colour;
    }
    return isDark(palette) ? m_dark : m_light;
}

QColor DynamicColor::resolved(bool dark) const
{
    if (isRole())
        return resolved(QGuiApplication::palette());
    return dark ? m_dark : m_light;
}

const DynamicColor& DynamicColor::secondary()
{
    static const DynamicColor colour(QPalette::WindowText, 0.55, 4.5);
    return colour;
}

const DynamicColor& DynamicColor::tertiary()
{
    static const DynamicColor colour(QPalette::WindowText, 0.3);
    return colour;
}

const DynamicColor& DynamicColor::separator()
{
    static const DynamicColor colour(QPalette::WindowText, 0.15);
    return colour;
}

DynamicColor dynamicColor(quint32 light, quint32 dark)
{
    return DynamicColor(QColor::fromRgb(QRgb(0xFF000000u | light)), QColor::fromRgb(QRgb(0xFF000000u | dark)));
}
