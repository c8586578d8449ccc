#pragma once

#include "kit/ui/Tool.h"

// The Timestamp tool's entry in the tool list; it accepts no files.
class TimestampTool : public Tool {
public:
    TimestampTool();
    QObject* makeViewModel(QSettings& defaults, QObject* parent) const override;
    ToolView* makeView(QObject* viewModel) const override;
};
