#pragma once

// Loads the library of the tools' web views (quorrix-web-tools) when a tool first asks for its
// view, from beside the program, from the installed library folder, or from the build tree.
class WebToolsLoader {
public:
    // Makes ToolViewMakers load the library when a view without maker is asked for.
    static void install();
    // Loads the library and adds its makers; false when it is not found or does not load.
    static bool load();
};
