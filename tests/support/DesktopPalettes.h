#pragma once
#include <QPalette>
#include <QString>

#include <utility>
#include <vector>

// Palettes of common desktop themes, by the colours that decide how text reads: window, window
// text, base and text (Fusion's own light palette and a widespread dark variant of it, and
// Breeze's light and dark schemes).
inline QPalette desktopPalette(const char* window, const char* windowText, const char* base, const char* text)
{
    QPalette palette(QColor(QString::fromLatin1(window)));
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
        palette.setColor(group, QPalette::Window, QColor(QString::fromLatin1(window)));
        palette.setColor(group, QPalette::WindowText, QColor(QString::fromLatin1(windowText)));
        palette.setColor(group, QPalette::Base, QColor(QString::fromLatin1(base)));
        palette.setColor(group, QPalette::Text, QColor(QString::fromLatin1(text)));
        palette.setColor(group, QPalette::ButtonText, QColor(QString::fromLatin1(windowText)));
    }
    return palette;
}

inline std::vector<std::pair<const char*, QPalette>> desktopPalettes()
{
    return {
        {"fusion light", desktopPalette("#efefef", "#000000", "#ffffff", "#000000")},
        {"fusion dark", desktopPalette("#353535", "#ffffff", "#2a2a2a", "#ffffff")},
        {"breeze light", desktopPalette("#eff0f1", "#232629", "#fcfcfc", "#232629")},
        {"breeze dark", desktopPalette("#31363b", "#eff0f1", "#232629", "#eff0f1")},
    };
}
