#include "kit/StatusColor.h"

// The fractions are the defining values; 8-bit rounding would drift from them.
static DynamicColor fromFractions(float lr, float lg, float lb, float dr, float dg, float db)
{
    return DynamicColor(QColor::fromRgbF(lr, lg, lb), QColor::fromRgbF(dr, dg, db));
}

const DynamicColor& StatusColor::green()
{
    static const DynamicColor colour = fromFractions(0.082f, 0.502f, 0.239f, 0.29f, 0.871f, 0.502f);
    return colour;
}

const DynamicColor& StatusColor::amber()
{
    static const DynamicColor colour = fromFractions(0.706f, 0.325f, 0.035f, 0.984f, 0.749f, 0.141f);
    return colour;
}

const DynamicColor& StatusColor::red()
{
    static const DynamicColor colour = fromFractions(0.725f, 0.11f, 0.11f, 0.973f, 0.443f, 0.443f);
    return colour;
}
