#include "app/ui/EditCommands.h"

#include "kit/ui/CodeTextView.h"

#include <QApplication>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextEdit>

namespace {

template <class View>
bool apply(View* view, EditCommands::Action action)
{
    switch (action) {
    case EditCommands::Action::undo:
        view->undo();
        return true;
    case EditCommands::Action::redo:
        view->redo();
        return true;
    case EditCommands::Action::cut:
        view->cut();
        return true;
    case EditCommands::Action::copy:
        view->copy();
        return true;
    case EditCommands::Action::paste:
        view->paste();
        return true;
    case EditCommands::Action::selectAll:
        view->selectAll();
        return true;
    }
    return false;
}

} // namespace

EditCommands::EditCommands(QWidget* window) : QObject(window), m_window(window)
{
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* now) {
        // The editors' histories are the window's; a one-line field's is its own.
        if (now && now->window() == m_window && isTextView(now) && !qobject_cast<QLineEdit*>(now))
            m_lastTextView = now;
    });
}

bool EditCommands::isTextView(const QWidget* widget)
{
    return qobject_cast<const QLineEdit*>(widget) || qobject_cast<const QPlainTextEdit*>(widget)
        || qobject_cast<const QTextEdit*>(widget) || qobject_cast<const CodeTextView*>(widget);
}

QWidget* EditCommands::target(Action action) const
{
    QWidget* focus = QApplication::focusWidget();
    if (focus && isTextView(focus))
        return focus;
    const bool history = action == Action::undo || action == Action::redo;
    if (history && m_lastTextView && m_lastTextView->isVisible() && QApplication::activeWindow() == m_window)
        return m_lastTextView;
    return nullptr;
}

void EditCommands::perform(Action action)
{
    if (!run(target(action), action))
        QApplication::beep();
}

bool EditCommands::run(QWidget* view, Action action)
{
    if (auto* line = qobject_cast<QLineEdit*>(view))
        return apply(line, action);
    if (auto* plain = qobject_cast<QPlainTextEdit*>(view))
        return apply(plain, action);
    if (auto* rich = qobject_cast<QTextEdit*>(view))
        return apply(rich, action);
    if (auto* code = qobject_cast<CodeTextView*>(view))
        return apply(code, action);
    return false;
}
