#pragma once

#include "kit/ui/ToolView.h"

#include <QPointer>
#include <QWidget>

#include <optional>

// Where a Find menu command goes: to the tool on screen when it runs its own find, else to the
// focused text view that has a find bar, else nowhere (a beep).
//
class FindCommands {
public:
    enum class Route { FindInTool, TextView, Beep };

    struct Target {
        Route route = Route::Beep;
        QPointer<QWidget> textView;
    };

    static Target route(std::optional<bool> activeToolRunsOwnFind, QWidget* focus);
    // The nearest text view with a find bar, from `focus` up through its ancestors.
    static QWidget* findBarTextView(QWidget* focus);
    // Carries out the action where route() sends it; `tool` is the tool on screen, if any.
    static void perform(ToolView::FindAction action, ToolView* tool, QWidget* focus);
};

// "Open…" is disabled only while the key window says its tool accepts no files.
namespace FileCommands {
inline bool openEnabled(std::optional<bool> activeToolOpensFiles)
{
    return !(activeToolOpensFiles.has_value() && !*activeToolOpensFiles);
}
} // namespace FileCommands
