#pragma once

#include "kit/ui/ToolView.h"

// A text view with a find bar of its own: the Find menu hands it the action when no tool on
// screen runs its own find and the focus is in or below it.
class TextFinder {
public:
    virtual ~TextFinder() = default;
    virtual void performTextFinderAction(ToolView::FindAction action) = 0;
};
