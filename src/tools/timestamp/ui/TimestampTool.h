#pragma once

#include "app/ui/Tool.h"

class TimestampTool : public Tool {
public:
    TimestampTool();
    QWidget* makeView(ToolHost& host) const override;

};
