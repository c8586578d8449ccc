#include "tools/markdown/ui/MarkdownTextEditor.h"
#include "kit/TextHelpers.h"

#include "tools/markdown/MarkdownSyntaxPatterns.h"
#include "tools/markdown/MarkdownToolViewModel.h"
#include "tools/markdown/ui/MarkdownSyntaxHighlighter.h"

#include <QAbstractTextDocumentLayout>
#include <QFontDatabase>
#include <QMimeData>
#include <QScrollBar>
#include <QTextBlock>
#include <QTimer>

#include <algorithm>
#include <cmath>

namespace {

// Far jumps are measured from line numbers instead of walking block by block.
constexpr int maxWalk = 4000;

} // namespace

MarkdownTextEditor::MarkdownTextEditor(ScrollSyncController* sync, QWidget* parent)
    : TextDropTextView(parent), m_sync(sync)
{
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPixelSize(13);
    font.setWeight(QFont::Medium);
    setFont(font);
    document()->setDefaultFont(font);
    document()->setDocumentMargin(10);
    setFrameShape(QFrame::NoFrame);
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
    setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    setTabChangesFocus(false);
    setUndoRedoEnabled(true);
    setAcceptDrops(true);

    m_highlighter = new MarkdownSyntaxHighlighter(font, document());
    updateAppearance();

    connect(this, &QPlainTextEdit::textChanged, this, &MarkdownTextEditor::onTextChanged);
    connect(this, &QPlainTextEdit::cursorPositionChanged, this, &MarkdownTextEditor::onCursorMoved);
    connect(verticalScrollBar(), &QScrollBar::valueChanged, this, &MarkdownTextEditor::onScrollValueChanged);

    if (m_sync) {
        QPointer<MarkdownTextEditor> self(this);
        m_sync->applyToEditor = [self](const ScrollSyncController::Level& level) {
            if (self)
                self->apply(level);
        };
        m_sync->editorToStart = [self] {
            if (self)
                self->goToStart();
        };
    }

    // Once the platform has laid out and shown the editor, align it with the preview.
    QTimer::singleShot(0, this, [this] {
        if (m_sync)
            m_sync->alignEditor();
        m_isSettled = true;
        rememberPosition();
    });
}

MarkdownTextEditor::~MarkdownTextEditor() = default;

QString MarkdownTextEditor::text() const
{
    QString raw = document()->toRawText();
    raw.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
    return MarkdownSyntaxPatterns::matchable(raw);
}

void MarkdownTextEditor::setText(const QString& text)
{
    if (text.size() == m_lastText.size() && text == m_lastText)
        return;
    const bool wasMoving = m_isMovingItself;
    m_isMovingItself = true;
    // setPlainText also empties the undo stack, so undo cannot return to the replaced text.
    setPlainText(TextHelpers::normalizedLineBreaks(text));
    m_lastText = text;
    goToStart();
    m_isMovingItself = wasMoving;
    rememberPosition();
}

void MarkdownTextEditor::onTextChanged()
{
    if (m_isMovingItself)
        return;
    // Restyling can report a change of the document without a change of its text.
    QString current = text();
    if (current.size() == m_lastText.size() && current == m_lastText)
        return;
    // Stored first, so the model's echo of the same text finds no difference.
    m_lastText = std::move(current);
    emit textEdited(m_lastText);
}

void MarkdownTextEditor::changeEvent(QEvent* event)
{
    TextDropTextView::changeEvent(event);
    if (event->type() == QEvent::PaletteChange)
        updateAppearance();
}

void MarkdownTextEditor::updateAppearance()
{
    if (m_highlighter)
        m_highlighter->setDark(palette().color(QPalette::Window).value() < 128);
}

// ---- geometry ----

double MarkdownTextEditor::lineHeight() const
{
    const QTextLayout* layout = document()->firstBlock().layout();
    if (layout && layout->lineCount() > 0 && layout->lineAt(0).height() > 0)
        return layout->lineAt(0).height();
    return std::max(1.0, QFontMetricsF(font()).height());
}

std::optional<double> MarkdownTextEditor::editorTop() const
{
    const QWidget* top = window();
    if (!top)
        return std::nullopt;
    return double(viewport()->mapTo(top, QPoint(0, 0)).y());
}

