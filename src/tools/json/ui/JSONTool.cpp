#include "tools/json/ui/JSONTool.h"

#include "tools/json/JSONToolViewModel.h"
#include "tools/json/ui/JSONToolView.h"

JSONTool::JSONTool()
    : Tool(QStringLiteral("json"), QStringLiteral("JSON"), QStringLiteral("curlybraces"), ToolCategory::data, {"json"})
{
}

QObject* JSONTool::makeViewModel(QSettings& defaults, QObject* parent) const
{
    return new JSONToolViewModel(parent);
}

ToolView* JSONTool::makeView(QObject* viewModel) const
{
    return new JSONToolView(qobject_cast<JSONToolViewModel*>(viewModel));
}

void JSONTool::open(const QUrl& fileUrl, QObject* viewModel) const
{
    if (auto* model = qobject_cast<JSONToolViewModel*>(viewModel))
        model->open(fileUrl);
}
