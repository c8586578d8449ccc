#include "tools/timestamp/ui/TimestampTool.h"

#include "tools/timestamp/TimestampToolViewModel.h"
#include "tools/timestamp/ui/TimestampToolView.h"

TimestampTool::TimestampTool()
    : Tool(QStringLiteral("timestamp"), QStringLiteral("Timestamp"), QStringLiteral("clock"), ToolCategory::data, {})
{
}

QObject* TimestampTool::makeViewModel(QSettings& defaults, QObject* parent) const
{
    // The view is made when first shown, often by the very key press that chose it: the
    // press must already be on record then.
    TimestampToolView::watchInputEvents();
    return new TimestampToolViewModel(defaults, parent);
}

ToolView* TimestampTool::makeView(QObject* viewModel) const
{
    return new TimestampToolView(qobject_cast<TimestampToolViewModel*>(viewModel));
}
