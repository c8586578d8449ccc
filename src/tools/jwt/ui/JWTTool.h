#pragma once

#include "app/ui/Tool.h"

class JWTTool : public Tool {
public:
    JWTTool();
    QWidget* makeView(ToolHost& host) const override;

};
