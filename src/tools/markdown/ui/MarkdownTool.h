#pragma once

#include "kit/ui/Tool.h"

class MarkdownTool : public Tool {
public:
    MarkdownTool();
    QObject* makeViewModel(QSettings& defaults, QObject* parent) const override;
    ToolView* makeView(QObject* viewModel) const override;
    void open(const QUrl& fileUrl, QObject* viewModel) const override;
    bool opensFirst() const override { return true; }
};
