#include "kit/ui/CodeTextView.h"

#include "kit/CodeTextHighlighter.h"
#include "kit/QuietTask.h"
#include "kit/TextHelpers.h"
#include "kit/ui/CodeTextLayout.h"
#include "kit/ui/CodeTextRenderer.h"

#include <QApplication>
#include <QClipboard>
#include <QFontDatabase>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QScrollBar>
#include <QStyleHints>
#include <QPointer>
#include <QTextBoundaryFinder>

#include <algorithm>
#include <cmath>

namespace {

constexpr qsizetype kWordScanLimit = 4096; // word moves stop after this many units of one kind
constexpr int kIndicatorMs = 900;

bool isWordChar(QChar c) { return c.isLetterOrNumber() || c == QLatin1Char('_') || c.isMark(); }

} // namespace

CodeTextView::CodeTextView(QWidget* parent)
    : QAbstractScrollArea(parent), m_layout(std::make_unique<CodeTextLayout>(m_buffer))
{
    setFont(defaultFont());
    viewport()->setCursor(Qt::IBeamCursor);
    viewport()->setAcceptDrops(true);
    setAcceptDrops(true);
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_InputMethodEnabled, true);
    viewport()->setAutoFillBackground(false);
    verticalScrollBar()->setSingleStep(1);
    horizontalScrollBar()->setSingleStep(1);
    metricsChanged();
}

CodeTextView::~CodeTextView() = default;

QFont CodeTextView::defaultFont()
{
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setStyleHint(QFont::Monospace);
    font.setFixedPitch(true);
    font.setPixelSize(13);
    font.setWeight(QFont::Medium);
    return font;
}

// ---------------------------------------------------------------- text

void CodeTextView::setText(const QString& text) { setBuffer(CodeTextBuffer(text)); }

void CodeTextView::setBuffer(CodeTextBuffer buffer)
{
    const qsizetype oldLength = m_buffer.length();
    const qsizetype keep = std::min(std::min(m_anchor, m_caret), buffer.length());
    const bool hadUndo = canUndo(), hadRedo = canRedo();
    m_buffer = std::move(buffer);
    m_undo.clear();
    m_preedit.clear();
    m_layout->setPreedit(-1, QString());
    m_layout->reset();
    m_indicator = {-1, 0};
    m_top = {};
    m_caretUpstream = false;
    syncScrollBars();
    viewport()->update();
    emit textChanged(0, m_buffer.length(), m_buffer.length() - oldLength);
    emit edited(TextEdit{0, oldLength, m_buffer.text()});
    setSelectionInternal(keep, keep, false);
    emitUndoState(hadUndo, hadRedo);
}

void CodeTextView::replaceRange(CodeTextRange range, const QString& text)
{
    const qsizetype pos = std::clamp<qsizetype>(range.location, 0, m_buffer.length());
    const qsizetype len = std::clamp<qsizetype>(range.length, 0, m_buffer.length() - pos);
    const bool hadUndo = canUndo(), hadRedo = canRedo();
    m_undo.clear();
    const qsizetype before = m_buffer.length();
    applyReplacement(pos, len, text);
    const qsizetype delta = m_buffer.length() - before;
    auto map = [&](qsizetype p) { return p < pos ? p : (p >= pos + len ? p + delta : pos); };
    setSelectionInternal(map(m_anchor), map(m_caret), false);
    emitUndoState(hadUndo, hadRedo);
}

void CodeTextView::insertPlainText(const QString& text)
{
    const CodeTextRange sel = selection();
    edit(sel.location, sel.length, text, CodeTextUndoStack::Kind::Other);
}

void CodeTextView::applyReplacement(qsizetype position, qsizetype removedLength, const QString& inserted)
{
    const qsizetype firstLine = m_buffer.lineAt(position);
    const qsizetype oldLastLine = m_buffer.lineAt(position + removedLength);
    const RowPos top = m_top;
    const qsizetype topRowStart = m_layout->rowRange(top.line, top.row).first;
    const qsizetype oldLength = m_buffer.length();
    const qsizetype added = m_buffer.replace(position, removedLength, inserted);
    const qsizetype removed = oldLength + added - m_buffer.length();
    m_caretUpstream = false;
    m_layout->replaced(position, firstLine, oldLastLine, m_buffer.lineAt(position + added));
    // The view keeps its top row: lines added or removed above it move its number, an edit
    // below its start leaves it, and one that swallowed it leaves the top where the edit ends.
    if (top.line > oldLastLine)
        m_top.line = top.line + (m_buffer.lineAt(position + added) - oldLastLine);
    else if (top.line >= firstLine && position < topRowStart)
        m_top = {m_buffer.lineAt(std::min(topRowStart, position + added)), 0};
    m_top.line = std::clamp<qsizetype>(m_top.line, 0, m_buffer.lineCount() - 1);
    syncScrollBars();
    viewport()->update();
    emit textChanged(position, added, added - removedLength);
    // The buffer normalised any line break given, so what it holds now is what came.
    emit edited(TextEdit{position, removed,
                         inserted.contains(QLatin1Char('\r')) ? m_buffer.mid(position, added) : inserted});
}

