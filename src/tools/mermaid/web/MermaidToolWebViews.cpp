#include "tools/mermaid/web/MermaidToolWebViews.h"

#include "kit/ui/ToolViewMakers.h"
#include "tools/mermaid/MermaidToolViewModel.h"
#include "tools/mermaid/ui/MermaidToolView.h"

void MermaidToolWebViews::add()
{
    ToolViewMakers::add(QStringLiteral("mermaid"), [](QObject* viewModel) -> ToolView* {
        return new MermaidToolView(qobject_cast<MermaidToolViewModel*>(viewModel));
    });
}
