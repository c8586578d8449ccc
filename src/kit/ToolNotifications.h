#pragma once

#include <QObject>

// The two program-wide notifications between the menus and the tool on screen:
// "openFile" (File > Open…) and "findInTool" (the Find menu, carrying a text-finder action).
class ToolNotifications : public QObject {
    Q_OBJECT
public:
    // Text-finder action codes carried by findInTool.
    enum FinderAction { ShowFindInterface = 1, NextMatch = 2, PreviousMatch = 3 };

    static ToolNotifications& instance();

    void postOpenFile() { emit openFile(); }
    void postFindInTool(int action) { emit findInTool(action); }

signals:
    void openFile();
    void findInTool(int action);

private:
    ToolNotifications() = default;
};
