#pragma once

#include "kit/DynamicColor.h"

#include <QList>

// The program's named text colours (highlighter tokens, placeholders, prompts), each a light and
// a dark value. Each is made once on first use and shared; `placeholder()` is the very object of
// `muted()`, and `segments()` holds `teal()` itself as its fourth entry.
class Palette {
public:
    static const DynamicColor& teal();
    static const DynamicColor& green();
    static const DynamicColor& orange();
    static const DynamicColor& crimson();
    static const DynamicColor& muted();
    static const DynamicColor& copper();
    static const DynamicColor& dim();
    static const DynamicColor& blue();
    static const DynamicColor& placeholder();
    static const DynamicColor& prompt();
    static const DynamicColor& searchPrompt();
    // The colours of a token's dot-separated segments, exactly five.
    static const QList<const DynamicColor*>& segments();
};
