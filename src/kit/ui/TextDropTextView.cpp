#include "kit/ui/TextDropTextView.h"

#include "kit/TextHelpers.h"

#include <QDragEnterEvent>
#include <QMimeData>

TextDropTextView::TextDropTextView(QWidget* parent) : QPlainTextEdit(parent) {}

bool TextDropTextView::isFileDrag(const QMimeData* data)
{
    if (!data || !data->hasUrls())
        return false;
    const QList<QUrl> urls = data->urls();
    return std::any_of(urls.begin(), urls.end(), [](const QUrl& url) { return url.isLocalFile(); });
}

bool TextDropTextView::canInsertFromMimeData(const QMimeData* source) const
{
    return source && source->hasText() && QPlainTextEdit::canInsertFromMimeData(source);
}

void TextDropTextView::insertFromMimeData(const QMimeData* source)
{
    if (!source || !source->hasText())
        return;
    const QString text = TextHelpers::normalizedLineBreaks(source->text());
    if (text.isEmpty())
        return;
    QTextCursor cursor = textCursor();
    cursor.insertText(text);
    setTextCursor(cursor);
    ensureCursorVisible();
}

// An ignored drag goes on to the nearest enclosing widget that accepts drops.
void TextDropTextView::dragEnterEvent(QDragEnterEvent* event)
{
    if (isFileDrag(event->mimeData())) {
        event->ignore();
        return;
    }
    QPlainTextEdit::dragEnterEvent(event);
}

void TextDropTextView::dragMoveEvent(QDragMoveEvent* event)
{
    if (isFileDrag(event->mimeData())) {
        event->ignore();
        return;
    }
    QPlainTextEdit::dragMoveEvent(event);
}

void TextDropTextView::dropEvent(QDropEvent* event)
{
    if (isFileDrag(event->mimeData())) {
        event->ignore();
        return;
    }
    QPlainTextEdit::dropEvent(event);
}
