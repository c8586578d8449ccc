#pragma once

#include "formats/JSONTextRange.h"

// A request to bring a range of an editor into view and mark it. The serial lets the same range
// be revealed again; two requests are equal when both fields are.
struct JSONEditorReveal {
    JSONTextRange range;
    int serial = 0;

    friend constexpr bool operator==(const JSONEditorReveal&, const JSONEditorReveal&) = default;
};