void CodeTextView::edit(qsizetype position, qsizetype removedLength, const QString& insertedText,
    CodeTextUndoStack::Kind kind)
{
    if (m_readOnly)
        return;
    const QString inserted = insertedText.contains(QLatin1Char('\r'))
        ? TextHelpers::normalizedLineBreaks(insertedText) : insertedText;
    if (removedLength == 0 && inserted.isEmpty())
        return;
    const bool hadUndo = canUndo(), hadRedo = canRedo();
    CodeTextUndoStack::Step step;
    step.position = position;
    step.removed = m_buffer.mid(position, removedLength);
    step.inserted = inserted;
    step.anchorBefore = m_anchor;
    step.caretBefore = m_caret;
    step.anchorAfter = step.caretAfter = position + inserted.size();
    step.kind = kind;
    m_undo.record(step);
    applyReplacement(position, removedLength, inserted);
    m_desiredX = -1;
    setSelectionInternal(step.caretAfter, step.caretAfter, true);
    ensureCaretVisible();
    resetCaretBlink();
    emit textEdited();
    emitUndoState(hadUndo, hadRedo);
}

void CodeTextView::emitUndoState(bool hadUndo, bool hadRedo)
{
    if (hadUndo != canUndo())
        emit undoAvailable(canUndo());
    if (hadRedo != canRedo())
        emit redoAvailable(canRedo());
}

void CodeTextView::undo()
{
    if (m_readOnly)
        return;
    const bool hadUndo = canUndo(), hadRedo = canRedo();
    const CodeTextUndoStack::Step* step = m_undo.takeUndo();
    if (!step)
        return;
    const CodeTextUndoStack::Step s = *step;
    applyReplacement(s.position, s.inserted.size(), s.removed);
    setSelectionInternal(s.anchorBefore, s.caretBefore, true);
    ensureCaretVisible();
    emit textEdited();
    emitUndoState(hadUndo, hadRedo);
}

void CodeTextView::redo()
{
    if (m_readOnly)
        return;
    const bool hadUndo = canUndo(), hadRedo = canRedo();
    const CodeTextUndoStack::Step* step = m_undo.takeRedo();
    if (!step)
        return;
    const CodeTextUndoStack::Step s = *step;
    applyReplacement(s.position, s.removed.size(), s.inserted);
    setSelectionInternal(s.anchorAfter, s.caretAfter, true);
    ensureCaretVisible();
    emit textEdited();
    emitUndoState(hadUndo, hadRedo);
}

void CodeTextView::clearUndoStack()
{
    const bool hadUndo = canUndo(), hadRedo = canRedo();
    m_undo.clear();
    emitUndoState(hadUndo, hadRedo);
}

// ---------------------------------------------------------------- selection

CodeTextRange CodeTextView::selection() const
{
    const qsizetype from = std::min(m_anchor, m_caret);
    return {from, std::max(m_anchor, m_caret) - from};
}

void CodeTextView::setSelection(qsizetype anchor, qsizetype caret)
{
    m_desiredX = -1;
    m_caretUpstream = false;
    setSelectionInternal(anchor, caret, false);
}

void CodeTextView::setSelectionInternal(qsizetype anchor, qsizetype caret, bool byUser)
{
    const qsizetype n = m_buffer.length();
    anchor = std::clamp<qsizetype>(anchor, 0, n);
    caret = std::clamp<qsizetype>(caret, 0, n);
    if (anchor == m_anchor && caret == m_caret)
        return;
    m_anchor = anchor;
    m_caret = caret;
    m_caretUpstream = false;
    viewport()->update();
    if (byUser && hasSelection() && QApplication::clipboard()->supportsSelection())
        QApplication::clipboard()->setText(selectedText(), QClipboard::Selection);
    emit selectionChanged(byUser);
}

void CodeTextView::selectAll() { setSelectionInternal(0, m_buffer.length(), true); }

QString CodeTextView::selectedText() const { return textInRange(selection()); }

void CodeTextView::moveCaret(qsizetype position, bool extend, bool keepColumn, bool upstream)
{
    if (!keepColumn)
        m_desiredX = -1;
    setSelectionInternal(extend ? m_anchor : position, position, true);
    if (upstream != m_caretUpstream) {
        m_caretUpstream = upstream;
        viewport()->update();
    }
    ensureCaretVisible();
    resetCaretBlink();
}

// ---------------------------------------------------------------- geometry

void CodeTextView::metricsChanged()
{
    m_layout->setFont(font());
    updateLayoutWidth();
    syncScrollBars();
    viewport()->update();
}

void CodeTextView::updateLayoutWidth() { m_layout->setWidth(textAreaWidth(), m_wrap); }

qreal CodeTextView::characterWidth() const { return m_layout->characterWidth(); }

int CodeTextView::lineHeight() const { return m_layout->lineHeight(); }

qreal CodeTextView::textAreaWidth() const
{
    return std::max<qreal>(0, viewport()->width() - m_margins.left() - m_margins.right());
}

int CodeTextView::columnCount() const { return std::max(1, int(textAreaWidth() / characterWidth())); }

int CodeTextView::visibleRows() const
{
    return std::max(1, (viewport()->height() - m_margins.top() - m_margins.bottom()) / lineHeight());
}

qint64 CodeTextView::rowCount() const { return m_layout->rowCount(); }
qint64 CodeTextView::rowsOfLine(qsizetype line) const { return m_layout->rowsOfLine(line); }
qint64 CodeTextView::firstRowOfLine(qsizetype line) const { return m_layout->firstRowOfLine(line); }
qsizetype CodeTextView::lineAtRow(qint64 row, qint64* rowInLine) const { return m_layout->lineAtRow(row, rowInLine); }

qint64 CodeTextView::topRow() const { return m_layout->firstRowOfLine(m_top.line) + m_top.row; }

