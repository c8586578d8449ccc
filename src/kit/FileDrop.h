#pragma once

#include <QList>
#include <QUrl>

#include <functional>

// What a preview does with files dropped on it: `open` answers whether the owner took them,
// `targeted` is told whether a file drag hovers (a level, not a count of events).
struct FileDrop {
    std::function<bool(const QList<QUrl>&)> open;
    std::function<void(bool)> targeted;

    // The actions are never compared, so a new pair never counts as a change.
    friend bool operator==(const FileDrop&, const FileDrop&) { return true; }
};
