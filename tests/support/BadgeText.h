#pragma once
#include "kit/ui/ToolPane.h"

// A pane's badge text, or a text no badge has, so a missing badge fails a comparison instead of
// reading an empty optional.
inline QString badgeText(const ToolPane* pane)
{
    const std::optional<PaneBadge> badge = pane->badge();
    return badge ? badge->text() : QStringLiteral("(no badge)");
}
