#pragma once

#include "kit/DynamicColor.h"

// The three verdict colours of badges and verdict texts: green for a good verdict ("VALID"),
// red for a bad one ("INVALID"), amber for a state between ("ENCRYPTED"). Made once, shared.
class StatusColor {
public:
    static const DynamicColor& green();
    static const DynamicColor& amber();
    static const DynamicColor& red();
};
