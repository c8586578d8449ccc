#pragma once

#include "kit/FileDrop.h"

#include <QList>
#include <QString>
#include <QUrl>
#include <QWidget>

#include <functional>

// The root view of a tool as the window's shell sees it: whether it runs its own find, the
// find and open commands it answers, and the title and subtitle the window shows while it is on
// screen. A tool that takes files dropped anywhere on it says so with acceptFileDrops().
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

    // True while files are dragged over the tool (its drop ring is shown).
    bool isDropTargeted() const { return m_dropTargeted; }

signals:
    void titleChanged();

protected:
    // Files dropped on the view go to `open`, which answers whether it took them; a ring is
    // drawn over the whole tool while files hover. Web views inside report through fileDrop().
    void acceptFileDrops(std::function<bool(const QList<QUrl>&)> open);
    // The same drop handling, for a web view that receives drags itself.
    FileDrop fileDrop();
    void setDropTargeted(bool targeted);

    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    std::function<bool(const QList<QUrl>&)> m_openDropped;
    QWidget* m_dropRing = nullptr;
    bool m_dropTargeted = false;
};
