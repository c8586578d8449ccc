#pragma once

#include "kit/TextEdit.h"
#include "tools/mermaid/MermaidSyntaxHighlighter.h"

#include <QPointer>
#include <QString>
#include <QWidget>

class CodeTextView;
class FindableTextView;
class MermaidEditorController;

// The Source pane's editor: the kit's code view with the Mermaid highlighter and the kit's find
// bar, kept in step with the model's source. A text from the model replaces the shown one (caret
// clamped, undo cleared); the user's edits come back through textEdited() as ranges, the text
// after them being the view's snapshot. It serves the controller's replaceAll as one edit the
// user can undo.
class MermaidEditor : public QWidget {
    Q_OBJECT
public:
    MermaidEditor(const QString& text, MermaidEditorController* controller, QWidget* parent = nullptr);

    // The model's text; always set, even when equal to the text shown.
    void setText(const QString& text);
    CodeTextView* textView() const { return m_view; }
    FindableTextView* findable() const { return m_findable; }
    const MermaidSyntaxHighlighter& highlighter() const { return m_highlighter; }

signals:
    void textEdited(const TextEdit& edit);

protected:
    void changeEvent(QEvent* event) override;

private:
    void followAppearance();

    FindableTextView* m_findable = nullptr;
    CodeTextView* m_view = nullptr;
    MermaidSyntaxHighlighter m_highlighter;
};
