#pragma once

// The Markdown tool's views that show web pages: the web views' library adds their makers when
// the program loads it, before any page exists.
class MarkdownToolWebViews {
public:
    static void add();
};
