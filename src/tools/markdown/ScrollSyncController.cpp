#include "tools/markdown/ScrollSyncController.h"

#include <algorithm>
#include <cmath>

ScrollSyncController::ScrollSyncController(QObject* parent) : QObject(parent) {}

void ScrollSyncController::forget()
{
    current.reset();
    leader = Pane::editor;
    mode = Mode::scrolling;
    handoverStart.reset();
}

void ScrollSyncController::reset()
{
    forget();
    if (editorToStart)
        editorToStart();
    if (previewToTop)
        previewToTop();
}

void ScrollSyncController::clear()
{
    forget();
}

void ScrollSyncController::step(Pane from, double delta, double target, const LineAt& lineAt)
{
    double start;
    double sum;
    if (mode != Mode::scrolling || leader != from || !handoverStart) {
        start = current ? current->windowY : target;
        handoverStart = start;
        mode = Mode::scrolling;
        leader = from;
        sum = 0;
    } else {
        start = *handoverStart;
        sum = scrolled;
    }
    scrolled = sum + std::abs(delta);
    const double quotient = scrolled / handoverDistance;
    const double k = quotient > 0 ? std::min(quotient, 1.0) : 0.0;
    const double windowY = start + (target - start) * k;
    const double line = lineAt ? lineAt(windowY) : 0.0;
    current = Level{line, windowY};
    if (from == Pane::preview) {
        if (applyToEditor)
            applyToEditor(*current);
    } else if (applyToPreview) {
        applyToPreview(*current, false);
    }
}

void ScrollSyncController::followCaret(const Level& level, bool glide)
{
    mode = Mode::caret;
    leader = Pane::editor;
    current = level;
    if (applyToPreview)
        applyToPreview(level, glide);
}

void ScrollSyncController::followFind(const Level& level)
{
    mode = Mode::previewFind;
    leader = Pane::preview;
    current = level;
    if (applyToEditor)
        applyToEditor(level);
}

void ScrollSyncController::alignEditor()
{
    if (!current)
        return;
    leader = Pane::preview;
    handoverStart = current->windowY;
    scrolled = 0;
    if (applyToEditor)
        applyToEditor(*current);
}

void ScrollSyncController::reapplyToEditor()
{
    if (current && applyToEditor)
        applyToEditor(*current);
}

void ScrollSyncController::reapplyToPreview()
{
    if (current && applyToPreview)
        applyToPreview(*current, false);
}

double ScrollSyncController::naturalReadingHeight(double paneTop, double viewport, double content, double scrollY)
{
    double offset = 0;
    const double rest = content - viewport;
    if (viewport > 0 && rest > 0) {
        const double m = std::min(rest, viewport);
        const double f = (scrollY - (rest - m)) / m;
        offset = viewport * (f <= 0 ? 0.0 : std::min(f, 1.0));
    }
    return paneTop + offset;
}
