#include "tools/jwt/ui/JWTTool.h"

#include "kit/ui/ContentUnavailableView.h"
#include "kit/ui/ToolView.h"
#include "tools/jwt/JWTToolViewModel.h"

#include <QVBoxLayout>

JWTTool::JWTTool()
    : Tool(QStringLiteral("jwt"), QStringLiteral("JWT"), QStringLiteral("key.horizontal"), ToolCategory::encoding, {})
{
}

QObject* JWTTool::makeViewModel(QSettings& defaults, QObject* parent) const
{
    return new JWTToolViewModel(parent);
}

ToolView* JWTTool::makeView(QObject* viewModel) const
{
    auto* view = new ToolView;
    auto* layout = new QVBoxLayout(view);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(new ContentUnavailableView(name(), symbol(), QStringLiteral("This tool is on its way.")));
    return view;
}
