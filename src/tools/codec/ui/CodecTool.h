#pragma once

#include "app/ui/Tool.h"

class CodecTool : public Tool {
public:
    CodecTool();
    QWidget* makeView(ToolHost& host) const override;

};