void CodeTextView::syncScrollBars() const
{
    const int rows = visibleRows();
    m_top.line = std::clamp<qsizetype>(m_top.line, 0, m_buffer.lineCount() - 1);
    m_top.row = std::clamp<qint64>(m_top.row, 0, m_layout->rowsOfLine(m_top.line) - 1);
    const qint64 maxTop = std::max<qint64>(0, m_layout->rowCount() - rows);
    QScrollBar* v = verticalScrollBar();
    const bool was = m_settingScroll;
    m_settingScroll = true;
    v->setPageStep(rows);
    // The range follows the estimates; the view never leaves the line it shows for it.
    v->setRange(0, int(std::min<qint64>(INT_MAX, std::max(maxTop, topRow()))));
    v->setValue(int(std::min<qint64>(INT_MAX, topRow())));
    QScrollBar* h = horizontalScrollBar();
    if (m_wrap) {
        h->setRange(0, 0);
    } else {
        const int cols = columnCount();
        h->setPageStep(cols);
        h->setRange(0, int(std::min<qint64>(INT_MAX, std::max<qint64>(0, m_buffer.maxLineColumns() + 1 - cols))));
    }
    m_settingScroll = was;
}

void CodeTextView::prepareLayout() const
{
    m_top.line = std::clamp<qsizetype>(m_top.line, 0, m_buffer.lineCount() - 1);
    qint64 shown = -m_top.row;
    const qint64 wanted = visibleRows() + 1;
    for (qsizetype line = m_top.line; line < m_buffer.lineCount() && shown < wanted; ++line)
        shown += m_layout->exactRowsOfLine(line);
    if (m_layout->takeRowsChanged())
        syncScrollBars();
}

void CodeTextView::setTop(RowPos top)
{
    m_top = top;
    syncScrollBars();
    viewport()->update();
}

bool CodeTextView::advance(RowPos& at, qint64 rows) const
{
    const qsizetype lines = m_buffer.lineCount();
    while (rows > 0) {
        const qint64 count = m_layout->exactRowsOfLine(at.line);
        if (at.row + rows < count) {
            at.row += rows;
            return true;
        }
        if (at.line + 1 >= lines) {
            at.row = count - 1;
            return false;
        }
        rows -= count - at.row;
        ++at.line;
        at.row = 0;
    }
    while (rows < 0) {
        if (at.row + rows >= 0) {
            at.row += rows;
            return true;
        }
        if (at.line == 0) {
            at.row = 0;
            return false;
        }
        rows += at.row + 1;
        --at.line;
        at.row = m_layout->exactRowsOfLine(at.line) - 1;
    }
    return true;
}

CodeTextView::RowPos CodeTextView::rowPosOf(qsizetype position, bool upstream) const
{
    position = std::clamp<qsizetype>(position, 0, m_buffer.length());
    return {m_buffer.lineAt(position), m_layout->rowOfPosition(position, upstream)};
}

QRect CodeTextView::positionRect(qsizetype position) const
{
    prepareLayout();
    position = std::clamp<qsizetype>(position, 0, m_buffer.length());
    const bool upstream = m_caretUpstream && position == m_caret;
    const RowPos at = rowPosOf(position, upstream);
    qint64 rowsBelowTop = 0;
    if (at.line == m_top.line) {
        rowsBelowTop = at.row - m_top.row;
    } else if (std::abs(at.line - m_top.line) <= visibleRows() * 4) {
        // Near the view: count the laid-out rows in between.
        const bool below = m_top < at;
        const RowPos from = below ? m_top : at, to = below ? at : m_top;
        qint64 rows = m_layout->exactRowsOfLine(from.line) - from.row;
        for (qsizetype line = from.line + 1; line < to.line; ++line)
            rows += m_layout->exactRowsOfLine(line);
        rows += to.row;
        rowsBelowTop = below ? rows : -rows;
    } else {
        rowsBelowTop = m_layout->firstRowOfLine(at.line) + at.row - topRow();
    }
    const qreal shift = m_wrap ? 0 : qreal(horizontalScrollBar()->value()) * characterWidth();
    const int x = m_margins.left() + int(std::floor(m_layout->xOfPosition(position, upstream) - shift));
    const qint64 y = m_margins.top() + rowsBelowTop * lineHeight();
    return QRect(x, int(std::clamp<qint64>(y, INT_MIN / 2, INT_MAX / 2)), std::max(1, int(characterWidth())), lineHeight());
}

qsizetype CodeTextView::positionAt(const QPoint& point) const
{
    prepareLayout();
    const qint64 delta = qint64(std::floor(double(point.y() - m_margins.top()) / lineHeight()));
    RowPos at = m_top;
    if (!advance(at, delta))
        return delta < 0 ? 0 : m_buffer.length();
    const qreal shift = m_wrap ? 0 : qreal(horizontalScrollBar()->value()) * characterWidth();
    return m_layout->positionAtX(at.line, at.row, point.x() - m_margins.left() + shift);
}

qsizetype CodeTextView::topVisiblePosition() const
{
    prepareLayout();
    return m_layout->rowRange(m_top.line, m_top.row).first;
}

CodeTextRange CodeTextView::visibleRange() const
{
    prepareLayout();
    const qsizetype from = m_layout->rowRange(m_top.line, m_top.row).first;
    RowPos last = m_top;
    advance(last, std::max(1, (viewport()->height() - m_margins.top()) / lineHeight() + 1) - 1);
    return {from, m_layout->rowRange(last.line, last.row).second - from};
}

void CodeTextView::scrollToPosition(qsizetype position) { setTop(rowPosOf(position)); }

