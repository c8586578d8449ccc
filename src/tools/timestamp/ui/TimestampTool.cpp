#include "tools/timestamp/ui/TimestampTool.h"

#include "tools/timestamp/TimestampToolViewModel.h"
#include "tools/timestamp/ui/TimestampToolView.h"

TimestampTool::TimestampTool()
    : Tool(QStringLiteral("timestamp"), QStringLiteral("Timestamp"), QStringLiteral("clock"), ToolCategory::data, {})
{
}

QObject* TimestampTool::makeViewModel(QSettings& defaults, QObject* parent) const
{
    return new TimestampToolViewModel(defaults, parent);
}

ToolView* TimestampTool::makeView(QObject* viewModel) const
{
    return new TimestampToolView(qobject_cast<TimestampToolViewModel*>(viewModel));
}
