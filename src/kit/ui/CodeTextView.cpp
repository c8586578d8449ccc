#include "kit/ui/CodeTextView.h"

#include "kit/CodeTextHighlighter.h"
#include "kit/Palette.h"
#include "kit/QuietTask.h"
#include "kit/TextHelpers.h"

#include <QApplication>
#include <QClipboard>
#include <QFontDatabase>
#include <QGlyphRun>
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

CodeTextView::CodeTextView(QWidget* parent) : QAbstractScrollArea(parent)
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
    m_buffer.setWrapColumns(m_wrap ? columnCount() : 0);
    m_undo.clear();
    m_preedit.clear();
    m_indicator = {-1, 0};
    updateScrollBars();
    viewport()->update();
    emit textChanged(0, m_buffer.length(), m_buffer.length() - oldLength);
    setSelectionInternal(keep, keep, false);
    emitUndoState(hadUndo, hadRedo);
    prepareSpareText();
}

void CodeTextView::prepareSpareText()
{
    // Typing in a large text makes a listener ask for the whole text after every keystroke;
    // the first writes into fresh megabytes are slow, so that memory is made ready off the GUI
    // thread.
    const qsizetype length = m_buffer.length();
    if (m_readOnly || !CodeTextBuffer::wantsSpares(length))
        return;
    for (int i = 0; i < CodeTextBuffer::spareCount; ++i) {
        QuietTask::detached<QString>(
            this,
            [length] {
                QString storage;
                storage.resize(CodeTextBuffer::spareCapacity(length), QChar(u' '));
                storage.resize(0);
                return storage;
            },
            [this](QString storage) { m_buffer.addSpareText(std::move(storage)); });
    }
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
    const bool whole = position == 0 && removedLength >= m_buffer.length();
    const qsizetype added = m_buffer.replace(position, removedLength, inserted);
    updateScrollBars();
    viewport()->update();
    emit textChanged(position, added, added - removedLength);
    if (whole)
        prepareSpareText();
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
    m_desiredColumn = -1;
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
    m_desiredColumn = -1;
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
    viewport()->update();
    if (byUser && hasSelection() && QApplication::clipboard()->supportsSelection())
        QApplication::clipboard()->setText(selectedText(), QClipboard::Selection);
    emit selectionChanged(byUser);
}

void CodeTextView::selectAll() { setSelectionInternal(0, m_buffer.length(), true); }

QString CodeTextView::selectedText() const { return textInRange(selection()); }

void CodeTextView::moveCaret(qsizetype position, bool extend, bool keepColumn)
{
    if (!keepColumn)
        m_desiredColumn = -1;
    setSelectionInternal(extend ? m_anchor : position, position, true);
    ensureCaretVisible();
    resetCaretBlink();
}

// ---------------------------------------------------------------- geometry

void CodeTextView::metricsChanged()
{
    const QFontMetricsF fm(font());
    m_charWidth = std::max<qreal>(1.0, fm.horizontalAdvance(QLatin1Char('0')));
    m_lineHeight = std::max(1, int(std::ceil(fm.lineSpacing())));
    m_ascent = int(std::ceil(fm.ascent()));
    QString ascii;
    for (char16_t c = 0x21; c < 0x7F; ++c)
        ascii.append(QChar(c));
    for (int weight = 0; weight < 2; ++weight) {
        QFont f = font();
        if (weight == 1)
            f.setBold(true);
        QRawFont raw = QRawFont::fromFont(f);
        const QList<quint32> glyphs = raw.isValid() ? raw.glyphIndexesForString(ascii) : QList<quint32>();
        const bool usable = glyphs.size() == qsizetype(m_asciiGlyphs[weight].size())
            && std::find(glyphs.begin(), glyphs.end(), 0u) == glyphs.end();
        m_rawFonts[weight] = usable ? raw : QRawFont();
        if (usable)
            std::copy(glyphs.begin(), glyphs.end(), m_asciiGlyphs[weight].begin());
    }
    m_buffer.setWrapColumns(m_wrap ? columnCount() : 0);
    updateScrollBars();
    viewport()->update();
}

