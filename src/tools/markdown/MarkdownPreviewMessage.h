#pragma once

#include "tools/markdown/MarkdownLineMap.h"

#include <QVariant>

#include <optional>
#include <utility>
#include <variant>

// A message the preview page posts to "sync", decoded strictly: a missing, mistyped or out-of-range
// field drops the whole message.
struct MarkdownPreviewMessage {
    struct Layout {
        MarkdownLineMap map;
        double documentHeight = 0; // >= 0
        double viewportHeight = 0; // >= 0
        double scrollY = 0;
        bool userScroll = false;
        bool operator==(const Layout&) const = default;
    };

    struct Scroll {
        double y = 0;
        bool user = false;
        bool operator==(const Scroll&) const = default;
    };

    std::variant<Layout, Scroll> value;

    // body is what the page posted (maps, lists, numbers, booleans, strings, as QVariant; JSON
    // values inside a QVariant are accepted too). Nothing when it is not a well-formed message.
    static std::optional<MarkdownPreviewMessage> decode(const QVariant& body);

    bool operator==(const MarkdownPreviewMessage&) const = default;
};

// A finite number of magnitude <= 1e9 that is not a boolean; an invalid QVariant is a missing value.
std::optional<double> previewNumber(const QVariant& value);
// A boolean proper; the numbers 0 and 1 are refused.
std::optional<bool> previewBool(const QVariant& value);
// An array of exactly two numbers by the rule of previewNumber().
std::optional<std::pair<double, double>> previewNumberPair(const QVariant& value);
