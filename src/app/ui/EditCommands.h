#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>

// The Edit menu's standard group (Undo, Redo, Cut, Copy, Paste, Select All) for one window.
// Each command acts on the focused text view. Undo and Redo, like a window's shared undo
// history, also reach the editor last focused in the window while the focus is on something
// that is no text view (a button, a list).
class EditCommands : public QObject {
    Q_OBJECT
public:
    enum class Action { undo, redo, cut, copy, paste, selectAll };

    explicit EditCommands(QWidget* window);

    // The text view the action goes to now; null when there is none (then it beeps).
    QWidget* target(Action action) const;
    void perform(Action action);

    // Whether the widget is a text view the group can act on.
    static bool isTextView(const QWidget* widget);

private:
    static bool run(QWidget* view, Action action);

    QWidget* m_window;
    QPointer<QWidget> m_lastTextView;
};
