#pragma once

#include "formats/TextRange.h"

// A request to bring a range of an editor into view and mark it. The serial lets the same range
// be revealed again; two requests are equal when both fields are.
struct TextReveal {
    TextRange range;
    int serial = 0;

    friend constexpr bool operator==(const TextReveal&, const TextReveal&) = default;
};
