#include "kit/Palette.h"

const DynamicColor& Palette::teal()
{
    static const DynamicColor colour = dynamicColor(0x007D8A, 0x00D2E0);
    return colour;
}

const DynamicColor& Palette::green()
{
    static const DynamicColor colour = dynamicColor(0x1F7F36, 0x8CCC80);
    return colour;
}

const DynamicColor& Palette::orange()
{
    static const DynamicColor colour = dynamicColor(0xB85000, 0xFF9230);
    return colour;
}

const DynamicColor& Palette::crimson()
{
    static const DynamicColor colour = dynamicColor(0xD11A45, 0xFF375F);
    return colour;
}

const DynamicColor& Palette::muted()
{
    static const DynamicColor colour = dynamicColor(0x737373, 0x8A8A8A);
    return colour;
}

const DynamicColor& Palette::copper()
{
    static const DynamicColor colour = dynamicColor(0xBF4709, 0xFB923C);
    return colour;
}

const DynamicColor& Palette::dim()
{
    static const DynamicColor colour = dynamicColor(0x646464, 0x9A9A9A);
    return colour;
}

const DynamicColor& Palette::blue()
{
    static const DynamicColor colour = dynamicColor(0x0068DA, 0x419CFF);
    return colour;
}

const DynamicColor& Palette::placeholder()
{
    return muted();
}

const DynamicColor& Palette::prompt()
{
    static const DynamicColor colour = dynamicColor(0x646464, 0x9A9A9A);
    return colour;
}

const DynamicColor& Palette::searchPrompt()
{
    static const DynamicColor colour = dynamicColor(0x646464, 0xC0C0C0);
    return colour;
}

const QList<const DynamicColor*>& Palette::segments()
{
    static const DynamicColor first = dynamicColor(0xD02B30, 0xFF4245);
    static const DynamicColor second = dynamicColor(0xB029C4, 0xDB34F2);
    static const DynamicColor third = dynamicColor(0x0070D6, 0x0091FF);
    static const DynamicColor fifth = dynamicColor(0x985F2C, 0xB78A66);
    static const QList<const DynamicColor*> list = {&first, &second, &third, &teal(), &fifth};
    return list;
}