void CodeTextView::scrollLineToRow(qsizetype line, qint64 rows)
{
    RowPos top{std::clamp<qsizetype>(line, 0, m_buffer.lineCount() - 1), 0};
    advance(top, -rows);
    // Not past the end: the last row stays at the bottom of the view at most.
    RowPos last = top;
    const qint64 below = visibleRows() - 1;
    if (!advance(last, below)) {
        RowPos end{m_buffer.lineCount() - 1, 0};
        end.row = m_layout->exactRowsOfLine(end.line) - 1;
        advance(end, -below);
        if (end < top)
            top = end;
    }
    setTop(top);
}

void CodeTextView::ensureCaretVisible()
{
    const RowPos caret = rowPosOf(m_caret, m_caretUpstream);
    const int rows = visibleRows();
    if (caret < m_top) {
        setTop(caret);
    } else if (caret.line - m_top.line > rows) {
        RowPos top = caret;
        advance(top, -(rows - 1));
        setTop(top);
    } else {
        RowPos last = m_top;
        advance(last, rows - 1);
        if (last < caret) {
            RowPos top = caret;
            advance(top, -(rows - 1));
            setTop(top);
        }
    }
    if (!m_wrap) {
        const qint64 col = m_buffer.columnOf(m_caret);
        const int cols = columnCount();
        QScrollBar* h = horizontalScrollBar();
        if (col > h->maximum() + cols)
            syncScrollBars();
        if (col < h->value())
            h->setValue(int(std::max<qint64>(0, col - cols / 4)));
        else if (col >= h->value() + cols)
            h->setValue(int(col - cols + cols / 4));
    }
}

void CodeTextView::revealRange(CodeTextRange range, bool showIndicator)
{
    const qsizetype n = m_buffer.length();
    const qsizetype from = std::clamp<qsizetype>(range.location, 0, n);
    const qsizetype to = std::clamp<qsizetype>(range.end(), from, n);
    const int rows = visibleRows();
    const RowPos first = rowPosOf(from);
    const RowPos last = rowPosOf(to);
    RowPos bottom = m_top;
    advance(bottom, rows - 1);
    RowPos span = first;
    const bool fits = !advance(span, rows - 1) || !(span < last);
    if (first < m_top || !fits) {
        setTop(first);
    } else if (bottom < last) {
        RowPos top = last;
        advance(top, -(rows - 1));
        setTop(top);
    }
    if (!m_wrap) {
        const qint64 col = m_buffer.columnOf(from);
        const int cols = columnCount();
        QScrollBar* h = horizontalScrollBar();
        if (col < h->value() || col >= h->value() + cols)
            h->setValue(int(std::max<qint64>(0, col - cols / 3)));
    }
    if (showIndicator) {
        m_indicator = {from, to - from};
        m_indicatorTimer.start(kIndicatorMs, this);
    }
    viewport()->update();
}

// ---------------------------------------------------------------- options

void CodeTextView::setWrapEnabled(bool wrap)
{
    if (wrap == m_wrap)
        return;
    const qsizetype top = topVisiblePosition();
    m_wrap = wrap;
    setHorizontalScrollBarPolicy(wrap ? Qt::ScrollBarAlwaysOff : Qt::ScrollBarAsNeeded);
    updateLayoutWidth();
    horizontalScrollBar()->setValue(0);
    scrollToPosition(top);
    viewport()->update();
}

void CodeTextView::setReadOnly(bool readOnly)
{
    if (readOnly == m_readOnly)
        return;
    m_readOnly = readOnly;
    setAttribute(Qt::WA_InputMethodEnabled, !readOnly);
    resetCaretBlink();
    viewport()->update();
}

void CodeTextView::setPlaceholderText(const QString& text)
{
    if (text == m_placeholder)
        return;
    m_placeholder = text;
    if (m_buffer.isEmpty())
        viewport()->update();
}

void CodeTextView::setTextMargins(const QMargins& margins)
{
    m_margins = margins;
    metricsChanged();
}

void CodeTextView::setHighlighters(const QList<const CodeTextHighlighter*>& highlighters)
{
    m_highlighters = highlighters;
    m_layout->setHighlighters(m_highlighters);
    viewport()->update();
}

void CodeTextView::addHighlighter(const CodeTextHighlighter* highlighter)
{
    if (highlighter && !m_highlighters.contains(highlighter))
        m_highlighters.append(highlighter);
    m_layout->setHighlighters(m_highlighters);
    viewport()->update();
}

void CodeTextView::removeHighlighter(const CodeTextHighlighter* highlighter)
{
    m_highlighters.removeAll(highlighter);
    m_layout->setHighlighters(m_highlighters);
    viewport()->update();
}

void CodeTextView::refreshHighlighting()
{
    m_layout->formatsChanged();
    viewport()->update();
}

// ---------------------------------------------------------------- characters and words

qsizetype CodeTextView::nextCharacter(qsizetype position) const { return m_layout->nextCursorPosition(position); }

qsizetype CodeTextView::previousCharacter(qsizetype position) const
{
    return m_layout->previousCursorPosition(position);
}

qsizetype CodeTextView::backspaceStart(qsizetype position) const
{
    // A whole cluster goes (a flag, an emoji sequence, a syllable), except that a combining mark
    // at its end is taken off on its own, so an accent can be retyped.
    const qsizetype start = previousCharacter(position);
    if (position - start < 2)
        return start;
    qsizetype last = position - 1;
    if (last > start && m_buffer.at(last).isLowSurrogate() && m_buffer.at(last - 1).isHighSurrogate())
        --last;
    const char32_t c = m_buffer.at(last).isHighSurrogate()
        ? QChar::surrogateToUcs4(m_buffer.at(last), m_buffer.at(last + 1)) : m_buffer.at(last).unicode();
    const bool selector = (c >= 0xFE00 && c <= 0xFE0F) || (c >= 0xE0100 && c <= 0xE01EF);
    const auto category = QChar::category(c);
    const bool mark = category == QChar::Mark_NonSpacing || category == QChar::Mark_SpacingCombining
        || category == QChar::Mark_Enclosing;
    return mark && !selector ? last : start;
}

