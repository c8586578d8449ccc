#include "tools/csv/ui/CSVTool.h"

#include "kit/ui/ContentUnavailableView.h"
#include "kit/ui/ToolView.h"
#include "tools/csv/CSVToolViewModel.h"

#include <QVBoxLayout>

CSVTool::CSVTool()
    : Tool(QStringLiteral("csv"), QStringLiteral("CSV"), QStringLiteral("tablecells"), ToolCategory::data, {"csv", "tsv"})
{
}

QObject* CSVTool::makeViewModel(QSettings& defaults, QObject* parent) const
{
    return new CSVToolViewModel(parent);
}

ToolView* CSVTool::makeView(QObject* viewModel) const
{
    auto* view = new ToolView;
    auto* layout = new QVBoxLayout(view);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(new ContentUnavailableView(name(), symbol(), QStringLiteral("This tool is on its way.")));
    return view;
}

void CSVTool::open(const QUrl& fileUrl, QObject* viewModel) const
{
    if (auto* model = qobject_cast<CSVToolViewModel*>(viewModel))
        model->open(fileUrl);
}
