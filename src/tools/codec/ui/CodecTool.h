#pragma once

#include "kit/ui/Tool.h"

class CodecTool : public Tool {
public:
    CodecTool();
    QObject* makeViewModel(QSettings& defaults, QObject* parent) const override;
    ToolView* makeView(QObject* viewModel) const override;

};
