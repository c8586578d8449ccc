#include "kit/ui/CodeTextInput.h"

#include "kit/CodeTextCaret.h"
#include "kit/ui/CodeTextLayout.h"
#include "kit/ui/CodeTextView.h"

#include <QApplication>
#include <QClipboard>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QScrollBar>
#include <QStyleHints>

#include <algorithm>
#include <utility>

namespace {

constexpr qsizetype kWordScanLimit = 4096; // word moves stop after this many units of one kind
constexpr int kAutoScrollMs = 50;
constexpr qsizetype kImReach = 1024; // units of the caret's line handed to an input method each side

// The stretch of the caret's line an input method is shown: bounded however long the line is,
// never splitting a surrogate pair, so positions within it are small and exact.
std::pair<qsizetype, qsizetype> inputMethodWindow(const CodeTextBuffer& buffer, qsizetype caret)
{
    const qsizetype line = buffer.lineAt(caret);
    const qsizetype lineStart = buffer.lineStart(line), lineEnd = buffer.lineEnd(line);
    qsizetype from = std::max(lineStart, caret - kImReach);
    qsizetype to = std::min(lineEnd, caret + kImReach);
    if (from > lineStart && buffer.at(from).isLowSurrogate())
        --from;
    if (to < lineEnd && buffer.at(to).isLowSurrogate())
        ++to;
    return {from, to};
}

char32_t codePointAt(const CodeTextBuffer& buffer, qsizetype i)
{
    const QChar c = buffer.at(i);
    if (c.isHighSurrogate() && i + 1 < buffer.length() && buffer.at(i + 1).isLowSurrogate())
        return QChar::surrogateToUcs4(c, buffer.at(i + 1));
    return c.unicode();
}

bool isWordCodePoint(char32_t c)
{
    const auto category = QChar::category(c);
    return QChar::isLetterOrNumber(c) || c == U'_' || category == QChar::Mark_NonSpacing
        || category == QChar::Mark_SpacingCombining || category == QChar::Mark_Enclosing;
}

} // namespace

CodeTextInput::CodeTextInput(CodeTextView& view, Host& host, CodeTextCaret& caret)
    : m_view(view), m_host(host), m_caret(caret)
{
    m_autoScroll.setInterval(kAutoScrollMs);
    QObject::connect(&m_autoScroll, &QTimer::timeout, &m_view, [this] { autoScroll(); });
}

// ---------------------------------------------------------------- characters and words

qsizetype CodeTextInput::backspaceStart(qsizetype position) const
{
    // A whole cluster goes (a flag, an emoji sequence, a keycap, a syllable), except that a
    // combining mark at its end is taken off on its own, so an accent can be retyped.
    const CodeTextBuffer& buffer = m_view.buffer();
    const qsizetype start = m_view.textLayout().previousCursorPosition(position);
    if (position - start < 2)
        return start;
    qsizetype last = position - 1;
    if (last > start && buffer.at(last).isLowSurrogate() && buffer.at(last - 1).isHighSurrogate())
        --last;
    const auto isSelector = [](char32_t c) { return (c >= 0xFE00 && c <= 0xFE0F) || (c >= 0xE0100 && c <= 0xE01EF); };
    const char32_t c = codePointAt(buffer, last);
    const auto category = QChar::category(c);
    const bool mark = category == QChar::Mark_NonSpacing || category == QChar::Mark_SpacingCombining
        || category == QChar::Mark_Enclosing;
    // The keycap mark and a presentation selector make an emoji of the cluster, not an accent.
    if (!mark || isSelector(c) || c == 0x20E3)
        return start;
    for (qsizetype i = start; i < last; ++i)
        if (isSelector(codePointAt(buffer, i)))
            return start;
    return last;
}

CodeTextInput::Cluster CodeTextInput::clusterKind(qsizetype start) const
{
    const CodeTextBuffer& buffer = m_view.buffer();
    if (start < 0 || start >= buffer.length())
        return Cluster::None;
    const QChar c = buffer.at(start);
    if (c == QLatin1Char('\n'))
        return Cluster::LineBreak;
    if (c.isSpace())
        return Cluster::Space;
    return isWordCodePoint(codePointAt(buffer, start)) ? Cluster::Word : Cluster::Other;
}

