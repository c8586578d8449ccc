#include "tools/codec/ui/CodecTool.h"

#include "tools/codec/CodecToolViewModel.h"
#include "tools/codec/ui/CodecToolView.h"

CodecTool::CodecTool()
    : Tool(QStringLiteral("codec"), QStringLiteral("Encode / Decode"), QStringLiteral("arrow.left.arrow.right"),
           ToolCategory::encoding, {})
{
}

QObject* CodecTool::makeViewModel(QSettings&, QObject* parent) const
{
    return new CodecToolViewModel(parent);
}

ToolView* CodecTool::makeView(QObject* viewModel) const
{
    return new CodecToolView(qobject_cast<CodecToolViewModel*>(viewModel));
}
