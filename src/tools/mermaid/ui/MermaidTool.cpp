#include "tools/mermaid/ui/MermaidTool.h"

#include "kit/ui/ContentUnavailableView.h"
#include "kit/ui/ToolView.h"
#include "tools/mermaid/MermaidToolViewModel.h"

#include <QVBoxLayout>

MermaidTool::MermaidTool()
    : Tool(QStringLiteral("mermaid"), QStringLiteral("Mermaid"), QStringLiteral("flowchart"), ToolCategory::text, {"mmd", "mermaid"})
{
}

QObject* MermaidTool::makeViewModel(QSettings& defaults, QObject* parent) const
{
    return new MermaidToolViewModel(parent);
}

ToolView* MermaidTool::makeView(QObject* viewModel) const
{
    auto* view = new ToolView;
    auto* layout = new QVBoxLayout(view);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(new ContentUnavailableView(name(), symbol(), QStringLiteral("This tool is on its way.")));
    return view;
}

void MermaidTool::open(const QUrl& fileUrl, QObject* viewModel) const
{
    if (auto* model = qobject_cast<MermaidToolViewModel*>(viewModel))
        model->open(fileUrl);
}