qsizetype CodeTextInput::wordBoundary(qsizetype position, bool forward) const
{
    // Walked a grapheme cluster at a time, each cluster taking the kind of its first character,
    // so a move never stops inside an emoji sequence, a surrogate pair or a base and its marks.
    CodeTextLayout& layout = m_view.textLayout();
    const qsizetype n = m_view.buffer().length();
    qsizetype p = std::clamp<qsizetype>(position, 0, n);
    qsizetype budget = kWordScanLimit;
    if (forward) {
        auto kindAhead = [&] { return clusterKind(p); };
        auto step = [&] {
            const qsizetype next = layout.nextCursorPosition(p);
            budget -= next - p;
            p = next;
        };
        while (p < n && budget > 0 && kindAhead() == Cluster::Space)
            step();
        if (kindAhead() == Cluster::LineBreak && p == position)
            return p + 1;
        if (kindAhead() == Cluster::Word) {
            while (p < n && budget > 0 && kindAhead() == Cluster::Word)
                step();
        } else if (kindAhead() == Cluster::Other) {
            step();
        }
        return p;
    }
    qsizetype before = layout.previousCursorPosition(p);
    auto kindBehind = [&] { return p > 0 ? clusterKind(before) : Cluster::None; };
    auto step = [&] {
        budget -= p - before;
        p = before;
        before = layout.previousCursorPosition(p);
    };
    while (p > 0 && budget > 0 && kindBehind() == Cluster::Space)
        step();
    if (kindBehind() == Cluster::LineBreak && p == position)
        return p - 1;
    if (kindBehind() == Cluster::Word) {
        while (p > 0 && budget > 0 && kindBehind() == Cluster::Word)
            step();
    } else if (kindBehind() == Cluster::Other) {
        step();
    }
    return p;
}

TextRange CodeTextInput::unitRangeAt(qsizetype position, Unit unit) const
{
    const CodeTextBuffer& buffer = m_view.buffer();
    const qsizetype n = buffer.length();
    position = std::clamp<qsizetype>(position, 0, n);
    if (unit == Unit::Line) {
        const qsizetype line = buffer.lineAt(position);
        const qsizetype start = buffer.lineStart(line);
        const qsizetype end = std::min(n, buffer.lineEnd(line) + 1);
        return {start, end - start};
    }
    if (unit == Unit::Word) {
        CodeTextLayout& layout = m_view.textLayout();
        const qsizetype before = position > 0 ? layout.previousCursorPosition(position) : -1;
        const Cluster here = clusterKind(position);
        const bool onWord = here == Cluster::Word
            || ((here == Cluster::Space || here == Cluster::LineBreak || here == Cluster::None)
                && clusterKind(before) == Cluster::Word);
        if (onWord && here == Cluster::Word) {
            const qsizetype from = wordBoundary(layout.nextCursorPosition(position), false);
            return {from, wordBoundary(position, true) - from};
        }
        if (onWord) {
            const qsizetype from = wordBoundary(position, false);
            return {from, position - from};
        }
        if (position < n && here != Cluster::LineBreak)
            return {position, layout.nextCursorPosition(position) - position};
    }
    return {position, 0};
}

// ---------------------------------------------------------------- keys

void CodeTextInput::moveCaret(qsizetype position, bool extend, bool keepColumn, bool upstream)
{
    if (!keepColumn)
        m_desiredX = -1;
    m_caret.moveTo(position, extend, true);
    if (m_caret.setUpstream(upstream))
        m_view.viewport()->update();
    m_host.ensureCaretVisible();
    m_host.resetCaretBlink();
}

