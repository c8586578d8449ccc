#include "tools/csv/ui/CSVTool.h"

#include "app/ui/ToolHost.h"
#include "kit/ui/ContentUnavailableView.h"
#include "tools/csv/CSVToolViewModel.h"

CSVTool::CSVTool()
    : Tool(QStringLiteral("csv"), QStringLiteral("CSV"), QStringLiteral("tablecells"), ToolCategory::data, {"csv", "tsv"})
{
}

QWidget* CSVTool::makeView(ToolHost& host) const
{
    return new ContentUnavailableView(name(), symbol(), QStringLiteral("This tool is on its way."));
}

void CSVTool::open(const QUrl& fileUrl, ToolHost& host) const
{
    host.csv->open(fileUrl);
}