qreal CodeTextView::textAreaWidth() const
{
    return std::max<qreal>(0, viewport()->width() - m_margins.left() - m_margins.right());
}

int CodeTextView::columnCount() const { return std::max(1, int(textAreaWidth() / m_charWidth)); }

void CodeTextView::updateScrollBars()
{
    const int visibleRows = std::max(1, (viewport()->height() - m_margins.top() - m_margins.bottom()) / m_lineHeight);
    const qint64 rows = m_buffer.rowCount();
    QScrollBar* v = verticalScrollBar();
    v->setPageStep(visibleRows);
    v->setRange(0, int(std::min<qint64>(INT_MAX, std::max<qint64>(0, rows - visibleRows))));
    QScrollBar* h = horizontalScrollBar();
    if (m_wrap) {
        h->setRange(0, 0);
    } else {
        const int cols = columnCount();
        h->setPageStep(cols);
        h->setRange(0, int(std::min<qint64>(INT_MAX, std::max<qint64>(0, m_buffer.maxLineColumns() + 1 - cols))));
    }
}

qint64 CodeTextView::topRow() const { return verticalScrollBar()->value(); }

CodeTextView::RowRef CodeTextView::rowAt(qint64 documentRow) const
{
    RowRef ref;
    ref.line = m_buffer.lineAtRow(documentRow, &ref.rowInLine);
    return ref;
}

qint64 CodeTextView::documentRowOf(qsizetype position) const
{
    const qsizetype line = m_buffer.lineAt(position);
    qint64 row = m_buffer.firstRowOfLine(line);
    if (m_wrap) {
        const qint64 col = m_buffer.columnOf(position);
        row += std::min(col / m_buffer.wrapColumns(), m_buffer.rowsOfLine(line) - 1);
    }
    return row;
}

qint64 CodeTextView::visualColumn(qsizetype position) const
{
    const qint64 col = m_buffer.columnOf(position);
    if (!m_wrap)
        return col;
    const qsizetype line = m_buffer.lineAt(position);
    const qint64 W = m_buffer.wrapColumns();
    return col - std::min(col / W, m_buffer.rowsOfLine(line) - 1) * W;
}

qsizetype CodeTextView::rowStartPosition(qint64 documentRow) const
{
    const RowRef ref = rowAt(documentRow);
    if (!m_wrap || ref.rowInLine == 0)
        return m_buffer.lineStart(ref.line);
    const qint64 target = ref.rowInLine * m_buffer.wrapColumns();
    qsizetype p = m_buffer.positionAtColumn(ref.line, target);
    // A wide character that starts before the row boundary belongs to the row before.
    if (p < m_buffer.lineEnd(ref.line) && m_buffer.columnOf(p) < target)
        p = nextCharacter(p);
    return p;
}

qsizetype CodeTextView::rowEndPosition(qint64 documentRow) const
{
    const RowRef ref = rowAt(documentRow);
    if (!m_wrap || ref.rowInLine + 1 >= m_buffer.rowsOfLine(ref.line))
        return m_buffer.lineEnd(ref.line);
    return rowStartPosition(documentRow + 1);
}

qsizetype CodeTextView::positionAtRowColumn(qint64 documentRow, qint64 column) const
{
    documentRow = std::clamp<qint64>(documentRow, 0, m_buffer.rowCount() - 1);
    const RowRef ref = rowAt(documentRow);
    const qint64 base = m_wrap ? ref.rowInLine * m_buffer.wrapColumns() : 0;
    qsizetype p = m_buffer.positionAtColumn(ref.line, base + std::max<qint64>(0, column), true);
    const qsizetype start = rowStartPosition(documentRow);
    const qsizetype end = rowEndPosition(documentRow);
    const bool lastRow = !m_wrap || ref.rowInLine + 1 >= m_buffer.rowsOfLine(ref.line);
    if (!lastRow && p >= end)
        p = previousCharacter(end);
    return std::clamp(p, start, end);
}

