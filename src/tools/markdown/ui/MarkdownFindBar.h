#pragma once

#include "kit/ui/FindBar.h"

#include <QLineEdit>

// The kit's find bar along the top of the preview.
class MarkdownFindBar : public FindBar {
    Q_OBJECT
public:
    explicit MarkdownFindBar(FindController* controller, QWidget* parent = nullptr)
        : FindBar(controller, QStringLiteral("Find in preview"), parent)
    {
    }

protected:
    // Shown again, the bar offers the last query selected, so typing replaces it.
    void showEvent(QShowEvent* event) override
    {
        FindBar::showEvent(event);
        field()->selectAll();
    }
};
