#pragma once

#include "kit/ui/Tool.h"

class MermaidTool : public Tool {
public:
    MermaidTool();
    QObject* makeViewModel(QSettings& defaults, QObject* parent) const override;
    ToolView* makeView(QObject* viewModel) const override;
    void open(const QUrl& fileUrl, QObject* viewModel) const override;
};
