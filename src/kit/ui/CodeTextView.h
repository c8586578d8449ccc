#pragma once

#include "formats/TextRange.h"

#include "kit/CodeTextBuffer.h"
#include "kit/CodeTextCaret.h"
#include "kit/CodeTextSnapshot.h"
#include "kit/TextEdit.h"
#include "kit/CodeTextUndoStack.h"

#include <QAbstractScrollArea>
#include <QBasicTimer>
#include <QList>
#include <QMargins>

#include <memory>

#include "kit/CodeTextHighlighter.h"
#include "kit/ui/CodeTextInput.h"

class CodeTextLayout;

// A plain-text view for documents of any size over a `CodeTextBuffer`, with soft wrap on or off.
// Text is shaped and wrapped at word boundaries by the view's `CodeTextLayout`, which lays out
// only the lines that are shown (a long line only by its shown rows) and keeps them until an edit
// touches them; `CodeTextRenderer` paints them, and `CodeTextInput` turns keys, mouse, input
// method and drops into moves and edits. The view keeps its place by the line at its top,
// so corrections of estimated row counts never move the text under the reader.
//
// Text in and out is the buffer unit for unit, except that CR LF and lone CR become LF on the
// way in (set, paste, drop, typing). Colours come from highlighters, asked per painted slice.
//
// Edits by the program (`setText`, `replaceRange`) cannot be undone and clear the undo steps;
// edits by the user (typing, deleting, paste, cut, drop, undo, redo, `insertPlainText`) can and
// are reported by `textEdited`, with the edit, after `textChanged`.
class CodeTextView : public QAbstractScrollArea, private CodeTextInput::Host {
    Q_OBJECT
public:
    explicit CodeTextView(QWidget* parent = nullptr);
    ~CodeTextView() override;

    // --- text
    QString text() const { return m_buffer.text(); }
    void setText(const QString& text);
    // Takes a buffer built elsewhere (for instance on a worker thread) as the new text.
    void setBuffer(CodeTextBuffer buffer);
    const CodeTextBuffer& buffer() const { return m_buffer; }
    // The text now, sharing the buffer's blocks; cheap to take, to be dropped once read.
    CodeTextSnapshot snapshot() const { return m_buffer.snapshot(); }
    qsizetype length() const { return m_buffer.length(); }
    QString textInRange(TextRange range) const { return m_buffer.mid(range.location, range.length); }
    // The program's edit of a part of the text; the selection is kept where it was, shifted by
    // the edit (clamped to the text).
    void replaceRange(TextRange range, const QString& text);
    // As if the user typed `text` over the selection (undoable, reported by `textEdited`).
    void insertPlainText(const QString& text);

    // --- selection; the caret is the moving end, the anchor the fixed one
    TextRange selection() const;
    qsizetype caretPosition() const { return m_caret.position(); }
    qsizetype anchorPosition() const { return m_caret.anchor(); }
    bool hasSelection() const { return m_caret.hasSelection(); }
    void setSelection(qsizetype anchor, qsizetype caret);
    void setSelection(TextRange range) { setSelection(range.location, range.end()); }
    void selectAll();
    QString selectedText() const;

    // Scrolls the least needed to show the range (its start when it is taller than the view) and,
    // when asked, briefly marks it. The selection does not change.
    void revealRange(TextRange range, bool showIndicator = true);

    // --- appearance and behaviour
    bool wrapEnabled() const { return m_wrap; }
    void setWrapEnabled(bool wrap);
    bool isReadOnly() const { return m_readOnly; }
    void setReadOnly(bool readOnly);
    // Makes the Latin-1 blocks of a buffer built by `CodeTextBuffer::narrowedLater` off the GUI
    // thread; they take the place of its UTF-16 ones unless the text changed meanwhile (then a
    // later call tries again).
    void narrowTextLater() { m_buffer.narrowLater(this); }
    QString placeholderText() const { return m_placeholder; }
    void setPlaceholderText(const QString& text);
    // Space between the frame and the text (8 and 12 by default).
    QMargins textMargins() const { return m_margins; }
    void setTextMargins(const QMargins& margins);
    // The default font is the monospaced system font, 13 px, medium weight; `setFont` changes it.
    static QFont defaultFont();

    // Highlighters are not owned; later ones override earlier ones. Call `refreshHighlighting`
    // when a highlighter's answers change without an edit.
    void setHighlighters(const QList<const CodeTextHighlighter*>& highlighters);
    void addHighlighter(const CodeTextHighlighter* highlighter);
    void refreshHighlighting();

    // --- undo
    bool canUndo() const { return m_undo.canUndo(); }
    bool canRedo() const { return m_undo.canRedo(); }
    void clearUndoStack();

