#include "app/ui/FindCommands.h"

#include "kit/ToolNotifications.h"

#include <QApplication>
#include <QScrollArea>

static bool usesFindBar(const QWidget* widget)
{
    return widget && widget->property("usesFindBar").toBool();
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

void FindCommands::perform(int action, std::optional<bool> activeToolRunsOwnFind, QWidget* focus)
{
    const Target target = route(activeToolRunsOwnFind, focus);
    switch (target.route) {
    case Route::FindInTool:
        ToolNotifications::instance().postFindInTool(action);
        break;
    case Route::TextView:
        QMetaObject::invokeMethod(target.textView, "performTextFinderAction", Q_ARG(int, action));
        break;
    case Route::Beep:
        QApplication::beep();
        break;
    }
}
