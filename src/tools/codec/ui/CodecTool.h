#pragma once

#include "kit/ui/Tool.h"

// The Encode / Decode tool's entry: it opens no files.
class CodecTool : public Tool {
public:
    CodecTool();
    QObject* makeViewModel(QSettings& defaults, QObject* parent) const override;
    ToolView* makeView(QObject* viewModel) const override;
};
