#pragma once

#include "kit/DynamicColor.h"

#include <QList>
#include <QObject>
#include <QPalette>

#include <functional>

class QWidget;

// Keeps colours that are derived from the palette in step with it: a role of a widget's palette
// set from a `DynamicColor`, or any code that paints or tints from the palette, is applied now and
// again whenever the palette the widget inherits changes (a theme switch while running).
class PaletteBinding : public QObject {
public:
    // Sets `role` of `widget`'s palette to `colour`, resolved against the palette the widget
    // inherits, and keeps it so.
    static void bind(QWidget* widget, QPalette::ColorRole role, const DynamicColor& colour);
    // Calls `apply` now and after every palette change of `widget`.
    static void follow(QWidget* widget, std::function<void()> apply);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    explicit PaletteBinding(QWidget* widget);
    static PaletteBinding* of(QWidget* widget);
    void apply();

    QWidget* m_widget;
    QList<std::pair<QPalette::ColorRole, DynamicColor>> m_roles;
    QList<std::function<void()>> m_followers;
    bool m_applying = false;
};
