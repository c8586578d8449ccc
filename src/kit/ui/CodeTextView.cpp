#include "kit/ui/CodeTextView.h"
#include "kit/ui/FocusRing.h"

#include "kit/CodeTextHighlighter.h"
#include "kit/TextHelpers.h"
#include "kit/ui/CodeTextAccessible.h"
#include "kit/ui/CodeTextInput.h"
#include "kit/ui/CodeTextLayout.h"
#include "kit/ui/CodeTextRenderer.h"
#include "kit/ui/FontScale.h"
#include "formats/FreedMemory.h"

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

#include <algorithm>
#include <cmath>

namespace {

constexpr int kIndicatorMs = 900;
// From this length on a replaced text is freed on a worker.
constexpr qsizetype kFreedOnWorker = qsizetype(1) << 20;

} // namespace

CodeTextView::CodeTextView(QWidget* parent)
    : QAbstractScrollArea(parent), m_layout(std::make_unique<CodeTextLayout>(m_buffer)),
      m_caret([this] { return m_buffer.length(); },
          [this](qsizetype oldAnchor, qsizetype oldCaret, bool byUser) { caretMoved(oldAnchor, oldCaret, byUser); })
{
    CodeTextInput::Host& host = *this;
    m_input = std::make_unique<CodeTextInput>(*this, host, m_caret);
    FontScale::apply(this, defaultFont());
    viewport()->setCursor(Qt::IBeamCursor);
    viewport()->setAcceptDrops(true);
    setAcceptDrops(true);
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_InputMethodEnabled, true);
    viewport()->setAutoFillBackground(false);
    verticalScrollBar()->setSingleStep(1);
    horizontalScrollBar()->setSingleStep(1);
    metricsChanged();
    CodeTextAccessible::install();
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

void CodeTextView::setText(const QString& text)
{
    // Shown at once from the text in place; its Latin-1 copy is made off the GUI thread.
    setBuffer(CodeTextBuffer::narrowedLater(text));
    narrowTextLater();
}

void CodeTextView::setBuffer(CodeTextBuffer buffer)
{
    const qsizetype oldLength = m_buffer.length();
    const qsizetype keep = std::min(std::min(m_caret.anchor(), m_caret.position()), buffer.length());
    const bool hadUndo = canUndo(), hadRedo = canRedo();
    const QString oldText = CodeTextAccessible::toldText(m_buffer, 0, m_buffer.length());
    // Freeing a large text gives its pages back to the system, which would hold up the window.
    CodeTextBuffer old = std::exchange(m_buffer, std::move(buffer));
    if (old.length() >= kFreedOnWorker)
        FreedMemory::release(std::move(old));
    m_undo.clear();
    m_input->clearPreedit();
    m_layout->setPreedit(-1, QString());
    m_layout->reset();
    if (m_layout->estimating())
        m_estimateTimer.start(0, this);
    m_indicator = {-1, 0};
    m_top = {};
    m_caret.setUpstream(false);
    syncScrollBars();
    viewport()->update();
    CodeTextAccessible::textReplaced(this, 0, oldText, CodeTextAccessible::toldText(m_buffer, 0, m_buffer.length()));
    emit textChanged(0, m_buffer.length(), m_buffer.length() - oldLength);
    setSelectionInternal(keep, keep, false);
    emitUndoState(hadUndo, hadRedo);
}

void CodeTextView::replaceRange(TextRange range, const QString& text)
{
    const qsizetype pos = std::clamp<qsizetype>(range.location, 0, m_buffer.length());
    const qsizetype len = std::clamp<qsizetype>(range.length, 0, m_buffer.length() - pos);
    const bool hadUndo = canUndo(), hadRedo = canRedo();
    m_undo.clear();
    const qsizetype before = m_buffer.length();
    applyReplacement(pos, len, text);
    const qsizetype delta = m_buffer.length() - before;
    auto map = [&](qsizetype p) { return p < pos ? p : (p >= pos + len ? p + delta : pos); };
    setSelectionInternal(map(m_caret.anchor()), map(m_caret.position()), false);
    emitUndoState(hadUndo, hadRedo);
}

