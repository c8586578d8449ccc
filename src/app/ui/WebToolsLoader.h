#pragma once

#include <functional>

class QObject;

// Loads the library of the tools' web views (quorrix-web-tools) from beside the program or from
// the library folder of its installation, and adds its view makers.
class WebToolsLoader {
public:
    // Makes ToolViewMakers load the library when a view without maker is asked for, and asks
    // for the GL context sharing the web views need (the library makes the shared context).
    static void install();
    // Starts loading the library (and the web engine's libraries with it) on a thread of its
    // own; `done` runs on `context`'s thread once that has ended, loaded or not.
    static void preload(QObject* context, std::function<void()> done);
    // Loads the library, waiting for a preload under way, and adds its makers on the calling
    // (GUI) thread; false when it is not found or does not load.
    static bool load();
};
