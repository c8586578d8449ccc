#include "tools/timestamp/ui/TimestampTool.h"

#include "app/ui/ToolHost.h"
#include "kit/ui/ContentUnavailableView.h"
#include "tools/timestamp/TimestampToolViewModel.h"

TimestampTool::TimestampTool()
    : Tool(QStringLiteral("timestamp"), QStringLiteral("Timestamp"), QStringLiteral("clock"), ToolCategory::data, {})
{
}

QWidget* TimestampTool::makeView(ToolHost& host) const
{
    return new ContentUnavailableView(name(), symbol(), QStringLiteral("This tool is on its way."));
}