void CodeTextView::insertPlainText(const QString& text)
{
    const TextRange sel = selection();
    edit(sel.location, sel.length, text, CodeTextUndoStack::Kind::Other);
}

TextEdit CodeTextView::applyReplacement(qsizetype position, qsizetype removedLength, const QString& inserted,
                                        bool lineFeedsOnly)
{
    const qsizetype firstLine = m_buffer.lineAt(position);
    const qsizetype oldLastLine = m_buffer.lineAt(position + removedLength);
    const RowPos top = m_top;
    const qsizetype topRowStart = m_layout->rowRange(top.line, top.row).first;
    const qsizetype oldLength = m_buffer.length();
    const QString removedText = CodeTextAccessible::toldText(m_buffer, position, removedLength);
    const qsizetype added = m_buffer.replace(position, removedLength, inserted);
    const qsizetype removed = oldLength + added - m_buffer.length();
    m_caret.setUpstream(false);
    m_layout->replaced(position, removed, added, firstLine, oldLastLine, m_buffer.lineAt(position + added));
    // The view keeps its top row: lines added or removed above it move its number, an edit
    // below its start leaves it, and one that swallowed it leaves the top where the edit ends.
    if (top.line > oldLastLine)
        m_top.line = top.line + (m_buffer.lineAt(position + added) - oldLastLine);
    else if (top.line >= firstLine && position < topRowStart)
        m_top = {m_buffer.lineAt(std::min(topRowStart, position + added)), 0};
    m_top.line = std::clamp<qsizetype>(m_top.line, 0, m_buffer.lineCount() - 1);
    syncScrollBars();
    viewport()->update();
    // The buffer normalised any line break given, so what it holds now is what came.
    const QString came = !lineFeedsOnly && inserted.contains(QLatin1Char('\r')) ? m_buffer.mid(position, added) : inserted;
    CodeTextAccessible::textReplaced(this, position, removedText, came);
    emit textChanged(position, added, added - removedLength);
    return TextEdit{position, removed, came};
}

void CodeTextView::edit(qsizetype position, qsizetype removedLength, const QString& insertedText,
    CodeTextUndoStack::Kind kind)
{
    if (m_readOnly)
        return;
    const QString inserted = TextHelpers::normalizedLineBreaks(insertedText);
    if (removedLength == 0 && inserted.isEmpty())
        return;
    const bool hadUndo = canUndo(), hadRedo = canRedo();
    CodeTextUndoStack::Step step;
    step.position = position;
    step.removed = m_buffer.mid(position, removedLength);
    step.inserted = inserted;
    step.anchorBefore = m_caret.anchor();
    step.caretBefore = m_caret.position();
    step.anchorAfter = step.caretAfter = position + inserted.size();
    step.kind = kind;
    m_undo.record(step);
    const TextEdit made = applyReplacement(position, removedLength, inserted, true);
    m_input->forgetColumn();
    setSelectionInternal(step.caretAfter, step.caretAfter, true);
    // The caret follows what was typed: where a wrapped row ends after it (spaces that hang at
    // the edge), it stays on that row rather than going to the start of the next.
    m_caret.setUpstream(!inserted.isEmpty());
    ensureCaretVisible();
    resetCaretBlink();
    emit textEdited(made);
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
    const TextEdit made = applyReplacement(s.position, s.inserted.size(), s.removed, true);
    setSelectionInternal(s.anchorBefore, s.caretBefore, true);
    ensureCaretVisible();
    emit textEdited(made);
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
    const TextEdit made = applyReplacement(s.position, s.removed.size(), s.inserted, true);
    setSelectionInternal(s.anchorAfter, s.caretAfter, true);
    ensureCaretVisible();
    emit textEdited(made);
    emitUndoState(hadUndo, hadRedo);
}

void CodeTextView::clearUndoStack()
{
    const bool hadUndo = canUndo(), hadRedo = canRedo();
    m_undo.clear();
    emitUndoState(hadUndo, hadRedo);
}