bool CodeTextInput::moveKey(QKeyEvent* e)
{
    using K = QKeySequence;
    enum Kind { NextChar, PreviousChar, NextWord, PreviousWord, NextRow, PreviousRow, RowStart, RowEnd, DocumentStart,
        DocumentEnd, NextPage, PreviousPage };
    struct Move {
        K::StandardKey move, select;
        Kind kind;
    };
    static const Move moves[] = {
        {K::MoveToNextChar, K::SelectNextChar, NextChar}, {K::MoveToPreviousChar, K::SelectPreviousChar, PreviousChar},
        {K::MoveToNextWord, K::SelectNextWord, NextWord}, {K::MoveToPreviousWord, K::SelectPreviousWord, PreviousWord},
        {K::MoveToNextLine, K::SelectNextLine, NextRow}, {K::MoveToPreviousLine, K::SelectPreviousLine, PreviousRow},
        {K::MoveToStartOfLine, K::SelectStartOfLine, RowStart}, {K::MoveToEndOfLine, K::SelectEndOfLine, RowEnd},
        {K::MoveToStartOfDocument, K::SelectStartOfDocument, DocumentStart},
        {K::MoveToEndOfDocument, K::SelectEndOfDocument, DocumentEnd},
        {K::MoveToNextPage, K::SelectNextPage, NextPage}, {K::MoveToPreviousPage, K::SelectPreviousPage, PreviousPage},
        {K::MoveToStartOfBlock, K::SelectStartOfBlock, RowStart}, {K::MoveToEndOfBlock, K::SelectEndOfBlock, RowEnd},
    };
    CodeTextView& v = m_view;
    CodeTextLayout& layout = v.textLayout();
    for (const Move& m : moves) {
        const bool plain = e->matches(m.move);
        const bool extend = !plain && e->matches(m.select);
        if (!plain && !extend)
            continue;
        const TextRange sel = v.selection();
        const qsizetype caret = m_caret.position();
        qsizetype target = caret;
        switch (m.kind) {
        case NextChar: case PreviousChar: {
            // The arrows move on screen, as the platform's text views do: in right-to-left
            // text Right goes towards the line's start.
            const bool right = m.kind == NextChar;
            if (!extend && v.hasSelection()) {
                const bool backwards = layout.visualCursorPosition(caret, right) >= 0
                    && v.buffer().lineText(v.buffer().lineAt(caret)).isRightToLeft();
                target = (right != backwards) ? sel.end() : sel.location;
                break;
            }
            const qsizetype visual = layout.visualCursorPosition(caret, right);
            target = visual >= 0 ? visual : right ? layout.nextCursorPosition(caret) : layout.previousCursorPosition(caret);
            break;
        }
        case NextWord: target = wordBoundary(caret, true); break;
        case PreviousWord: target = wordBoundary(caret, false); break;
        case NextRow: case PreviousRow: case NextPage: case PreviousPage: {
            if (m_desiredX < 0)
                m_desiredX = layout.xOfPosition(caret, m_caret.isUpstream());
            const qint64 pageRows = m_host.pageRows();
            const qint64 step = m.kind == NextRow ? 1 : m.kind == PreviousRow ? -1 : m.kind == NextPage ? pageRows : -pageRows;
            target = m_host.positionRowsAway(caret, m_caret.isUpstream(), step, m_desiredX);
            if (m.kind == NextPage || m.kind == PreviousPage)
                m_host.scrollByRows(step);
            moveCaret(target, extend, true);
            return true;
        }
        case RowStart: {
            target = m_host.rowOf(caret, m_caret.isUpstream()).start;
            break;
        }
        case RowEnd: {
            // The end of the row shown, which for a wrapped row is also where the next begins:
            // the caret stays drawn at the end of this one.
            const Host::Row row = m_host.rowOf(caret, m_caret.isUpstream());
            m_host.breakUndoMerge();
            moveCaret(row.end, extend, false, row.wrapped);
            return true;
        }
        case DocumentStart: target = 0; break;
        case DocumentEnd: target = v.buffer().length(); break;
        }
        m_host.breakUndoMerge();
        moveCaret(target, extend);
        return true;
    }
    return false;
}

bool CodeTextInput::keyPress(QKeyEvent* e)
{
    using K = QKeySequence;
    CodeTextView& v = m_view;
    if (moveKey(e))
        return true;
    if (e == K::SelectAll) { v.selectAll(); return true; }
    if (e == K::Copy) { v.copy(); return true; }
    if (e == K::Cut) { v.cut(); return true; }
    if (e == K::Paste) { v.paste(); return true; }
    if (e == K::Undo) { v.undo(); return true; }
    if (e == K::Redo) { v.redo(); return true; }
    if (v.isReadOnly())
        return false;
    if (e == K::Delete) { deleteSelectionOr(true, false); return true; }
    if (e == K::Backspace || (e->key() == Qt::Key_Backspace && !(e->modifiers() & ~Qt::ShiftModifier))) {
        deleteSelectionOr(false, false);
        return true;
    }
    if (e == K::DeleteEndOfWord) { deleteSelectionOr(true, true); return true; }
    if (e == K::DeleteStartOfWord) { deleteSelectionOr(false, true); return true; }
    if (e == K::InsertParagraphSeparator || e == K::InsertLineSeparator) {
        typeOverSelection(QStringLiteral("\n"));
        return true;
    }
    if (e->key() == Qt::Key_Tab && !(e->modifiers() & (Qt::ControlModifier | Qt::AltModifier))) {
        typeOverSelection(QStringLiteral("\t"));
        return true;
    }
    const QString text = e->text();
    if (!text.isEmpty() && !(e->modifiers() & (Qt::ControlModifier | Qt::MetaModifier))
        && (text.at(0).isPrint() || text.at(0).isSurrogate() || text.at(0) == QLatin1Char('\t'))) {
        typeOverSelection(text);
        return true;
    }
    return false;
}

