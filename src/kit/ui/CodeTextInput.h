#pragma once

#include "formats/TextRange.h"
#include "kit/CodeTextUndoStack.h"

#include <QElapsedTimer>
#include <QPoint>
#include <QString>
#include <QTimer>
#include <QVariant>

class CodeTextCaret;
class CodeTextView;
class QDragMoveEvent;
class QDropEvent;
class QInputMethodEvent;
class QKeyEvent;
class QMimeData;
class QMouseEvent;

// What the user does to a code view with keys, mouse, input method and drops, turned into caret
// moves, selections and edits of the view. Moves go over grapheme clusters and words, up and
// down by shown rows at a kept x; edits group into undo steps as typing runs.
class CodeTextInput {
public:
    // What the input asks of its view beyond the view's public calls.
    class Host {
    public:
        // The user's edit, recorded for undo as `kind`.
        virtual void edit(qsizetype position, qsizetype removedLength, const QString& inserted,
            CodeTextUndoStack::Kind kind) = 0;
        // The next typing starts an undo step of its own.
        virtual void breakUndoMerge() = 0;
        virtual void ensureCaretVisible() = 0;
        virtual void resetCaretBlink() = 0;
        // Lays out what is shown, for a preedit just set.
        virtual void prepareLayout() const = 0;
        // Rows as shown: a page, the position `rows` rows away at `x` (the first or last
        // position when that leaves the text), scrolling, and the row holding a position
        // (`wrapped`: the line goes on in the row below).
        struct Row {
            qsizetype start = 0;
            qsizetype end = 0;
            bool wrapped = false;
        };
        virtual qint64 pageRows() const = 0;
        virtual qsizetype positionRowsAway(qsizetype position, bool upstream, qint64 rows, qreal x) const = 0;
        virtual void scrollByRows(qint64 rows) = 0;
        virtual Row rowOf(qsizetype position, bool upstream) const = 0;

    protected:
        ~Host() = default;
    };

    // The caret is the view's, shared with it.
    CodeTextInput(CodeTextView& view, Host& host, CodeTextCaret& caret);

    // Each answers whether it took the event.
    bool keyPress(QKeyEvent* event);
    bool shortcutOverride(QKeyEvent* event) const;
    void mousePress(QMouseEvent* event);
    void mouseDoubleClick(QMouseEvent* event);
    void mouseMove(QMouseEvent* event);
    void mouseRelease(QMouseEvent* event);
    bool inputMethod(QInputMethodEvent* event);
    QVariant inputMethodQuery(Qt::InputMethodQuery query) const;
    bool acceptsDrag(const QMimeData* data) const;
    void dragMove(QDragMoveEvent* event);
    void dragLeave();
    void drop(QDropEvent* event);

    // A move by the program or an edit forgets the x kept for moves up and down.
    void forgetColumn() { m_desiredX = -1; }
    // The input method's text being composed, and where a drag would drop (-1: none).
    const QString& preedit() const { return m_preedit; }
    void clearPreedit() { m_preedit.clear(); }
    qsizetype dropPosition() const { return m_dropCaret; }

private:
    enum class Unit { Character, Word, Line };
    enum class Cluster { None, LineBreak, Space, Word, Other };

    qsizetype backspaceStart(qsizetype position) const;
    // The kind of the grapheme cluster that starts at `start` (None past the end).
    Cluster clusterKind(qsizetype start) const;
    qsizetype wordBoundary(qsizetype position, bool forward) const;
    TextRange unitRangeAt(qsizetype position, Unit unit) const;
    void moveCaret(qsizetype position, bool extend, bool keepColumn = false, bool upstream = false);
    bool moveKey(QKeyEvent* event);
    void deleteSelectionOr(bool forward, bool word);
    void typeOverSelection(const QString& text);
    void extendMouseSelection(qsizetype position);
    void autoScroll();
    void setPreedit(const QString& text);

    CodeTextView& m_view;
    Host& m_host;
    CodeTextCaret& m_caret;
    qreal m_desiredX = -1;
    Unit m_dragUnit = Unit::Character;
    TextRange m_dragOrigin;
    bool m_mouseSelecting = false;
    QPoint m_lastMousePos;
    QElapsedTimer m_lastDoubleClick;
    QTimer m_autoScroll;
    qsizetype m_dropCaret = -1;
    QString m_preedit;
};