qsizetype CodeTextView::wordBoundary(qsizetype position, bool forward) const
{
    const qsizetype n = m_buffer.length();
    qsizetype p = position;
    qsizetype budget = kWordScanLimit;
    auto charAt = [&](qsizetype i) { return m_buffer.at(i); };
    if (forward) {
        while (p < n && budget-- > 0 && charAt(p).isSpace() && charAt(p) != QLatin1Char('\n'))
            ++p;
        if (p < n && charAt(p) == QLatin1Char('\n') && p == position)
            return p + 1;
        if (p < n && isWordChar(charAt(p))) {
            while (p < n && budget-- > 0 && isWordChar(charAt(p)))
                ++p;
        } else if (p < n && !charAt(p).isSpace()) {
            ++p;
        }
        return p;
    }
    while (p > 0 && budget-- > 0 && charAt(p - 1).isSpace() && charAt(p - 1) != QLatin1Char('\n'))
        --p;
    if (p > 0 && charAt(p - 1) == QLatin1Char('\n') && p == position)
        return p - 1;
    if (p > 0 && isWordChar(charAt(p - 1))) {
        while (p > 0 && budget-- > 0 && isWordChar(charAt(p - 1)))
            --p;
    } else if (p > 0 && !charAt(p - 1).isSpace()) {
        --p;
    }
    return p;
}

CodeTextRange CodeTextView::unitRangeAt(qsizetype position, Unit unit) const
{
    const qsizetype n = m_buffer.length();
    position = std::clamp<qsizetype>(position, 0, n);
    if (unit == Unit::Line) {
        const qsizetype line = m_buffer.lineAt(position);
        const qsizetype start = m_buffer.lineStart(line);
        const qsizetype end = std::min(n, m_buffer.lineEnd(line) + 1);
        return {start, end - start};
    }
    if (unit == Unit::Word) {
        const QChar c = m_buffer.at(position);
        const QChar before = position > 0 ? m_buffer.at(position - 1) : QChar();
        const bool onWord = (position < n && isWordChar(c)) || (!(position < n && !c.isSpace()) && isWordChar(before));
        if (onWord) {
            qsizetype from = position, to = position;
            qsizetype budget = kWordScanLimit;
            while (from > 0 && budget-- > 0 && isWordChar(m_buffer.at(from - 1)))
                --from;
            budget = kWordScanLimit;
            while (to < n && budget-- > 0 && isWordChar(m_buffer.at(to)))
                ++to;
            return {from, to - from};
        }
        if (position < n && c != QLatin1Char('\n'))
            return {position, nextCharacter(position) - position};
    }
    return {position, 0};
}

void CodeTextView::deleteSelectionOr(bool forward, bool word)
{
    if (hasSelection()) {
        const CodeTextRange sel = selection();
        edit(sel.location, sel.length, QString(), CodeTextUndoStack::Kind::Other);
        return;
    }
    qsizetype other;
    if (word)
        other = wordBoundary(m_caret, forward);
    else if (forward)
        other = nextCharacter(m_caret);
    else
        other = backspaceStart(m_caret);
    const qsizetype from = std::min(other, m_caret);
    const qsizetype len = std::abs(other - m_caret);
    if (len == 0)
        return;
    edit(from, len, QString(),
        forward ? CodeTextUndoStack::Kind::DeleteForward : CodeTextUndoStack::Kind::DeleteBackward);
}

// ---------------------------------------------------------------- clipboard

void CodeTextView::copy()
{
    if (!hasSelection())
        return;
    QApplication::clipboard()->setText(selectedText());
}

void CodeTextView::cut()
{
    if (!hasSelection() || m_readOnly)
        return;
    copy();
    const CodeTextRange sel = selection();
    edit(sel.location, sel.length, QString(), CodeTextUndoStack::Kind::Other);
}

void CodeTextView::paste()
{
    if (m_readOnly)
        return;
    const QString text = QApplication::clipboard()->text();
    if (text.isEmpty())
        return;
    m_undo.breakMerge();
    insertPlainText(text);
}

// ---------------------------------------------------------------- events

bool CodeTextView::event(QEvent* event)
{
    if (event->type() == QEvent::ShortcutOverride) {
        // Editing keys belong to the view while it has the focus, not to window shortcuts.
        auto* key = static_cast<QKeyEvent*>(event);
        if (key == QKeySequence::Copy || key == QKeySequence::Cut || key == QKeySequence::Paste
            || key == QKeySequence::Undo || key == QKeySequence::Redo || key == QKeySequence::SelectAll
            || (!key->text().isEmpty() && !(key->modifiers() & (Qt::ControlModifier | Qt::AltModifier)))) {
            event->accept();
            return true;
        }
    }
    return QAbstractScrollArea::event(event);
}

void CodeTextView::resizeEvent(QResizeEvent* event)
{
    QAbstractScrollArea::resizeEvent(event);
    const qsizetype top = m_layout->rowRange(m_top.line, std::min(m_top.row, m_layout->rowsOfLine(m_top.line) - 1)).first;
    const int cols = columnCount();
    if (textAreaWidth() != m_layout->width()) {
        updateLayoutWidth();
        m_top = rowPosOf(top);
    }
    syncScrollBars();
    if (cols != m_lastColumns) {
        m_lastColumns = cols;
        emit columnCountChanged(cols);
    }
}