void CodeTextInput::typeOverSelection(const QString& text)
{
    // Typing joins the step before; typing over a selection is a step of its own.
    const TextRange sel = m_view.selection();
    m_host.edit(sel.location, sel.length, text, sel.length ? CodeTextUndoStack::Kind::Other : CodeTextUndoStack::Kind::Typing);
    if (sel.length)
        m_host.breakUndoMerge();
}

bool CodeTextInput::shortcutOverride(QKeyEvent* key) const
{
    // Editing keys belong to the view while it has the focus, not to window shortcuts.
    return key == QKeySequence::Copy || key == QKeySequence::Cut || key == QKeySequence::Paste
        || key == QKeySequence::Undo || key == QKeySequence::Redo || key == QKeySequence::SelectAll
        || (!key->text().isEmpty() && !(key->modifiers() & (Qt::ControlModifier | Qt::AltModifier)));
}

void CodeTextInput::deleteSelectionOr(bool forward, bool word)
{
    CodeTextView& v = m_view;
    if (v.hasSelection()) {
        const TextRange sel = v.selection();
        m_host.edit(sel.location, sel.length, QString(), CodeTextUndoStack::Kind::Other);
        return;
    }
    const qsizetype caret = m_caret.position();
    qsizetype other;
    if (word)
        other = wordBoundary(caret, forward);
    else if (forward)
        other = v.textLayout().nextCursorPosition(caret);
    else
        other = backspaceStart(caret);
    const qsizetype from = std::min(other, caret);
    const qsizetype len = std::abs(other - caret);
    if (len == 0)
        return;
    m_host.edit(from, len, QString(),
        forward ? CodeTextUndoStack::Kind::DeleteForward : CodeTextUndoStack::Kind::DeleteBackward);
}

// ---------------------------------------------------------------- mouse

void CodeTextInput::mousePress(QMouseEvent* e)
{
    CodeTextView& v = m_view;
    m_host.breakUndoMerge();
    const QPoint point = e->position().toPoint();
    const qsizetype pos = v.positionAt(point);
    // A third click soon after a double click selects the line.
    Unit unit = Unit::Character;
    if (m_lastDoubleClick.isValid() && m_lastDoubleClick.elapsed() < QGuiApplication::styleHints()->mouseDoubleClickInterval()
        && (point - m_lastMousePos).manhattanLength() < 6) {
        unit = Unit::Line;
        m_lastDoubleClick.invalidate();
    }
    m_lastMousePos = point;
    m_mouseSelecting = true;
    m_dragUnit = unit;
    if (unit == Unit::Line) {
        m_dragOrigin = unitRangeAt(pos, Unit::Line);
        m_caret.select(m_dragOrigin.location, m_dragOrigin.end(), true);
    } else if (e->modifiers() & Qt::ShiftModifier) {
        m_dragOrigin = {m_caret.anchor(), 0};
        moveCaret(pos, true);
    } else {
        m_dragOrigin = {pos, 0};
        moveCaret(pos, false);
    }
}

void CodeTextInput::mouseDoubleClick(QMouseEvent* e)
{
    const qsizetype pos = m_view.positionAt(e->position().toPoint());
    m_dragUnit = Unit::Word;
    m_dragOrigin = unitRangeAt(pos, Unit::Word);
    m_mouseSelecting = true;
    m_caret.select(m_dragOrigin.location, m_dragOrigin.end(), true);
    m_lastDoubleClick.start();
    m_lastMousePos = e->position().toPoint();
}

void CodeTextInput::mouseMove(QMouseEvent* e)
{
    if (!m_mouseSelecting || !(e->buttons() & Qt::LeftButton))
        return;
    m_lastMousePos = e->position().toPoint();
    if (!m_view.viewport()->rect().contains(m_lastMousePos)) {
        if (!m_autoScroll.isActive())
            m_autoScroll.start();
    } else {
        m_autoScroll.stop();
    }
    extendMouseSelection(m_view.positionAt(m_lastMousePos));
    m_host.ensureCaretVisible();
}

void CodeTextInput::extendMouseSelection(qsizetype pos)
{
    if (m_dragUnit == Unit::Character) {
        m_caret.select(m_dragOrigin.location, pos, true);
        return;
    }
    const TextRange here = unitRangeAt(pos, m_dragUnit);
    if (pos < m_dragOrigin.location)
        m_caret.select(m_dragOrigin.end(), here.location, true);
    else
        m_caret.select(m_dragOrigin.location, std::max(here.end(), m_dragOrigin.end()), true);
}