double MarkdownTextEditor::scrollY() const
{
    return verticalScrollBar()->value() * lineHeight();
}

double MarkdownTextEditor::viewportHeight() const
{
    return viewport()->height();
}

double MarkdownTextEditor::contentHeight() const
{
    // Consistent with scrollY(): scrolled to the end, scrollY() equals content − viewport.
    return viewportHeight() + verticalScrollBar()->maximum() * lineHeight();
}

std::optional<double> MarkdownTextEditor::blockTopInViewport(const QTextBlock& target) const
{
    QTextBlock block = firstVisibleBlock();
    if (!block.isValid() || !target.isValid())
        return std::nullopt;
    double top = blockBoundingGeometry(block).translated(contentOffset()).top();
    const int distance = target.blockNumber() - block.blockNumber();
    if (std::abs(distance) > maxWalk)
        return std::nullopt;
    while (block.blockNumber() > target.blockNumber()) {
        block = block.previous();
        top -= blockBoundingRect(block).height();
    }
    while (block.blockNumber() < target.blockNumber()) {
        top += blockBoundingRect(block).height();
        block = block.next();
    }
    return top;
}

double MarkdownTextEditor::lineAtWindowY(double windowY) const
{
    const std::optional<double> top = editorTop();
    if (!top)
        return 0;
    const double y = windowY - *top;
    QTextBlock block = firstVisibleBlock();
    if (!block.isValid())
        return 0;
    double blockTop = blockBoundingGeometry(block).translated(contentOffset()).top();
    int steps = 0;
    while (y < blockTop && block.previous().isValid() && steps++ < maxWalk) {
        block = block.previous();
        blockTop -= blockBoundingRect(block).height();
    }
    if (y < blockTop)
        return block.blockNumber();
    steps = 0;
    while (block.isValid() && steps++ < maxWalk) {
        const double height = blockBoundingRect(block).height();
        if (y < blockTop + height) {
            const double f = height > 0 ? (y - blockTop) / height : 0;
            return block.blockNumber() + (f <= 0 ? 0.0 : std::min(f, 0.999));
        }
        blockTop += height;
        block = block.next();
    }
    if (!block.isValid())
        return document()->blockCount();
    return block.blockNumber();
}

std::optional<double> MarkdownTextEditor::yOfLine(double line) const
{
    if (!std::isfinite(line))
        return std::nullopt;
    const int count = document()->blockCount();
    const double clamped = std::clamp(line, 0.0, double(count));
    const int index = int(std::floor(clamped));
    const double lh = lineHeight();
    const double margin = document()->documentMargin();
    if (index >= count) {
        const QTextBlock last = document()->lastBlock();
        return margin + (last.firstLineNumber() + std::max(1, last.lineCount())) * lh;
    }
    const QTextBlock block = document()->findBlockByNumber(index);
    // Measuring lays out this one block, never the document.
    const double height = blockBoundingRect(block).height();
    const int lines = std::max(1, block.lineCount());
    const double blockHeight = height > 0 ? std::min(height, lines * lh) : lines * lh;
    return margin + block.firstLineNumber() * lh + (clamped - index) * blockHeight;
}

std::optional<ScrollSyncController::Level> MarkdownTextEditor::caretLevel() const
{
    const std::optional<double> top = editorTop();
    if (!top)
        return std::nullopt;
    const QRect rect = cursorRect();
    if (rect.height() <= 0)
        return std::nullopt;
    const double h = *top + rect.top() + 1;
    const double line = lineAtWindowY(h);
    const int caretLine = textCursor().blockNumber();
    const int count = document()->blockCount();
    const QScrollBar* bar = verticalScrollBar();
    if (caretLine >= count - 1 && bar->value() >= bar->maximum())
        return ScrollSyncController::Level{double(count), *top + viewportHeight()};
    return ScrollSyncController::Level{line, h};
}

