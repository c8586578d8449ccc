#include "tools/mermaid/ui/MermaidTool.h"

#include "tools/mermaid/MermaidToolViewModel.h"
#include "tools/mermaid/ui/MermaidToolView.h"

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
    return new MermaidToolView(qobject_cast<MermaidToolViewModel*>(viewModel));
}

void MermaidTool::open(const QUrl& fileUrl, QObject* viewModel) const
{
    if (auto* model = qobject_cast<MermaidToolViewModel*>(viewModel))
        model->open(fileUrl);
}