void CodeTextView::changeEvent(QEvent* event)
{
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        metricsChanged();
    else if (event->type() == QEvent::PaletteChange || event->type() == QEvent::ApplicationPaletteChange)
        viewport()->update();
}

void CodeTextView::scrollContentsBy(int, int dy)
{
    // A scroll bar moved by the user (or by a caller's setValue): the row it names is the new top.
    if (dy != 0 && !m_settingScroll) {
        RowPos top;
        top.line = m_layout->lineAtRow(verticalScrollBar()->value(), &top.row);
        m_top = top;
    }
    viewport()->update();
}

void CodeTextView::keyPressEvent(QKeyEvent* e)
{
    using K = QKeySequence;
    struct Move {
        K::StandardKey move, select;
        int kind;
    };
    static const Move moves[] = {
        {K::MoveToNextChar, K::SelectNextChar, 0}, {K::MoveToPreviousChar, K::SelectPreviousChar, 1},
        {K::MoveToNextWord, K::SelectNextWord, 2}, {K::MoveToPreviousWord, K::SelectPreviousWord, 3},
        {K::MoveToNextLine, K::SelectNextLine, 4}, {K::MoveToPreviousLine, K::SelectPreviousLine, 5},
        {K::MoveToStartOfLine, K::SelectStartOfLine, 6}, {K::MoveToEndOfLine, K::SelectEndOfLine, 7},
        {K::MoveToStartOfDocument, K::SelectStartOfDocument, 8}, {K::MoveToEndOfDocument, K::SelectEndOfDocument, 9},
        {K::MoveToNextPage, K::SelectNextPage, 10}, {K::MoveToPreviousPage, K::SelectPreviousPage, 11},
        {K::MoveToStartOfBlock, K::SelectStartOfBlock, 6}, {K::MoveToEndOfBlock, K::SelectEndOfBlock, 7},
    };
    for (const Move& m : moves) {
        const bool plain = e->matches(m.move);
        const bool extend = !plain && e->matches(m.select);
        if (!plain && !extend)
            continue;
        const CodeTextRange sel = selection();
        const int pageRows = visibleRows();
        qsizetype target = m_caret;
        switch (m.kind) {
        case 0: target = (!extend && hasSelection()) ? sel.end() : nextCharacter(m_caret); break;
        case 1: target = (!extend && hasSelection()) ? sel.location : previousCharacter(m_caret); break;
        case 2: target = wordBoundary(m_caret, true); break;
        case 3: target = wordBoundary(m_caret, false); break;
        case 4: case 5: case 10: case 11: {
            if (m_desiredX < 0)
                m_desiredX = m_layout->xOfPosition(m_caret, m_caretUpstream);
            const qint64 step = m.kind == 4 ? 1 : m.kind == 5 ? -1 : m.kind == 10 ? pageRows : -pageRows;
            RowPos at = rowPosOf(m_caret, m_caretUpstream);
            if (!advance(at, step))
                target = step < 0 ? 0 : m_buffer.length();
            else
                target = m_layout->positionAtX(at.line, at.row, m_desiredX);
            if (m.kind >= 10) {
                RowPos top = m_top;
                advance(top, step);
                setTop(top);
            }
            moveCaret(target, extend, true);
            e->accept();
            return;
        }
        case 6: {
            const RowPos at = rowPosOf(m_caret, m_caretUpstream);
            target = m_layout->rowRange(at.line, at.row).first;
            break;
        }
        case 7: {
            // The end of the row shown, which for a wrapped row is also where the next begins:
            // the caret stays drawn at the end of this one.
            const RowPos at = rowPosOf(m_caret, m_caretUpstream);
            target = m_layout->rowRange(at.line, at.row).second;
            const bool wrapped = at.row + 1 < m_layout->rowsOfLine(at.line);
            m_undo.breakMerge();
            moveCaret(target, extend, false, wrapped);
            e->accept();
            return;
        }
        case 8: target = 0; break;
        case 9: target = m_buffer.length(); break;
        }
        m_undo.breakMerge();
        moveCaret(target, extend);
        e->accept();
        return;
    }
    if (e == K::SelectAll) { selectAll(); return; }
    if (e == K::Copy) { copy(); return; }
    if (e == K::Cut) { cut(); return; }
    if (e == K::Paste) { paste(); return; }
    if (e == K::Undo) { undo(); return; }
    if (e == K::Redo) { redo(); return; }
    if (m_readOnly) {
        e->ignore();
        return;
    }
    if (e == K::Delete) { deleteSelectionOr(true, false); return; }
    if (e == K::Backspace || (e->key() == Qt::Key_Backspace && !(e->modifiers() & ~Qt::ShiftModifier))) {
        deleteSelectionOr(false, false);
        return;
    }
    if (e == K::DeleteEndOfWord) { deleteSelectionOr(true, true); return; }
    if (e == K::DeleteStartOfWord) { deleteSelectionOr(false, true); return; }
    if (e == K::InsertParagraphSeparator || e == K::InsertLineSeparator) {
        const CodeTextRange sel = selection();
        edit(sel.location, sel.length, QStringLiteral("\n"), CodeTextUndoStack::Kind::Typing);
        return;
    }
    if (e->key() == Qt::Key_Tab && !(e->modifiers() & (Qt::ControlModifier | Qt::AltModifier))) {
        const CodeTextRange sel = selection();
        edit(sel.location, sel.length, QStringLiteral("\t"), CodeTextUndoStack::Kind::Typing);
        return;
    }
    const QString text = e->text();
    if (!text.isEmpty() && !(e->modifiers() & (Qt::ControlModifier | Qt::MetaModifier))
        && (text.at(0).isPrint() || text.at(0).isSurrogate() || text.at(0) == QLatin1Char('\t'))) {
        const CodeTextRange sel = selection();
        edit(sel.location, sel.length, text, sel.length ? CodeTextUndoStack::Kind::Other : CodeTextUndoStack::Kind::Typing);
        if (sel.length)
            m_undo.breakMerge();
        return;
    }
    e->ignore();
}

