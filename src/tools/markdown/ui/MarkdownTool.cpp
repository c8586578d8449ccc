#include "tools/markdown/ui/MarkdownTool.h"

#include "app/ui/ToolHost.h"
#include "tools/markdown/MarkdownToolViewModel.h"

#include <QPlainTextEdit>

MarkdownTool::MarkdownTool()
    : Tool(QStringLiteral("markdown"), QStringLiteral("Markdown"), QStringLiteral("doc.text"), ToolCategory::text, {"md", "markdown", "mdown", "mkd", "mkdn", "txt", "text"})
{
}

QWidget* MarkdownTool::makeView(ToolHost& host) const
{
    // Stand-in: shows the text of the opened document.
    auto* view = new QPlainTextEdit;
    view->setReadOnly(true);
    view->setPlaceholderText(QStringLiteral("Open a Markdown file to see its text here."));
    MarkdownToolViewModel* model = host.markdown;
    view->setPlainText(model->text());
    QObject::connect(model, &MarkdownToolViewModel::textChanged, view, [view, model] { view->setPlainText(model->text()); });
    return view;
}

void MarkdownTool::open(const QUrl& fileUrl, ToolHost& host) const
{
    host.markdown->open(fileUrl);
}
