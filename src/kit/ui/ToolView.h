#pragma once

#include <QString>
#include <QWidget>

// The root view of a tool as the window's shell sees it: whether it runs its own find, the
// find and open commands it answers, and the title and subtitle the window shows while it is on
// screen.
class ToolView : public QWidget {
    Q_OBJECT
public:
    // The text-finder actions of the Find menu.
    enum class FindAction { showFindInterface = 1, nextMatch = 2, previousMatch = 3 };

    using QWidget::QWidget;

    // True: the Find menu goes to findInTool() instead of the focused text view's find bar.
    virtual bool runsOwnFind() const { return false; }
    virtual void findInTool(FindAction action) {}
    // File > Open…: asks for a file and hands it to the tool's view model.
    virtual void openFile() {}
    // The window's title while the tool is shown (empty: the program's name), and a subtitle.
    virtual QString title() const { return {}; }
    virtual QString subtitle() const { return {}; }

signals:
    void titleChanged();
};
