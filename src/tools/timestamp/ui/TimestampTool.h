#pragma once

#include "kit/ui/Tool.h"

class TimestampTool : public Tool {
public:
    TimestampTool();
    QObject* makeViewModel(QSettings& defaults, QObject* parent) const override;
    ToolView* makeView(QObject* viewModel) const override;

};
