#pragma once

#include "kit/ui/FindBar.h"

// The kit's find bar along the top of the preview.
class MarkdownFindBar : public FindBar {
    Q_OBJECT
public:
    explicit MarkdownFindBar(FindController* controller, QWidget* parent = nullptr)
        : FindBar(controller, QStringLiteral("Find in preview"), parent)
    {
    }
};
