#pragma once

#include <QColor>
#include <QPalette>

// A colour with a light and a dark value, resolved each time it is drawn against the palette in
// effect: a window colour of lightness below 128 counts as dark. It can also stand for a
// palette role at an opacity (the platform's secondary and tertiary text), so it follows the
// desktop theme.
class DynamicColor {
public:
    DynamicColor() = default;
    DynamicColor(const QColor& light, const QColor& dark) : m_light(light), m_dark(dark) {}
    // A role at an opacity; with `minimumContrast` above 1 the blend is made stronger where needed
    // so that it keeps that contrast ratio against the window, bar and base colours.
    DynamicColor(QPalette::ColorRole role, qreal opacity, qreal minimumContrast = 1.0)
        : m_role(role), m_opacity(opacity), m_minimumContrast(minimumContrast)
    {
    }

    // Whether `palette` is a dark appearance.
    static bool isDark(const QPalette& palette);
    // The pane bars' material: the window colour, a shade off the content so a bar reads as chrome.
    static QColor barFill(const QPalette& palette);

    QColor resolved(const QPalette& palette) const;
    // The fixed value for an appearance; a role colour resolves against the application palette.
    QColor resolved(bool dark) const;

    QColor light() const { return m_light; }
    QColor dark() const { return m_dark; }
    bool isRole() const { return m_role != QPalette::NoRole; }

    // The WCAG contrast ratio of two colours (1 to 21); `over` is drawn on `under` first.
    static qreal contrast(const QColor& over, const QColor& under);

    // The platform's secondary and tertiary text styles (window text at 55% and 30%). Secondary
    // text is strengthened to a contrast of 4.5:1 where a desktop palette would leave it fainter.
    static const DynamicColor& secondary();
    static const DynamicColor& tertiary();
    // Divider lines: window text faint enough to read as a hairline on light and dark windows.
    static const DynamicColor& separator();

    friend bool operator==(const DynamicColor& a, const DynamicColor& b)
    {
        return a.m_role == b.m_role && a.m_opacity == b.m_opacity && a.m_minimumContrast == b.m_minimumContrast
            && a.m_light == b.m_light && a.m_dark == b.m_dark;
    }

private:
    QColor m_light;
    QColor m_dark;
    QPalette::ColorRole m_role = QPalette::NoRole;
    qreal m_opacity = 1.0;
    qreal m_minimumContrast = 1.0;
};

// An opaque light/dark pair from two 0xRRGGBB values, light first.
DynamicColor dynamicColor(quint32 light, quint32 dark);
