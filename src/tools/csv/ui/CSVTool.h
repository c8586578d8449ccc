#pragma once

#include "app/ui/Tool.h"

class CSVTool : public Tool {
public:
    CSVTool();
    QWidget* makeView(ToolHost& host) const override;
    void open(const QUrl& fileUrl, ToolHost& host) const override;
};
