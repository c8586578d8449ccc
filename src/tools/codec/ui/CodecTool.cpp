#include "tools/codec/ui/CodecTool.h"

#include "app/ui/ToolHost.h"
#include "kit/ui/ContentUnavailableView.h"
#include "tools/codec/CodecToolViewModel.h"

CodecTool::CodecTool()
    : Tool(QStringLiteral("codec"), QStringLiteral("Encode / Decode"), QStringLiteral("arrow.left.arrow.right"), ToolCategory::encoding, {})
{
}

QWidget* CodecTool::makeView(ToolHost& host) const
{
    return new ContentUnavailableView(name(), symbol(), QStringLiteral("This tool is on its way."));
}
