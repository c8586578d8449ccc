#include "tools/json/ui/JSONTool.h"

#include "app/ui/ToolHost.h"
#include "kit/ui/ContentUnavailableView.h"
#include "tools/json/JSONToolViewModel.h"

JSONTool::JSONTool()
    : Tool(QStringLiteral("json"), QStringLiteral("JSON"), QStringLiteral("curlybraces"), ToolCategory::data, {"json"})
{
}

QWidget* JSONTool::makeView(ToolHost& host) const
{
    return new ContentUnavailableView(name(), symbol(), QStringLiteral("This tool is on its way."));
}

void JSONTool::open(const QUrl& fileUrl, ToolHost& host) const
{
    host.json->open(fileUrl);
}
