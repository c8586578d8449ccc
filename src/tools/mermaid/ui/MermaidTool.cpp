#include "tools/mermaid/ui/MermaidTool.h"

#include "kit/ui/ToolViewMakers.h"
#include "tools/mermaid/MermaidToolViewModel.h"

MermaidTool::MermaidTool()
    : Tool(QStringLiteral("mermaid"), QStringLiteral("Mermaid"), QStringLiteral("flowchart"), ToolCategory::text,
           {QStringLiteral("mmd"), QStringLiteral("mermaid")})
{
}

QObject* MermaidTool::makeViewModel(QSettings&, QObject* parent) const
{
    return new MermaidToolViewModel(parent);
}

ToolView* MermaidTool::makeView(QObject* viewModel) const
{
    // The view shows a web page: it comes from the maker added with the web engine's library.
    return ToolViewMakers::make(id(), viewModel);
}

void MermaidTool::open(const QUrl& fileUrl, QObject* viewModel) const
{
    if (auto* model = qobject_cast<MermaidToolViewModel*>(viewModel))
        model->open(fileUrl);
}