QRect CodeTextView::positionRect(qsizetype position) const
{
    position = std::clamp<qsizetype>(position, 0, m_buffer.length());
    const qint64 row = documentRowOf(position) - topRow();
    const qint64 col = visualColumn(position) - (m_wrap ? 0 : horizontalScrollBar()->value());
    const int x = m_margins.left() + int(std::floor(col * m_charWidth));
    const int y = m_margins.top() + int(row * m_lineHeight);
    return QRect(x, y, std::max(1, int(m_charWidth)), m_lineHeight);
}

qsizetype CodeTextView::positionAt(const QPoint& point) const
{
    const qint64 row = topRow() + std::floor(double(point.y() - m_margins.top()) / m_lineHeight);
    if (row < 0)
        return 0;
    if (row >= m_buffer.rowCount())
        return m_buffer.length();
    const double x = (point.x() - m_margins.left()) / m_charWidth + (m_wrap ? 0 : horizontalScrollBar()->value());
    return positionAtRowColumn(row, qint64(std::floor(x + 0.5)));
}

qsizetype CodeTextView::topVisiblePosition() const { return rowStartPosition(topRow()); }

CodeTextRange CodeTextView::visibleRange() const
{
    const int visibleRows = std::max(1, (viewport()->height() - m_margins.top()) / m_lineHeight + 1);
    const qsizetype from = topVisiblePosition();
    const qint64 last = std::min<qint64>(m_buffer.rowCount() - 1, topRow() + visibleRows - 1);
    return {from, rowEndPosition(last) - from};
}

void CodeTextView::scrollToPosition(qsizetype position)
{
    verticalScrollBar()->setValue(int(std::min<qint64>(INT_MAX, documentRowOf(position))));
}

void CodeTextView::ensureCaretVisible()
{
    const int visibleRows = std::max(1, (viewport()->height() - m_margins.top() - m_margins.bottom()) / m_lineHeight);
    const qint64 row = documentRowOf(m_caret);
    QScrollBar* v = verticalScrollBar();
    if (row < v->value())
        v->setValue(int(row));
    else if (row >= v->value() + visibleRows)
        v->setValue(int(row - visibleRows + 1));
    if (!m_wrap) {
        const qint64 col = m_buffer.columnOf(m_caret);
        const int cols = columnCount();
        QScrollBar* h = horizontalScrollBar();
        if (col > h->maximum() + cols)
            updateScrollBars();
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
    const int visibleRows = std::max(1, (viewport()->height() - m_margins.top() - m_margins.bottom()) / m_lineHeight);
    const qint64 first = documentRowOf(from);
    const qint64 last = documentRowOf(to);
    QScrollBar* v = verticalScrollBar();
    if (first < v->value() || last - first + 1 > visibleRows)
        v->setValue(int(first));
    else if (last >= v->value() + visibleRows)
        v->setValue(int(last - visibleRows + 1));
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
    m_buffer.setWrapColumns(m_wrap ? columnCount() : 0);
    horizontalScrollBar()->setValue(0);
    updateScrollBars();
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
    viewport()->update();
}

void CodeTextView::addHighlighter(const CodeTextHighlighter* highlighter)
{
    if (highlighter && !m_highlighters.contains(highlighter))
        m_highlighters.append(highlighter);
    viewport()->update();
}

void CodeTextView::removeHighlighter(const CodeTextHighlighter* highlighter)
{
    m_highlighters.removeAll(highlighter);
    viewport()->update();
}

void CodeTextView::refreshHighlighting() { viewport()->update(); }

// ---------------------------------------------------------------- characters and words

qsizetype CodeTextView::nextCharacter(qsizetype position) const
{
    const qsizetype n = m_buffer.length();
    if (position >= n)
        return n;
    // Grapheme clusters are short; a bounded window keeps this cheap in any line.
    const QString window = m_buffer.mid(position, 64);
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, window);
    finder.setPosition(0);
    const qsizetype next = finder.toNextBoundary();
    return position + (next > 0 ? next : 1);
}

