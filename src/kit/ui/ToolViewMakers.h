#pragma once

#include <QString>

#include <functional>

class QObject;
class ToolView;

// Makers of the tool views that a tool does not link itself: views on a web engine come from a
// library the program loads after its window is on screen, so that the engine's libraries are
// not loaded before the first paint. That library adds its makers here; a tool's makeView() asks
// for its own by id. GUI thread only.
class ToolViewMakers {
public:
    using Maker = std::function<ToolView*(QObject* viewModel)>;

    static void add(const QString& toolID, Maker maker);
    // Run once when a view is asked for that has no maker yet (the program loads the library).
    static void setLoader(std::function<void()> loader);
    // The view around `viewModel`; null when no maker for `toolID` is known even after loading.
    static ToolView* make(const QString& toolID, QObject* viewModel);
};
