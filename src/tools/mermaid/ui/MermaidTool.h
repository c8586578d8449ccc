#pragma once

#include "app/ui/Tool.h"

class MermaidTool : public Tool {
public:
    MermaidTool();
    QWidget* makeView(ToolHost& host) const override;
    void open(const QUrl& fileUrl, ToolHost& host) const override;
};
