#pragma once

#include "kit/ui/Tool.h"

class JWTTool : public Tool {
public:
    JWTTool();
    QObject* makeViewModel(QSettings& defaults, QObject* parent) const override;
    ToolView* makeView(QObject* viewModel) const override;

};
