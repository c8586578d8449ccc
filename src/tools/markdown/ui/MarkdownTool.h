#pragma once

#include "app/ui/Tool.h"

class MarkdownTool : public Tool {
public:
    MarkdownTool();
    QWidget* makeView(ToolHost& host) const override;
    void open(const QUrl& fileUrl, ToolHost& host) const override;
};
