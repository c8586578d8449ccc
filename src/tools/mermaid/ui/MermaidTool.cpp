#include "tools/mermaid/ui/MermaidTool.h"

#include "app/ui/ToolHost.h"
#include "kit/ui/ContentUnavailableView.h"
#include "tools/mermaid/MermaidToolViewModel.h"

MermaidTool::MermaidTool()
    : Tool(QStringLiteral("mermaid"), QStringLiteral("Mermaid"), QStringLiteral("flowchart"), ToolCategory::text, {"mmd", "mermaid"})
{
}

QWidget* MermaidTool::makeView(ToolHost& host) const
{
    return new ContentUnavailableView(name(), symbol(), QStringLiteral("This tool is on its way."));
}

void MermaidTool::open(const QUrl& fileUrl, ToolHost& host) const
{
    host.mermaid->open(fileUrl);
}
