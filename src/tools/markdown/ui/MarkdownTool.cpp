#include "tools/markdown/ui/MarkdownTool.h"

#include "tools/markdown/MarkdownToolViewModel.h"
#include "tools/markdown/ui/MarkdownSchemeHandler.h"
#include "tools/markdown/ui/MarkdownToolView.h"

MarkdownTool::MarkdownTool()
    : Tool(QStringLiteral("markdown"), QStringLiteral("Markdown"), QStringLiteral("doc.text"), ToolCategory::text,
           QSet<QString>(MarkdownToolViewModel::markdownExtensions().cbegin(),
                         MarkdownToolViewModel::markdownExtensions().cend()))
{
}

void MarkdownTool::registerURLSchemes() const
{
    MarkdownSchemeHandler::registerScheme();
}

QObject* MarkdownTool::makeViewModel(QSettings& defaults, QObject* parent) const
{
    return new MarkdownToolViewModel(parent);
}

ToolView* MarkdownTool::makeView(QObject* viewModel) const
{
    return new MarkdownToolView(qobject_cast<MarkdownToolViewModel*>(viewModel));
}

void MarkdownTool::open(const QUrl& fileUrl, QObject* viewModel) const
{
    if (auto* model = qobject_cast<MarkdownToolViewModel*>(viewModel))
        model->open(fileUrl);
}
