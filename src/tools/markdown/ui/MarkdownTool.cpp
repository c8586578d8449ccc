#include "tools/markdown/ui/MarkdownTool.h"

#include "tools/markdown/MarkdownToolViewModel.h"
#include "kit/ui/ToolViewMakers.h"

MarkdownTool::MarkdownTool()
    : Tool(QStringLiteral("markdown"), QStringLiteral("Markdown"), QStringLiteral("doc.text"), ToolCategory::text,
           QSet<QString>(MarkdownToolViewModel::markdownExtensions().cbegin(),
                         MarkdownToolViewModel::markdownExtensions().cend()))
{
}

QObject* MarkdownTool::makeViewModel(QSettings& defaults, QObject* parent) const
{
    return new MarkdownToolViewModel(parent);
}

ToolView* MarkdownTool::makeView(QObject* viewModel) const
{
    // The view shows a web page: it comes from the maker added with the web engine's library.
    return ToolViewMakers::make(id(), viewModel);
}

void MarkdownTool::open(const QUrl& fileUrl, QObject* viewModel) const
{
    if (auto* model = qobject_cast<MarkdownToolViewModel*>(viewModel))
        model->open(fileUrl);
}
