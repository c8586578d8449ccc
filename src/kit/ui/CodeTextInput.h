#pragma once

#include "formats/TextRange.h"

#include <QElapsedTimer>
#include <QPoint>
#include <QString>
#include <QTimer>
#include <QVariant>

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
    explicit CodeTextInput(CodeTextView& view);

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
