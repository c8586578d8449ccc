#include "kit/DynamicColor.h"

#include <QGuiApplication>

bool DynamicColor::isDark(const QPalette& palette)
{
    return palette.color(QPalette::Active, QPalette::Window).lightness() < 128;
}

QColor DynamicColor::resolved(const QPalette& palette) const
{
    if (isRole()) {
        QColor colour = palette.color(m_role);
        colour.setAlphaF(colour.alphaF() * m_opacity);
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
    static const DynamicColor colour(QPalette::WindowText, 0.55);
    return colour;
}

const DynamicColor& DynamicColor::tertiary()
{
    static const DynamicColor colour(QPalette::WindowText, 0.3);
    return colour;
}

DynamicColor dynamicColor(quint32 light, quint32 dark)
{
    return DynamicColor(QColor::fromRgb(QRgb(0xFF000000u | light)), QColor::fromRgb(QRgb(0xFF000000u | dark)));
}