void MarkdownTextEditor::apply(const ScrollSyncController::Level& level)
{
    const std::optional<double> top = editorTop();
    if (!top)
        return;
    const double offset = std::min(level.windowY - *top, viewportHeight());
    const double lh = lineHeight();
    QScrollBar* bar = verticalScrollBar();
    for (int pass = 0; pass < 3; ++pass) {
        const std::optional<double> y = yOfLine(level.line);
        if (!y)
            break;
        const double margin = document()->documentMargin();
        const double target = std::clamp(*y - margin - offset, 0.0, std::max(0.0, bar->maximum() * lh));
        const int value = int(std::lround(target / lh));
        if (value == bar->value())
            break;
        const bool wasMoving = m_isMovingItself;
        m_isMovingItself = true;
        bar->setValue(value);
        m_isMovingItself = wasMoving;
        m_lastValue = bar->value();
    }
    rememberPosition();
}

void MarkdownTextEditor::goToStart()
{
    const bool wasMoving = m_isMovingItself;
    m_isMovingItself = true;
    QTextCursor cursor(document());
    cursor.movePosition(QTextCursor::Start);
    setTextCursor(cursor);
    verticalScrollBar()->setValue(0);
    horizontalScrollBar()->setValue(0);
    m_isMovingItself = wasMoving;
    rememberPosition();
}

// ---- reports ----

MarkdownTextEditor::TopText MarkdownTextEditor::topText() const
{
    const QTextBlock block = firstVisibleBlock();
    if (!block.isValid())
        return {};
    return {block.blockNumber(), blockBoundingGeometry(block).translated(contentOffset()).top()};
}

void MarkdownTextEditor::rememberPosition()
{
    m_lastValue = verticalScrollBar()->value();
    m_lastTopText = topText();
}

void MarkdownTextEditor::onScrollValueChanged(int value)
{
    const double delta = (value - m_lastValue) * lineHeight();
    const TopText taken = m_lastTopText;
    const TopText now = topText();
    rememberPosition();
    if (m_isMovingItself || m_caretReportPending || m_resizeReportPending || delta == 0)
        return;
    // The text at the top kept its place: the scroll only followed a layout change.
    if (now.block == taken.block && 2 * std::abs(now.offset - taken.offset) < std::abs(delta))
        return;
    reportScroll(delta);
}

void MarkdownTextEditor::onCursorMoved()
{
    if (!m_isSettled || m_isMovingItself || m_caretReportPending)
        return;
    m_caretReportPending = true;
    const TopText taken = m_lastTopText;
    const int takenValue = m_lastValue;
    QPointer<MarkdownTextEditor> self(this);
    QMetaObject::invokeMethod(
        this, [self, taken, takenValue] {
            if (self)
                self->caretReport(taken, takenValue);
        },
        Qt::QueuedConnection);
}

void MarkdownTextEditor::caretReport(TopText taken, int takenValue)
{
    m_caretReportPending = false;
    const TopText now = topText();
    rememberPosition();
    if (!m_sync)
        return;
    if (const auto level = caretLevel()) {
        m_sync->followCaret(*level, true);
        return;
    }
    const double delta = (verticalScrollBar()->value() - takenValue) * lineHeight();
    if (delta == 0)
        return;
    if (now.block == taken.block && 2 * std::abs(now.offset - taken.offset) < std::abs(delta))
        return;
    reportScroll(delta);
}

void MarkdownTextEditor::resizeEvent(QResizeEvent* event)
{
    TextDropTextView::resizeEvent(event);
    if (m_resizeReportPending)
        return;
    m_resizeReportPending = true;
    QPointer<MarkdownTextEditor> self(this);
    QMetaObject::invokeMethod(
        this, [self] {
            if (self)
                self->resizeReport();
        },
        Qt::QueuedConnection);
}

void MarkdownTextEditor::resizeReport()
{
    m_resizeReportPending = false;
    if (!m_isSettled || !m_sync)
        return;
    m_sync->reapplyToEditor();
    if (m_sync->mode == ScrollSyncController::Mode::caret) {
        if (const auto level = caretLevel())
            m_sync->followCaret(*level, false);
    }
}

void MarkdownTextEditor::reportScroll(double delta)
{
    const std::optional<double> top = editorTop();
    if (!top || !m_sync)
        return;
    const double target =
        ScrollSyncController::naturalReadingHeight(*top, viewportHeight(), contentHeight(), scrollY());
    m_sync->step(ScrollSyncController::Pane::editor, delta, target,
                 [this](double windowY) { return lineAtWindowY(windowY); });
}