    // --- geometry
    qreal characterWidth() const;
    int lineHeight() const;
    // Width in pixels available to text, and how many columns fit in it (at least 1).
    qreal textAreaWidth() const;
    int columnCount() const;
    // The first position of the topmost visible row, and the positions shown.
    qsizetype topVisiblePosition() const;
    TextRange visibleRange() const;
    // Scrolls so that the row holding `position` is the top row.
    void scrollToPosition(qsizetype position);
    // Scrolls so that the first row of `line` is shown `rows` rows below the top row (above it
    // when negative), counting the laid-out rows in between; never past the end of the text.
    void scrollLineToRow(qsizetype line, qint64 rows);
    // The view-port rectangle of the caret or of the character at a position (for tests and
    // input methods), and the position under a view-port point.
    QRect positionRect(qsizetype position) const;
    qsizetype positionAt(const QPoint& viewportPoint) const;
    // Rows of the view: exact for lines laid out, estimated from column counts elsewhere.
    qint64 rowCount() const;
    qint64 rowsOfLine(qsizetype line) const;
    qint64 firstRowOfLine(qsizetype line) const;
    qsizetype lineAtRow(qint64 row, qint64* rowInLine = nullptr) const;
    // The layout of this view (for tests and benchmarks).
    CodeTextLayout& textLayout() const { return *m_layout; }

public slots:
    void copy();
    void cut();
    void paste();
    void undo();
    void redo();

signals:
    // Every change of the text: the edited range in the new text and the change in length.
    // `setText` reports the whole new text with changeInLength = new length - old length.
    void textChanged(qsizetype location, qsizetype length, qsizetype changeInLength);
    // The user's change (typing, paste, drop, undo, redo...) as the text that went and the text
    // that came, right after its `textChanged`. The program's edits are not reported here.
    void textEdited(const TextEdit& edit);
    void selectionChanged(bool byUser);
    void columnCountChanged(int columns);
    void undoAvailable(bool available);
    void redoAvailable(bool available);

protected:
    bool event(QEvent* event) override;
    bool focusNextPrevChild(bool next) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;
    QVariant inputMethodQuery(Qt::InputMethodQuery query) const override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void timerEvent(QTimerEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    struct RowPos {
        qsizetype line = 0;
        qint64 row = 0;
        bool operator<(const RowPos& b) const { return line < b.line || (line == b.line && row < b.row); }
    };

    void metricsChanged();
    int visibleRows() const;
    qint64 topRow() const;
    void syncScrollBars() const;
    void setTop(RowPos top);
    // Moves by whole rows through laid-out lines; false when the walk left the text (the answer
    // is then the first or last row).
    bool advance(RowPos& at, qint64 rows) const;
    RowPos rowPosOf(qsizetype position, bool upstream = false) const;
    void setSelectionInternal(qsizetype anchor, qsizetype caret, bool byUser) { m_caret.select(anchor, caret, byUser); }
    void caretMoved(qsizetype oldAnchor, qsizetype oldCaret, bool byUser);
    // What the input asks of the view.
    void ensureCaretVisible() override;
    void edit(qsizetype position, qsizetype removedLength, const QString& inserted, CodeTextUndoStack::Kind kind) override;
    void breakUndoMerge() override { m_undo.breakMerge(); }
    void resetCaretBlink() override;
    // Lays out the lines from the top of the view down, then puts the scroll bars in step.
    void prepareLayout() const override;
    qint64 pageRows() const override { return visibleRows(); }
    qsizetype positionRowsAway(qsizetype position, bool upstream, qint64 rows, qreal x) const override;
    void scrollByRows(qint64 rows) override;
    Row rowOf(qsizetype position, bool upstream) const override;
    // Answers the change as made (line breaks normalised).
    // `lineFeedsOnly`: `inserted` is known to hold no CR (an edit's normalised text, an undo
    // step's), which spares a scan of a large paste.
    TextEdit applyReplacement(qsizetype position, qsizetype removedLength, const QString& inserted,
                              bool lineFeedsOnly = false);
    void emitUndoState(bool hadUndo, bool hadRedo);
    void updateLayoutWidth();

    CodeTextBuffer m_buffer;
    std::unique_ptr<CodeTextLayout> m_layout;
    std::unique_ptr<CodeTextInput> m_input;
    CodeTextUndoStack m_undo;
    QList<const CodeTextHighlighter*> m_highlighters;
    CodeTextCaret m_caret;
    mutable RowPos m_top;
    mutable bool m_settingScroll = false;
    bool m_wrap = true;
    bool m_readOnly = false;
    QString m_placeholder;
    QMargins m_margins{8, 12, 8, 12};
    int m_lastColumns = 0;
    bool m_caretVisible = true;
    bool m_focused = false;
    QBasicTimer m_blinkTimer;
    QBasicTimer m_indicatorTimer;
    QBasicTimer m_estimateTimer;
    TextRange m_indicator{-1, 0};
};
