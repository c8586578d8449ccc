// The tools' views that show web pages, in a library of their own that the program loads once
// its window is on screen: the web engine's libraries come with it, after the first paint.
#include "kit/ui/ToolViewMakers.h"
#include "tools/markdown/MarkdownToolViewModel.h"
#include "tools/markdown/ui/MarkdownSchemeHandler.h"
#include "tools/markdown/ui/MarkdownToolView.h"
#include "tools/mermaid/MermaidToolViewModel.h"
#include "tools/mermaid/ui/MermaidToolView.h"

// The web engine's own set-up for a program that loads it late: makes the GL context its views
// share, when none exists, on the GUI thread.
namespace QtWebEngineCore {
void initialize();
}

extern "C" Q_DECL_EXPORT void quorrixAddWebToolViews()
{
    QtWebEngineCore::initialize();
    // Before any page exists: the engine takes new schemes only until it starts.
    MarkdownSchemeHandler::registerScheme();
    ToolViewMakers::add(QStringLiteral("markdown"), [](QObject* viewModel) -> ToolView* {
        return new MarkdownToolView(qobject_cast<MarkdownToolViewModel*>(viewModel));
    });
    ToolViewMakers::add(QStringLiteral("mermaid"), [](QObject* viewModel) -> ToolView* {
        return new MermaidToolView(qobject_cast<MermaidToolViewModel*>(viewModel));
    });
}