qsizetype CodeTextView::previousCharacter(qsizetype position) const
{
    if (position <= 0)
        return 0;
    const qsizetype from = std::max<qsizetype>(0, position - 64);
    const QString window = m_buffer.mid(from, position - from);
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, window);
    finder.setPosition(window.size());
    const qsizetype prev = finder.toPreviousBoundary();
    return prev >= 0 && from + prev < position ? from + prev : position - 1;
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
    else // backspace removes one code point, so a combining mark can be taken off on its own
        other = m_caret >= 2 && m_buffer.at(m_caret - 1).isLowSurrogate() && m_buffer.at(m_caret - 2).isHighSurrogate()
            ? m_caret - 2 : std::max<qsizetype>(0, m_caret - 1);
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
    const qsizetype top = topVisiblePosition();
    const int cols = columnCount();
    if (m_wrap && cols != m_buffer.wrapColumns()) {
        m_buffer.setWrapColumns(cols);
        updateScrollBars();
        scrollToPosition(top);
    } else {
        updateScrollBars();
    }
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

void CodeTextView::scrollContentsBy(int, int) { viewport()->update(); }

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
        const int pageRows = std::max(1, (viewport()->height() - m_margins.top() - m_margins.bottom()) / m_lineHeight);
        qsizetype target = m_caret;
        switch (m.kind) {
        case 0: target = (!extend && hasSelection()) ? sel.end() : nextCharacter(m_caret); break;
        case 1: target = (!extend && hasSelection()) ? sel.location : previousCharacter(m_caret); break;
        case 2: target = wordBoundary(m_caret, true); break;
        case 3: target = wordBoundary(m_caret, false); break;
        case 4: case 5: case 10: case 11: {
            if (m_desiredColumn < 0)
                m_desiredColumn = visualColumn(m_caret);
            const qint64 step = m.kind == 4 ? 1 : m.kind == 5 ? -1 : m.kind == 10 ? pageRows : -pageRows;
            const qint64 row = documentRowOf(m_caret) + step;
            if (row < 0)
                target = 0;
            else if (row >= m_buffer.rowCount())
                target = m_buffer.length();
            else
                target = positionAtRowColumn(row, m_desiredColumn);
            if (m.kind >= 10) {
                QScrollBar* v = verticalScrollBar();
                v->setValue(int(v->value() + step));
            }
            moveCaret(target, extend, true);
            e->accept();
            return;
        }
        case 6: target = rowStartPosition(documentRowOf(m_caret)); break;
        case 7: target = rowEndPosition(documentRowOf(m_caret)); break;
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
    m_preedit = e->preeditString();
    viewport()->update();
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
    QPainter painter(viewport());
    const QPalette& pal = palette();
    painter.fillRect(event->rect(), pal.color(QPalette::Base));
    painter.setFont(font());
    if (m_buffer.isEmpty() && !m_placeholder.isEmpty() && m_preedit.isEmpty()) {
        painter.setPen(Palette::placeholder().resolved(pal));
        const QRect area = viewport()->rect().adjusted(m_margins.left(), m_margins.top(), -m_margins.right(), 0);
        painter.drawText(area, Qt::TextWordWrap | Qt::AlignLeft | Qt::AlignTop, m_placeholder);
    }
    const qint64 top = topRow();
    const qint64 rows = m_buffer.rowCount();
    const int firstVisible = std::max(0, (event->rect().top() - m_margins.top()) / m_lineHeight);
    const int lastVisible = (event->rect().bottom() - m_margins.top()) / m_lineHeight;
    QList<CodeTextRun> runs;
    std::vector<GlyphBatch> batches;
    for (int r = firstVisible; r <= lastVisible && top + r < rows; ++r) {
        runs.clear();
        paintRow(painter, top + r, m_margins.top() + r * m_lineHeight, runs, batches);
    }
    drawBatches(painter, batches);
    // Caret, input-method text and drop position.
    if (!m_preedit.isEmpty()) {
        const QRect at = positionRect(m_caret);
        QFont f = font();
        f.setUnderline(true);
        painter.setFont(f);
        const int w = int(std::ceil(QFontMetricsF(f).horizontalAdvance(m_preedit)));
        painter.fillRect(QRect(at.left(), at.top(), w, at.height()), pal.color(QPalette::Base));
        painter.setPen(pal.color(QPalette::Text));
        painter.drawText(QPointF(at.left(), at.top() + m_ascent), m_preedit);
        painter.setFont(font());
    } else if (m_focused && !m_readOnly && m_caretVisible && !hasSelection()) {
        const QRect at = positionRect(m_caret);
        painter.fillRect(QRect(at.left(), at.top(), 2, at.height()), pal.color(QPalette::Text));
    }
    if (m_dropCaret >= 0) {
        const QRect at = positionRect(m_dropCaret);
        painter.fillRect(QRect(at.left(), at.top(), 2, at.height()), pal.color(QPalette::Highlight));
    }
}

