#pragma once

#include <QPlainTextEdit>

// The editor of the small sources (Markdown, Mermaid): it takes only text drags, so a dragged
// file goes on to the enclosing tool view, which opens it; pasted and dropped text has its
// CR LF and CR line breaks turned into LF.
class TextDropTextView : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit TextDropTextView(QWidget* parent = nullptr);

    // Whether a drag carries files (and is therefore left to the views around the editor).
    static bool isFileDrag(const QMimeData* data);

protected:
    bool canInsertFromMimeData(const QMimeData* source) const override;
    void insertFromMimeData(const QMimeData* source) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
};
