#include "tools/codec/ui/CodecTool.h"

#include "kit/ui/ContentUnavailableView.h"
#include "kit/ui/ToolView.h"
#include "tools/codec/CodecToolViewModel.h"

#include <QVBoxLayout>

CodecTool::CodecTool()
    : Tool(QStringLiteral("codec"), QStringLiteral("Encode / Decode"), QStringLiteral("arrow.left.arrow.right"), ToolCategory::encoding, {})
{
}

QObject* CodecTool::makeViewModel(QSettings& defaults, QObject* parent) const
{
    return new CodecToolViewModel(parent);
}

ToolView* CodecTool::makeView(QObject* viewModel) const
{
    auto* view = new ToolView;
    auto* layout = new QVBoxLayout(view);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(new ContentUnavailableView(name(), symbol(), QStringLiteral("This tool is on its way.")));
    return view;
}