void CodeTextView::mousePressEvent(QMouseEvent* e)
{
    if (e->button() != Qt::LeftButton) {
        QAbstractScrollArea::mousePressEvent(e);
        return;
    }
    m_undo.breakMerge();
    const qsizetype pos = positionAt(e->position().toPoint());
    // A third click soon after a double click selects the line.
    Unit unit = Unit::Character;
    if (m_lastDoubleClick.isValid() && m_lastDoubleClick.elapsed() < QGuiApplication::styleHints()->mouseDoubleClickInterval()
        && (e->position().toPoint() - m_lastMousePos).manhattanLength() < 6) {
        unit = Unit::Line;
        m_lastDoubleClick.invalidate();
    }
    m_lastMousePos = e->position().toPoint();
    m_mouseSelecting = true;
    m_dragUnit = unit;
    if (unit == Unit::Line) {
        m_dragOrigin = unitRangeAt(pos, Unit::Line);
        setSelectionInternal(m_dragOrigin.location, m_dragOrigin.end(), true);
    } else if (e->modifiers() & Qt::ShiftModifier) {
        m_dragOrigin = {m_anchor, 0};
        moveCaret(pos, true);
    } else {
        m_dragOrigin = {pos, 0};
        moveCaret(pos, false);
    }
    e->accept();
}

void CodeTextView::mouseDoubleClickEvent(QMouseEvent* e)
{
    if (e->button() != Qt::LeftButton)
        return;
    const qsizetype pos = positionAt(e->position().toPoint());
    m_dragUnit = Unit::Word;
    m_dragOrigin = unitRangeAt(pos, Unit::Word);
    m_mouseSelecting = true;
    setSelectionInternal(m_dragOrigin.location, m_dragOrigin.end(), true);
    m_lastDoubleClick.start();
    m_lastMousePos = e->position().toPoint();
    e->accept();
}

void CodeTextView::mouseMoveEvent(QMouseEvent* e)
{
    if (!m_mouseSelecting || !(e->buttons() & Qt::LeftButton))
        return;
    m_lastMousePos = e->position().toPoint();
    const QRect area = viewport()->rect();
    if (!area.contains(m_lastMousePos)) {
        if (!m_autoScrollTimer.isActive())
            m_autoScrollTimer.start(50, this);
    } else {
        m_autoScrollTimer.stop();
    }
    const qsizetype pos = positionAt(m_lastMousePos);
    if (m_dragUnit == Unit::Character) {
        setSelectionInternal(m_dragOrigin.location, pos, true);
    } else {
        const CodeTextRange here = unitRangeAt(pos, m_dragUnit);
        if (pos < m_dragOrigin.location)
            setSelectionInternal(m_dragOrigin.end(), here.location, true);
        else
            setSelectionInternal(m_dragOrigin.location, std::max(here.end(), m_dragOrigin.end()), true);
    }
    ensureCaretVisible();
}

void CodeTextView::mouseReleaseEvent(QMouseEvent* e)
{
    m_mouseSelecting = false;
    m_autoScrollTimer.stop();
    if (e->button() == Qt::MiddleButton && !m_readOnly && QApplication::clipboard()->supportsSelection()) {
        const QString text = QApplication::clipboard()->text(QClipboard::Selection);
        if (!text.isEmpty()) {
            const qsizetype pos = positionAt(e->position().toPoint());
            setSelectionInternal(pos, pos, true);
            insertPlainText(text);
        }
    }
}

void CodeTextView::focusInEvent(QFocusEvent* e)
{
    m_focused = true;
    resetCaretBlink();
    QAbstractScrollArea::focusInEvent(e);
}

void CodeTextView::focusOutEvent(QFocusEvent* e)
{
    m_focused = false;
    m_blinkTimer.stop();
    m_undo.breakMerge();
    viewport()->update();
    QAbstractScrollArea::focusOutEvent(e);
}

void CodeTextView::resetCaretBlink()
{
    m_caretVisible = true;
    const int flash = QGuiApplication::styleHints()->cursorFlashTime();
    if (m_focused && !m_readOnly && flash > 0)
        m_blinkTimer.start(flash / 2, this);
    else
        m_blinkTimer.stop();
    viewport()->update(positionRect(m_caret).adjusted(-2, 0, 2, 0));
}

void CodeTextView::timerEvent(QTimerEvent* e)
{
    if (e->timerId() == m_blinkTimer.timerId()) {
        m_caretVisible = !m_caretVisible;
        viewport()->update(positionRect(m_caret).adjusted(-2, 0, 2, 0));
    } else if (e->timerId() == m_indicatorTimer.timerId()) {
        m_indicatorTimer.stop();
        m_indicator = {-1, 0};
        viewport()->update();
    } else if (e->timerId() == m_autoScrollTimer.timerId()) {
        QScrollBar* v = verticalScrollBar();
        if (m_lastMousePos.y() < 0)
            v->setValue(v->value() - 1);
        else if (m_lastMousePos.y() > viewport()->height())
            v->setValue(v->value() + 1);
        const qsizetype pos = positionAt(m_lastMousePos);
        if (m_dragUnit == Unit::Character)
            setSelectionInternal(m_dragOrigin.location, pos, true);
    } else {
        QAbstractScrollArea::timerEvent(e);
    }
}

