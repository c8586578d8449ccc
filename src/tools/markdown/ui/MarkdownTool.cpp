#include "tools/markdown/ui/MarkdownTool.h"

#include "app/ui/ToolHost.h"
#include "tools/markdown/MarkdownToolViewModel.h"
#include "tools/markdown/ui/MarkdownToolView.h"

MarkdownTool::MarkdownTool()
    : Tool(QStringLiteral("markdown"), QStringLiteral("Markdown"), QStringLiteral("doc.text"), ToolCategory::text, {"md", "markdown", "mdown", "mkd", "mkdn", "txt", "text"})
{
}

QWidget* MarkdownTool::makeView(ToolHost& host) const
{
    return new MarkdownToolView(host.markdown);
}

void MarkdownTool::open(const QUrl& fileUrl, ToolHost& host) const
{
    host.markdown->open(fileUrl);
}
