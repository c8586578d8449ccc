#include "tools/jwt/ui/JWTTool.h"

#include "tools/jwt/JWTToolViewModel.h"
#include "tools/jwt/ui/JWTToolView.h"

JWTTool::JWTTool()
    : Tool(QStringLiteral("jwt"), QStringLiteral("JWT"), QStringLiteral("key.horizontal"), ToolCategory::encoding, {})
{
}

QObject* JWTTool::makeViewModel(QSettings& defaults, QObject* parent) const
{
    Q_UNUSED(defaults);
    return new JWTToolViewModel(parent);
}

ToolView* JWTTool::makeView(QObject* viewModel) const
{
    return new JWTToolView(qobject_cast<JWTToolViewModel*>(viewModel));
}