void CodeTextView::contextMenuEvent(QContextMenuEvent* e)
{
    QMenu menu(this);
    menu.addAction(tr("Undo"), this, &CodeTextView::undo)->setEnabled(canUndo() && !m_readOnly);
    menu.addAction(tr("Redo"), this, &CodeTextView::redo)->setEnabled(canRedo() && !m_readOnly);
    menu.addSeparator();
    menu.addAction(tr("Cut"), this, &CodeTextView::cut)->setEnabled(hasSelection() && !m_readOnly);
    menu.addAction(tr("Copy"), this, &CodeTextView::copy)->setEnabled(hasSelection());
    menu.addAction(tr("Paste"), this, &CodeTextView::paste)->setEnabled(!m_readOnly);
    menu.addSeparator();
    menu.addAction(tr("Select All"), this, &CodeTextView::selectAll);
    menu.exec(e->globalPos());
}

// ---------------------------------------------------------------- input methods

void CodeTextView::inputMethodEvent(QInputMethodEvent* e)
{
    if (m_readOnly) {
        e->ignore();
        return;
    }
    if (!e->commitString().isEmpty() || e->replacementLength() > 0) {
        const CodeTextRange sel = selection();
        qsizetype from = sel.location, len = sel.length;
        if (e->replacementLength() > 0 || e->replacementStart() != 0) {
            from = std::clamp<qsizetype>(m_caret + e->replacementStart(), 0, m_buffer.length());
            len = std::clamp<qsizetype>(e->replacementLength(), 0, m_buffer.length() - from);
        }
        edit(from, len, e->commitString(), CodeTextUndoStack::Kind::Other);
    }
    setPreedit(e->preeditString());
    e->accept();
}

QVariant CodeTextView::inputMethodQuery(Qt::InputMethodQuery query) const
{
    switch (query) {
    case Qt::ImEnabled:
        return !m_readOnly;
    case Qt::ImCursorRectangle:
        return positionRect(m_caret).translated(viewport()->pos());
    case Qt::ImFont:
        return font();
    case Qt::ImCursorPosition:
        return int(std::min<qsizetype>(m_caret - m_buffer.lineStart(m_buffer.lineAt(m_caret)), 1024));
    case Qt::ImAnchorPosition: {
        const qsizetype start = m_buffer.lineStart(m_buffer.lineAt(m_caret));
        return int(std::clamp<qsizetype>(m_anchor - start, 0, 1024));
    }
    case Qt::ImSurroundingText: {
        const qsizetype line = m_buffer.lineAt(m_caret);
        const qsizetype start = m_buffer.lineStart(line);
        return m_buffer.mid(start, std::min<qsizetype>(m_buffer.lineLength(line), 1024 + (m_caret - start)));
    }
    case Qt::ImCurrentSelection:
        return selection().length <= 1024 ? selectedText() : QString();
    case Qt::ImHints:
        return int(Qt::ImhNoPredictiveText | Qt::ImhNoAutoUppercase | Qt::ImhMultiLine);
    default:
        return QAbstractScrollArea::inputMethodQuery(query);
    }
}

void CodeTextView::setPreedit(const QString& text)
{
    m_preedit = text;
    // Shown inline at the caret: the text after it moves aside, and the row re-wraps.
    m_layout->setPreedit(m_caret, text);
    prepareLayout();
    viewport()->update();
}

// ---------------------------------------------------------------- drops

bool CodeTextView::acceptsDrag(const QMimeData* data) const
{
    // Only text is taken; files and other drags go on to the pane around the view.
    return !m_readOnly && data && data->hasText() && !data->hasUrls();
}

void CodeTextView::dragEnterEvent(QDragEnterEvent* e)
{
    if (acceptsDrag(e->mimeData()))
        e->acceptProposedAction();
    else
        e->ignore();
}

void CodeTextView::dragMoveEvent(QDragMoveEvent* e)
{
    if (!acceptsDrag(e->mimeData())) {
        e->ignore();
        return;
    }
    m_dropCaret = positionAt(e->position().toPoint());
    viewport()->update();
    e->acceptProposedAction();
}

void CodeTextView::dragLeaveEvent(QDragLeaveEvent*)
{
    m_dropCaret = -1;
    viewport()->update();
}

void CodeTextView::dropEvent(QDropEvent* e)
{
    m_dropCaret = -1;
    if (!acceptsDrag(e->mimeData())) {
        e->ignore();
        return;
    }
    const qsizetype pos = positionAt(e->position().toPoint());
    m_undo.breakMerge();
    setSelectionInternal(pos, pos, true);
    insertPlainText(e->mimeData()->text());
    e->acceptProposedAction();
    setFocus();
}

// ---------------------------------------------------------------- painting

void CodeTextView::paintEvent(QPaintEvent* event)
{
    prepareLayout();
    QPainter painter(viewport());
    CodeTextRenderer::State state;
    state.margins = m_margins;
    state.topLine = m_top.line;
    state.topRowInLine = m_top.row;
    state.horizontalColumns = m_wrap ? 0 : horizontalScrollBar()->value();
    state.selection = selection();
    state.focused = hasFocus();
    state.indicator = m_indicator;
    if (m_focused && !m_readOnly && m_caretVisible && !hasSelection())
        state.caret = positionRect(m_caret);
    if (m_dropCaret >= 0)
        state.dropCaret = positionRect(m_dropCaret);
    if (m_preedit.isEmpty())
        state.placeholder = m_placeholder;
    state.palette = palette();
    CodeTextRenderer::paint(painter, event->rect(), *m_layout, m_buffer, state);
}