void CodeTextInput::autoScroll()
{
    QScrollBar* bar = m_view.verticalScrollBar();
    if (m_lastMousePos.y() < 0)
        bar->setValue(bar->value() - 1);
    else if (m_lastMousePos.y() > m_view.viewport()->height())
        bar->setValue(bar->value() + 1);
    if (m_dragUnit == Unit::Character)
        m_caret.select(m_dragOrigin.location, m_view.positionAt(m_lastMousePos), true);
}

void CodeTextInput::mouseRelease(QMouseEvent* e)
{
    m_mouseSelecting = false;
    m_autoScroll.stop();
    if (e->button() == Qt::MiddleButton && !m_view.isReadOnly() && QApplication::clipboard()->supportsSelection()) {
        const QString text = QApplication::clipboard()->text(QClipboard::Selection);
        if (!text.isEmpty()) {
            const qsizetype pos = m_view.positionAt(e->position().toPoint());
            m_caret.select(pos, pos, true);
            m_view.insertPlainText(text);
        }
    }
}

// ---------------------------------------------------------------- input methods

bool CodeTextInput::inputMethod(QInputMethodEvent* e)
{
    CodeTextView& v = m_view;
    if (v.isReadOnly())
        return false;
    if (!e->commitString().isEmpty() || e->replacementLength() > 0) {
        const TextRange sel = v.selection();
        qsizetype from = sel.location, len = sel.length;
        if (e->replacementLength() > 0 || e->replacementStart() != 0) {
            from = std::clamp<qsizetype>(m_caret.position() + e->replacementStart(), 0, v.buffer().length());
            len = std::clamp<qsizetype>(e->replacementLength(), 0, v.buffer().length() - from);
        }
        m_host.edit(from, len, e->commitString(), CodeTextUndoStack::Kind::Other);
    }
    setPreedit(e->preeditString());
    return true;
}

QVariant CodeTextInput::inputMethodQuery(Qt::InputMethodQuery query) const
{
    const CodeTextView& v = m_view;
    const CodeTextBuffer& buffer = v.buffer();
    const qsizetype caret = m_caret.position();
    switch (query) {
    case Qt::ImEnabled:
        return !v.isReadOnly();
    case Qt::ImCursorRectangle:
        return v.positionRect(caret).translated(v.viewport()->pos());
    case Qt::ImFont:
        return v.font();
    case Qt::ImCursorPosition:
        return int(caret - inputMethodWindow(buffer, caret).first);
    case Qt::ImAnchorPosition: {
        const auto [from, to] = inputMethodWindow(buffer, caret);
        return int(std::clamp(m_caret.anchor(), from, to) - from);
    }
    case Qt::ImSurroundingText: {
        const auto [from, to] = inputMethodWindow(buffer, caret);
        return buffer.mid(from, to - from);
    }
    case Qt::ImCurrentSelection:
        return v.selection().length <= 1024 ? v.selectedText() : QString();
    case Qt::ImHints:
        return int(Qt::ImhNoPredictiveText | Qt::ImhNoAutoUppercase | Qt::ImhMultiLine);
    default:
        return QVariant();
    }
}

void CodeTextInput::setPreedit(const QString& text)
{
    m_preedit = text;
    // Shown inline at the caret: the text after it moves aside, and the row re-wraps.
    m_view.textLayout().setPreedit(m_caret.position(), text);
    m_host.prepareLayout();
    m_view.viewport()->update();
}

// ---------------------------------------------------------------- drops

bool CodeTextInput::acceptsDrag(const QMimeData* data) const
{
    // Only text is taken; files and other drags go on to the pane around the view.
    return !m_view.isReadOnly() && data && data->hasText() && !data->hasUrls();
}

void CodeTextInput::dragMove(QDragMoveEvent* e)
{
    m_dropCaret = m_view.positionAt(e->position().toPoint());
    m_view.viewport()->update();
}

void CodeTextInput::dragLeave()
{
    m_dropCaret = -1;
    m_view.viewport()->update();
}

void CodeTextInput::drop(QDropEvent* e)
{
    m_dropCaret = -1;
    const qsizetype pos = m_view.positionAt(e->position().toPoint());
    m_host.breakUndoMerge();
    m_caret.select(pos, pos, true);
    m_view.insertPlainText(e->mimeData()->text());
}
