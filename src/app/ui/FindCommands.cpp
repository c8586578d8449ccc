#include "app/ui/FindCommands.h"

#include "kit/ui/TextFinder.h"

#include <QApplication>
#include <QScrollArea>

static bool usesFindBar(const QWidget* widget)
{
    return dynamic_cast<const TextFinder*>(widget) != nullptr;
}

QWidget* FindCommands::findBarTextView(QWidget* focus)
{
    for (QWidget* view = focus; view; view = view->parentWidget()) {
        if (usesFindBar(view))
            return view;
        if (auto* scroll = qobject_cast<QScrollArea*>(view); scroll && usesFindBar(scroll->widget()))
            return scroll->widget();
        if (view->isWindow())
            break;
    }
    return nullptr;
}

FindCommands::Target FindCommands::route(std::optional<bool> activeToolRunsOwnFind, QWidget* focus)
{
    if (activeToolRunsOwnFind.value_or(false))
        return {Route::FindInTool, nullptr};
    if (QWidget* view = findBarTextView(focus))
        return {Route::TextView, view};
    return {Route::Beep, nullptr};
}

void FindCommands::perform(ToolView::FindAction action, ToolView* tool, QWidget* focus)
{
    const std::optional<bool> ownFind = tool ? std::optional<bool>(tool->runsOwnFind()) : std::nullopt;
    const Target target = route(ownFind, focus);
    switch (target.route) {
    case Route::FindInTool:
        tool->findInTool(action);
        break;
    case Route::TextView:
        dynamic_cast<TextFinder*>(target.textView.data())->performTextFinderAction(action);
        break;
    case Route::Beep:
        QApplication::beep();
        break;
    }
}