void CodeTextView::drawBatches(QPainter& painter, std::vector<GlyphBatch>& batches)
{
    for (GlyphBatch& batch : batches) {
        if (batch.glyphs.isEmpty())
            continue;
        QGlyphRun run;
        run.setRawFont(m_rawFonts[batch.bold ? 1 : 0]);
        run.setGlyphIndexes(batch.glyphs);
        run.setPositions(batch.positions);
        painter.setPen(QColor::fromRgba(batch.colour));
        painter.drawGlyphRun(QPointF(0, 0), run);
    }
    batches.clear();
}

void CodeTextView::paintRow(QPainter& painter, qint64 documentRow, int y, const QList<CodeTextRun>& runsIn,
    std::vector<GlyphBatch>& batches)
{
    const RowRef ref = rowAt(documentRow);
    qsizetype from = rowStartPosition(documentRow);
    qsizetype to = rowEndPosition(documentRow);
    const int visibleCols = columnCount() + 2;
    qint64 firstCol = 0; // line column at which the painted slice starts
    qint64 originCol = 0; // line column drawn at the left text margin
    if (m_wrap) {
        originCol = ref.rowInLine * m_buffer.wrapColumns();
        firstCol = m_buffer.columnOf(from);
    } else {
        originCol = horizontalScrollBar()->value();
        if (originCol > 0) {
            from = m_buffer.positionAtColumn(ref.line, originCol);
            if (from > m_buffer.lineStart(ref.line))
                from = previousCharacter(from);
        }
        firstCol = m_buffer.columnOf(from);
        to = std::min(to, m_buffer.positionAtColumn(ref.line, originCol + visibleCols));
    }
    const qsizetype lineEnd = m_buffer.lineEnd(ref.line);
    const QString slice = m_buffer.mid(from, to - from);
    const qsizetype n = slice.size();

    // Attributes per unit of the slice: highlighter runs in order, then selection and indicator.
    const QPalette& pal = palette();
    const QColor text = pal.color(QPalette::Text);
    QList<CodeTextRun> runs = runsIn;
    for (const CodeTextHighlighter* h : m_highlighters)
        h->runs(m_buffer, from, to, runs);
    std::vector<QRgb> fg(size_t(n), text.rgba()), bg(size_t(n), 0);
    std::vector<char> bold(size_t(n), 0);
    auto apply = [&](qsizetype a, qsizetype b, const QColor& f, const QColor& g, bool isBold) {
        a = std::max(a, from) - from;
        b = std::min(b, to) - from;
        for (qsizetype i = a; i < b; ++i) {
            if (f.isValid())
                fg[size_t(i)] = f.rgba();
            if (g.isValid())
                bg[size_t(i)] = g.rgba();
            if (isBold)
                bold[size_t(i)] = 1;
        }
    };
    for (const CodeTextRun& run : runs)
        if (run.to > from && run.from < to)
            apply(run.from, run.to, run.foreground, run.background, run.bold);
    const CodeTextRange sel = selection();
    if (sel.length > 0) {
        const QColor hl = pal.color(hasFocus() ? QPalette::Active : QPalette::Inactive, QPalette::Highlight);
        const QColor ht = pal.color(hasFocus() ? QPalette::Active : QPalette::Inactive, QPalette::HighlightedText);
        apply(sel.location, sel.end(), ht, hl, false);
    }
    if (m_indicator.location >= 0)
        apply(m_indicator.location, m_indicator.end(), QColor(Qt::black), QColor(255, 214, 10), false);

    // Selected line breaks show as one column of selection after the row.
    const int baseline = y + m_ascent;
    const qreal left = m_margins.left();
    auto xOf = [&](qint64 col) { return left + (col - originCol) * m_charWidth; };
    QFont boldFont = font();
    boldFont.setBold(true);
    const char16_t* p = reinterpret_cast<const char16_t*>(slice.utf16());
    qint64 col = firstCol;
    qsizetype i = 0;
    // Backgrounds first, so a glyph's overhang is never cut by its neighbour's background.
    struct Cell {
        qsizetype index;
        qsizetype width;
        qint64 col;
        qint64 next;
    };
    std::vector<Cell> cells;
    cells.reserve(size_t(n));
    while (i < n) {
        const char16_t c = p[i];
        qsizetype w = 1;
        qint64 next;
        if (c >= 0x20 && c < 0x7F)
            next = col + 1;
        else if (c == u'\t')
            next = (col / CodeTextBuffer::tabWidth + 1) * CodeTextBuffer::tabWidth;
        else if (QChar::isHighSurrogate(c) && i + 1 < n && QChar::isLowSurrogate(p[i + 1])) {
            next = col + CodeTextBuffer::codePointColumns(QChar::surrogateToUcs4(c, p[i + 1]));
            w = 2;
        } else
            next = col + (QChar::isSurrogate(c) ? 1 : CodeTextBuffer::codePointColumns(c));
        cells.push_back({i, w, col, next});
        col = next;
        i += w;
    }
    for (const Cell& cell : cells) {
        const QRgb b = bg[size_t(cell.index)];
        if (qAlpha(b) == 0)
            continue;
        const qint64 end = std::max(cell.next, cell.col + (cell.next == cell.col ? 0 : 1));
        const qreal x0 = xOf(cell.col), x1 = xOf(end);
        painter.fillRect(QRectF(x0, y, x1 - x0, m_lineHeight), QColor::fromRgba(b));
    }
    if (sel.length > 0 && to == lineEnd && lineEnd < m_buffer.length() && sel.location <= lineEnd && sel.end() > lineEnd)
        painter.fillRect(QRectF(xOf(col), y, m_charWidth, m_lineHeight),
            pal.color(hasFocus() ? QPalette::Active : QPalette::Inactive, QPalette::Highlight));
    // Glyphs: runs of plain ASCII with one style go out in one call, anything else cell by cell
    // at its own column, so every character sits on the grid the caret uses.
    size_t k = 0;
    QString run;
    GlyphBatch* batch = nullptr;
    auto batchFor = [&](QRgb colour, bool isBold) -> GlyphBatch& {
        if (batch && batch->colour == colour && batch->bold == isBold)
            return *batch;
        auto it = std::find_if(batches.begin(), batches.end(),
            [&](const GlyphBatch& b) { return b.colour == colour && b.bold == isBold; });
        if (it == batches.end()) {
            batches.push_back({colour, isBold, {}, {}});
            it = batches.end() - 1;
        }
        batch = &*it;
        return *batch;
    };
    while (k < cells.size()) {
        const Cell& cell = cells[k];
        const char16_t c = p[cell.index];
        const QRgb f = fg[size_t(cell.index)];
        const bool isBold = bold[size_t(cell.index)];
        // Printable ASCII with nothing combining after it: a glyph of the frame's batch, placed
        // on its grid column.
        if (c > 0x20 && c < 0x7F && m_rawFonts[isBold ? 1 : 0].isValid()) {
            const bool markAfter = k + 1 < cells.size() && cells[k + 1].col == cells[k + 1].next
                && p[cells[k + 1].index] != u'\t' && !QChar::isSurrogate(p[cells[k + 1].index]);
            if (!markAfter) {
                GlyphBatch& b = batchFor(f, isBold);
                b.glyphs.append(m_asciiGlyphs[isBold ? 1 : 0][c - 0x21]);
                b.positions.append(QPointF(xOf(cell.col), baseline));
                ++k;
                continue;
            }
        }
        painter.setPen(QColor::fromRgba(f));
        painter.setFont(isBold ? boldFont : font());
        if (c > 0x20 && c < 0x7F) {
            size_t e = k + 1;
            while (e < cells.size()) {
                const char16_t d = p[cells[e].index];
                const bool mark = cells[e].col == cells[e].next && d != u'\t' && !QChar::isSurrogate(d);
                if (!mark && (!(d > 0x20 && d < 0x7F) || fg[size_t(cells[e].index)] != f || bold[size_t(cells[e].index)] != isBold))
                    break;
                ++e;
            }
            run.setUnicode(reinterpret_cast<const QChar*>(p + cell.index), cells[e - 1].index + cells[e - 1].width - cell.index);
            painter.drawText(QPointF(xOf(cell.col), baseline), run);
            k = e;
            continue;
        }
        if (c != u' ' && c != u'\t') {
            QString glyph;
            if (QChar::isSurrogate(c) && cell.width == 1)
                glyph = QString(QChar(QChar::ReplacementCharacter));
            else if (c < 0x20 || c == 0x7F)
                glyph = QString(QChar(0x2400 + (c == 0x7F ? 0x21 : c))); // control pictures
            else
                glyph = slice.mid(cell.index, cell.width);
            // Zero-width marks after the character are drawn with it.
            size_t e = k + 1;
            while (e < cells.size() && cells[e].col == cells[e].next && QChar::isSurrogate(p[cells[e].index]) == false) {
                glyph += slice.mid(cells[e].index, cells[e].width);
                ++e;
            }
            // The glyph gets exactly its cells: one wider (a fallback font's emoji or symbol) is
            // narrowed, a narrower two-cell one centred, so it never runs into its neighbours.
            const qreal cells = qreal(std::max<qint64>(1, cell.next - cell.col)) * m_charWidth;
            const qreal advance = glyph.at(0).unicode() < 0x250
                ? m_charWidth : QFontMetricsF(painter.font()).horizontalAdvance(glyph);
            if (advance > cells + 0.5) {
                painter.save();
                painter.translate(xOf(cell.col), baseline);
                painter.scale(cells / advance, 1);
                painter.drawText(QPointF(0, 0), glyph);
                painter.restore();
            } else {
                const qreal inset = cell.next - cell.col > 1 ? (cells - advance) / 2 : 0;
                painter.drawText(QPointF(xOf(cell.col) + inset, baseline), glyph);
            }
            k = e;
            continue;
        }
        ++k;
    }
    painter.setFont(font());
    if (m_indicator.location >= 0 && m_indicator.location < to && m_indicator.end() > from) {
        const qint64 c0 = m_buffer.columnOf(std::max(m_indicator.location, from));
        const qint64 c1 = m_buffer.columnOf(std::min(m_indicator.end(), to));
        painter.setPen(QPen(QColor(200, 160, 0), 1));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(QRectF(xOf(c0) - 1, y + 0.5, (c1 - c0) * m_charWidth + 2, m_lineHeight - 1), 3, 3);
    }
}
