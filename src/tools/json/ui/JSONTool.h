#pragma once

#include "app/ui/Tool.h"

class JSONTool : public Tool {
public:
    JSONTool();
    QWidget* makeView(ToolHost& host) const override;
    void open(const QUrl& fileUrl, ToolHost& host) const override;
};