// ---------------------------------------------------------------- selection

TextRange CodeTextView::selection() const { return m_caret.selection(); }

void CodeTextView::setSelection(qsizetype anchor, qsizetype caret)
{
    m_input->forgetColumn();
    m_caret.setUpstream(false);
    setSelectionInternal(anchor, caret, false);
}

void CodeTextView::caretMoved(qsizetype oldAnchor, qsizetype oldCaret, bool byUser)
{
    viewport()->update();
    CodeTextAccessible::selectionMoved(this, oldAnchor, oldCaret);
    if (byUser && hasSelection() && QApplication::clipboard()->supportsSelection())
        QApplication::clipboard()->setText(selectedText(), QClipboard::Selection);
    emit selectionChanged(byUser);
}

void CodeTextView::selectAll() { setSelectionInternal(0, m_buffer.length(), true); }

QString CodeTextView::selectedText() const { return textInRange(selection()); }


// ---------------------------------------------------------------- geometry

void CodeTextView::metricsChanged()
{
    m_layout->setFont(font());
    updateLayoutWidth();
    syncScrollBars();
    viewport()->update();
}

void CodeTextView::updateLayoutWidth()
{
    m_layout->setWidth(textAreaWidth(), m_wrap);
    // Rows of many lines are estimated again between events; the top line holds the view still.
    if (m_layout->estimating())
        m_estimateTimer.start(0, this);
}

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

qsizetype CodeTextView::positionRowsAway(qsizetype position, bool upstream, qint64 rows, qreal x) const
{
    RowPos at = rowPosOf(position, upstream);
    if (!advance(at, rows))
        return rows < 0 ? 0 : m_buffer.length();
    return m_layout->positionAtX(at.line, at.row, x);
}

void CodeTextView::scrollByRows(qint64 rows)
{
    RowPos top = m_top;
    advance(top, rows);
    setTop(top);
}

CodeTextInput::Host::Row CodeTextView::rowOf(qsizetype position, bool upstream) const
{
    const RowPos at = rowPosOf(position, upstream);
    const auto range = m_layout->rowRange(at.line, at.row);
    return {range.first, range.second, at.row + 1 < m_layout->rowsOfLine(at.line)};
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
    const bool upstream = m_caret.isUpstream() && position == m_caret.position();
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

TextRange CodeTextView::visibleRange() const
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
    const RowPos caret = rowPosOf(m_caret.position(), m_caret.isUpstream());
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
        const qint64 col = m_buffer.columnOf(m_caret.position());
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

void CodeTextView::revealRange(TextRange range, bool showIndicator)
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
    CodeTextAccessible::readOnlyChanged(this);
    resetCaretBlink();
    viewport()->update();
}

