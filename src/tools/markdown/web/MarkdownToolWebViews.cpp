#include "tools/markdown/web/MarkdownToolWebViews.h"

#include "kit/ui/ToolViewMakers.h"
#include "tools/markdown/MarkdownToolViewModel.h"
#include "tools/markdown/ui/MarkdownSchemeHandler.h"
#include "tools/markdown/ui/MarkdownToolView.h"

void MarkdownToolWebViews::add()
{
    // Before any page exists: the engine takes new schemes only until it starts.
    MarkdownSchemeHandler::registerScheme();
    ToolViewMakers::add(QStringLiteral("markdown"), [](QObject* viewModel) -> ToolView* {
        return new MarkdownToolView(qobject_cast<MarkdownToolViewModel*>(viewModel));
    });
}
