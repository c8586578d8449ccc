#include "tools/json/ui/JSONTool.h"

#include "app/ui/ToolHost.h"
#include "tools/json/JSONToolViewModel.h"
#include "tools/json/ui/JSONToolView.h"

JSONTool::JSONTool()
    : Tool(QStringLiteral("json"), QStringLiteral("JSON"), QStringLiteral("curlybraces"), ToolCategory::data, {"json"})
{
}

QWidget* JSONTool::makeView(ToolHost& host) const
{
    return new JSONToolView(host.json);
}

void JSONTool::open(const QUrl& fileUrl, ToolHost& host) const
{
    host.json->open(fileUrl);
}
