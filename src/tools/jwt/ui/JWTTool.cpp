#include "tools/jwt/ui/JWTTool.h"

#include "app/ui/ToolHost.h"
#include "kit/ui/ContentUnavailableView.h"
#include "tools/jwt/JWTToolViewModel.h"

JWTTool::JWTTool()
    : Tool(QStringLiteral("jwt"), QStringLiteral("JWT"), QStringLiteral("key.horizontal"), ToolCategory::encoding, {})
{
}

QWidget* JWTTool::makeView(ToolHost& host) const
{
    return new ContentUnavailableView(name(), symbol(), QStringLiteral("This tool is on its way."));
}
