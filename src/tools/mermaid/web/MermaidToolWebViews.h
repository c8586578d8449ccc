#pragma once

// The Mermaid tool's views that show web pages: the web views' library adds their makers when
// the program loads it.
class MermaidToolWebViews {
public:
    static void add();
};
