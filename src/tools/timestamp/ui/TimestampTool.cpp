#include "tools/timestamp/ui/TimestampTool.h"

#include "kit/ui/ContentUnavailableView.h"
#include "kit/ui/ToolView.h"
#include "tools/timestamp/TimestampToolViewModel.h"

#include <QVBoxLayout>

TimestampTool::TimestampTool()
    : Tool(QStringLiteral("timestamp"), QStringLiteral("Timestamp"), QStringLiteral("clock"), ToolCategory::data, {})
{
}

QObject* TimestampTool::makeViewModel(QSettings& defaults, QObject* parent) const
{
    return new TimestampToolViewModel(defaults, parent);
}

ToolView* TimestampTool::makeView(QObject* viewModel) const
{
    auto* view = new ToolView;
    auto* layout = new QVBoxLayout(view);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(new ContentUnavailableView(name(), symbol(), QStringLiteral("This tool is on its way.")));
    return view;
}
