#pragma once

#include "kit/DynamicColor.h"

#include <QString>

// The short status word after a pane's title ("VALID"), drawn in its tint on a capsule of the
// tint at 15% opacity. Equal when the texts are canonically equivalent and the tints equal.
class PaneBadge {
public:
    PaneBadge(QString text, DynamicColor tint) : m_text(std::move(text)), m_tint(std::move(tint)) {}

    const QString& text() const { return m_text; }
    const DynamicColor& tint() const { return m_tint; }

    friend bool operator==(const PaneBadge& a, const PaneBadge& b);
    friend bool operator!=(const PaneBadge& a, const PaneBadge& b) { return !(a == b); }

private:
    QString m_text;
    DynamicColor m_tint;
};
