#include "tools/csv/ui/CSVTool.h"

#include "tools/csv/CSVToolViewModel.h"
#include "tools/csv/ui/CSVToolView.h"

CSVTool::CSVTool()
    : Tool(QStringLiteral("csv"), QStringLiteral("CSV"), QStringLiteral("tablecells"), ToolCategory::data, {"csv", "tsv"})
{
}

QObject* CSVTool::makeViewModel(QSettings&, QObject* parent) const
{
    return new CSVToolViewModel(parent);
}

ToolView* CSVTool::makeView(QObject* viewModel) const
{
    return new CSVToolView(qobject_cast<CSVToolViewModel*>(viewModel));
}

void CSVTool::open(const QUrl& fileUrl, QObject* viewModel) const
{
    if (auto* model = qobject_cast<CSVToolViewModel*>(viewModel))
        model->open(fileUrl);
}