void CodeTextView::setPlaceholderText(const QString& text)
{
    if (text == m_placeholder)
        return;
    m_placeholder = text;
    CodeTextAccessible::placeholderChanged(this);
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

void CodeTextView::refreshHighlighting()
{
    m_layout->formatsChanged();
    viewport()->update();
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
    const TextRange sel = selection();
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
    if (event->type() == QEvent::ShortcutOverride && m_input->shortcutOverride(static_cast<QKeyEvent*>(event))) {
        event->accept();
        return true;
    }
    if (event->type() == QEvent::KeyPress) {
        // Tab types a tab in an editable view; Ctrl+Tab and Ctrl+Shift+Tab always leave it.
        auto* key = static_cast<QKeyEvent*>(event);
        const Qt::KeyboardModifiers mods = key->modifiers() & (Qt::ControlModifier | Qt::ShiftModifier | Qt::AltModifier);
        if ((key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab) && (mods & Qt::ControlModifier)
            && !(mods & Qt::AltModifier)) {
            const bool next = key->key() == Qt::Key_Tab && !(mods & Qt::ShiftModifier);
            QAbstractScrollArea::focusNextPrevChild(next);
            event->accept();
            return true;
        }
    }
    return QAbstractScrollArea::event(event);
}

bool CodeTextView::focusNextPrevChild(bool next)
{
    // Shift+Tab still leaves backwards: it types nothing.
    if (next && !m_readOnly)
        return false;
    return QAbstractScrollArea::focusNextPrevChild(next);
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
    if (m_input->keyPress(e))
        e->accept();
    else
        e->ignore();
}

void CodeTextView::mousePressEvent(QMouseEvent* e)
{
    if (e->button() != Qt::LeftButton) {
        QAbstractScrollArea::mousePressEvent(e);
        return;
    }
    m_input->mousePress(e);
    e->accept();
}

void CodeTextView::mouseDoubleClickEvent(QMouseEvent* e)
{
    if (e->button() != Qt::LeftButton)
        return;
    m_input->mouseDoubleClick(e);
    e->accept();
}

void CodeTextView::mouseMoveEvent(QMouseEvent* e) { m_input->mouseMove(e); }

void CodeTextView::mouseReleaseEvent(QMouseEvent* e) { m_input->mouseRelease(e); }

void CodeTextView::focusInEvent(QFocusEvent* e)
{
    m_focused = true;
    resetCaretBlink();
    if (m_readOnly)
        viewport()->update();
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
    viewport()->update(positionRect(m_caret.position()).adjusted(-2, 0, 2, 0));
}

void CodeTextView::timerEvent(QTimerEvent* e)
{
    if (e->timerId() == m_blinkTimer.timerId()) {
        m_caretVisible = !m_caretVisible;
        viewport()->update(positionRect(m_caret.position()).adjusted(-2, 0, 2, 0));
    } else if (e->timerId() == m_estimateTimer.timerId()) {
        if (!m_layout->estimateMore())
            m_estimateTimer.stop();
        if (m_layout->takeRowsChanged()) {
            syncScrollBars();
            viewport()->update();
        }
    } else if (e->timerId() == m_indicatorTimer.timerId()) {
        m_indicatorTimer.stop();
        m_indicator = {-1, 0};
        viewport()->update();
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

// ---------------------------------------------------------------- input methods and drops

void CodeTextView::inputMethodEvent(QInputMethodEvent* e)
{
    if (m_input->inputMethod(e))
        e->accept();
    else
        e->ignore();
}

QVariant CodeTextView::inputMethodQuery(Qt::InputMethodQuery query) const
{
    const QVariant answer = m_input->inputMethodQuery(query);
    return answer.isValid() ? answer : QAbstractScrollArea::inputMethodQuery(query);
}

void CodeTextView::dragEnterEvent(QDragEnterEvent* e)
{
    if (m_input->acceptsDrag(e->mimeData()))
        e->acceptProposedAction();
    else
        e->ignore();
}

void CodeTextView::dragMoveEvent(QDragMoveEvent* e)
{
    if (!m_input->acceptsDrag(e->mimeData())) {
        e->ignore();
        return;
    }
    m_input->dragMove(e);
    e->acceptProposedAction();
}

void CodeTextView::dragLeaveEvent(QDragLeaveEvent*) { m_input->dragLeave(); }

void CodeTextView::dropEvent(QDropEvent* e)
{
    if (!m_input->acceptsDrag(e->mimeData())) {
        m_input->dragLeave();
        e->ignore();
        return;
    }
    m_input->drop(e);
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
    if (m_focused && m_caretVisible && !hasSelection())
        state.caret = positionRect(m_caret.position());
    if (m_input->dropPosition() >= 0)
        state.dropCaret = positionRect(m_input->dropPosition());
    if (m_input->preedit().isEmpty())
        state.placeholder = m_placeholder;
    state.palette = palette();
    CodeTextRenderer::paint(painter, event->rect(), *m_layout, m_buffer, state);
    // Rows that an edit left as they were are found again between events.
    if (m_layout->estimating() && !m_estimateTimer.isActive())
        m_estimateTimer.start(0, this);
    if (m_focused && m_readOnly) {
        // No blinking caret says where the keys go: the focus frame does.
        FocusRing::paintFrame(painter, QRectF(viewport()->rect()), palette());
    }
}
