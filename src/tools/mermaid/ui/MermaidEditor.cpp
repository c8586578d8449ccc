#include "tools/mermaid/ui/MermaidEditor.h"

#include "kit/DynamicColor.h"
#include "kit/ui/CodeTextView.h"
#include "kit/ui/FindableTextView.h"
#include "tools/mermaid/MermaidEditorController.h"

#include <QEvent>
#include <QVBoxLayout>

#include <utility>

MermaidEditor::MermaidEditor(const QString& text, MermaidEditorController* controller, QWidget* parent)
    : QWidget(parent)
{
    // The kit's find bar over the text: the Find menu reaches it through the focus.
    m_findable = new FindableTextView(this);
    m_view = m_findable->textView();
    m_view->setTextMargins(QMargins(8, 12, 8, 12));
    m_view->setWrapEnabled(true);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_findable);
    setFocusProxy(m_findable);

    followAppearance();
    m_view->addHighlighter(&m_highlighter);
    m_view->setText(text);

    connect(m_view, &CodeTextView::textEdited, this, &MermaidEditor::textEdited);

    if (controller) {
        QPointer<CodeTextView> view(m_view);
        controller->replaceAll = [view](const QString& replacement) {
            if (!view)
                return;
            if (view->window() && view->isVisible())
                view->setFocus(Qt::OtherFocusReason);
            view->selectAll();
            view->insertPlainText(replacement);
        };
    }
}

void MermaidEditor::setText(const QString& text)
{
    const qsizetype caret = m_view->selection().location;
    m_view->setText(text);
    const qsizetype at = std::min(caret, m_view->length());
    m_view->setSelection(at, at);
    m_view->clearUndoStack();
}

void MermaidEditor::followAppearance()
{
    m_highlighter.setDark(DynamicColor::isDark(palette()));
}

void MermaidEditor::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::ApplicationPaletteChange) {
        followAppearance();
        m_view->refreshHighlighting();
    }
}
