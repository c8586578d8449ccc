#include "tools/markdown/ui/MarkdownTextEditor.h"

#include "kit/DynamicColor.h"
#include "kit/QuietTask.h"
#include "kit/TextHelpers.h"
#include "kit/TextUnits.h"
#include "kit/ui/CodeTextLayout.h"
#include "tools/markdown/ui/MarkdownSyntaxHighlighter.h"
#include "kit/ui/FontScale.h"

#include <QScrollBar>
#include <QTimer>

#include <algorithm>
#include <utility>
#include <cmath>

namespace {

// Long lines are styled again once typing pauses this long.
constexpr int styleQuietMs = 120;

// Whether the text holds any surrogate at all: a branch-free pass the compiler vectorises, so a
// text of many megabytes without one is not walked unit by unit.
bool hasSurrogate(const QString& text)
{
    const char16_t* units = reinterpret_cast<const char16_t*>(text.constData());
    const qsizetype n = text.size();
    constexpr qsizetype step = 4096;
    for (qsizetype from = 0; from < n; from += step) {
        const qsizetype to = std::min(n, from + step);
        unsigned found = 0;
        for (qsizetype i = from; i < to; ++i)
            found |= unsigned((units[i] & 0xF800) == 0xD800);
        if (found)
            return true;
    }
    return false;
}

struct StyledLines {
    QList<MarkdownSyntaxHighlighter::Pending> lines;
    QList<QByteArray> styles;
};

} // namespace

MarkdownTextEditor::MarkdownTextEditor(ScrollSyncController* sync, QWidget* parent)
    : CodeTextView(parent), m_sync(sync), m_highlighter(std::make_unique<MarkdownSyntaxHighlighter>()),
      m_styleTask(new QuietTask(styleQuietMs, this))
{
    FontScale::apply(this, CodeTextView::defaultFont());
    setTextMargins(QMargins(8, 12, 8, 12));
    setFrameShape(QFrame::NoFrame);
    setWrapEnabled(true);
    addHighlighter(m_highlighter.get());
    updateAppearance();

    connect(this, &CodeTextView::textChanged, this, &MarkdownTextEditor::onTextChanged);
    connect(this, &CodeTextView::selectionChanged, this, [this](bool) { onCursorMoved(); });
    connect(verticalScrollBar(), &QScrollBar::valueChanged, this, &MarkdownTextEditor::onScrollValueChanged);
    connect(verticalScrollBar(), &QScrollBar::valueChanged, this, [this] { colourVisibleArea(); });

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

    // Once the editor is laid out and shown, align it with the preview.
    QTimer::singleShot(0, this, [this] {
        if (m_sync)
            m_sync->alignEditor();
        m_isSettled = true;
        rememberPosition();
    });
}

MarkdownTextEditor::~MarkdownTextEditor()
{
    // The highlighter goes before the view that holds it.
    setHighlighters({});
}

void MarkdownTextEditor::setText(const QString& text)
{
    const bool wasMoving = m_isMovingItself;
    m_isMovingItself = true;
    m_programEdit = true;
    m_highlighter->clear();
    // A program edit: nothing to undo afterwards.
    CodeTextView::setText(hasSurrogate(text) ? TextHelpers::repairedUTF16(text) : text);
    m_programEdit = false;
    goToStart();
    m_isMovingItself = wasMoving;
    colourVisibleArea();
    rememberPosition();
}

void MarkdownTextEditor::onTextChanged(qsizetype location, qsizetype length, qsizetype changeInLength)
{
    if (!m_programEdit) {
        m_highlighter->applyEdit(buffer(), location, length, changeInLength);
        styleLongLines(false);
        colourVisibleArea();
    }
}

bool MarkdownTextEditor::isStylingPending() const
{
    return m_highlighter->hasPending();
}

void MarkdownTextEditor::colourVisibleArea()
{
    if (length() == 0)
        return;
    const TextRange visible = visibleRange();
    // A screen above and below, so a short scroll finds its lines styled.
    const qsizetype span = std::max<qsizetype>(visible.length, 1);
    const qsizetype from = std::max<qsizetype>(0, visible.location - span);
    const qsizetype to = std::min(length(), visible.end() + span);
    m_highlighter->forgetOutside(from, to);
    if (m_highlighter->styleLines(buffer(), from, to)) {
        refreshHighlighting();
        styleLongLines(true);
    }
}

void MarkdownTextEditor::styleLongLines(bool soon)
{
    if (!m_highlighter->hasPending())
        return;
    const QList<MarkdownSyntaxHighlighter::Pending> lines = m_highlighter->pending();
    auto work = [lines](const std::atomic_bool& cancelled) {
        StyledLines out;
        out.lines = lines;
        for (const auto& line : lines) {
            if (cancelled)
                break;
            out.styles.append(MarkdownSyntaxHighlighter::packedStyles(line.text, &cancelled));
        }
        return out;
    };
    auto apply = [this](StyledLines styled) {
        bool changed = false;
        for (qsizetype i = 0; i < styled.styles.size(); ++i)
            changed |= m_highlighter->takeStyled(styled.lines[i], styled.styles[i]);
        if (changed)
            refreshHighlighting();
        // Lines that became pending while this ran.
        if (m_highlighter->hasPending())
            styleLongLines(true);
    };
    if (soon)
        m_styleTask->runNow<StyledLines>(work, apply);
    else
        m_styleTask->schedule<StyledLines>(work, apply);
}

void MarkdownTextEditor::changeEvent(QEvent* event)
{
    CodeTextView::changeEvent(event);
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::ApplicationPaletteChange)
        updateAppearance();
}

void MarkdownTextEditor::updateAppearance()
{
    m_highlighter->setDark(DynamicColor::isDark(palette()));
    refreshHighlighting();
}

void MarkdownTextEditor::showEvent(QShowEvent* event)
{
    CodeTextView::showEvent(event);
    colourVisibleArea();
}

// ---- geometry ----

std::optional<double> MarkdownTextEditor::editorTop() const
{
    const QWidget* top = window();
    if (!top)
        return std::nullopt;
    return double(viewport()->mapTo(top, QPoint(0, 0)).y());
}

double MarkdownTextEditor::scrollY() const
{
    return double(verticalScrollBar()->value()) * lineHeight();
}

double MarkdownTextEditor::viewportHeight() const
{
    return viewport()->height();
}

double MarkdownTextEditor::contentHeight() const
{
    // Consistent with scrollY(): scrolled to the end, scrollY() equals content − viewport.
    return viewportHeight() + double(verticalScrollBar()->maximum()) * lineHeight();
}

double MarkdownTextEditor::lineAtWindowY(double windowY) const
{
    const std::optional<double> top = editorTop();
    if (!top)
        return 0;
    const double lh = lineHeight();
    // Content height below the top margin, where row 0 starts.
    const double y = windowY - *top + scrollY() - textMargins().top();
    if (y <= 0)
        return 0;
    const qint64 row = qint64(std::floor(y / lh));
    if (row >= rowCount())
        return double(buffer().lineCount());
    const qsizetype line = lineAtRow(row);
    const double lineTop = double(firstRowOfLine(line)) * lh;
    const double height = double(rowsOfLine(line)) * lh;
    const double f = height > 0 ? (y - lineTop) / height : 0;
    return double(line) + (f <= 0 ? 0.0 : std::min(f, 0.999));
}

std::optional<double> MarkdownTextEditor::yOfLine(double line) const
{
    if (!std::isfinite(line))
        return std::nullopt;
    const qsizetype count = buffer().lineCount();
    const double clamped = std::clamp(line, 0.0, double(count));
    const qsizetype index = qsizetype(std::floor(clamped));
    const double lh = lineHeight();
    const double margin = textMargins().top();
    if (index >= count)
        return margin + double(rowCount()) * lh;
    return margin + (double(firstRowOfLine(index)) + (clamped - double(index)) * double(rowsOfLine(index))) * lh;
}

std::optional<ScrollSyncController::Level> MarkdownTextEditor::caretLevel() const
{
    const std::optional<double> top = editorTop();
    if (!top)
        return std::nullopt;
    const QRect rect = positionRect(caretPosition());
    if (rect.height() <= 0)
        return std::nullopt;
    const double h = *top + rect.top() + 1;
    const double line = lineAtWindowY(h);
    const qsizetype caretLine = buffer().lineAt(caretPosition());
    const qsizetype count = buffer().lineCount();
    const QScrollBar* bar = verticalScrollBar();
    if (caretLine >= count - 1 && bar->value() >= bar->maximum())
        return ScrollSyncController::Level{double(count), *top + viewportHeight()};
    return ScrollSyncController::Level{line, h};
}

void MarkdownTextEditor::apply(const ScrollSyncController::Level& level)
{
    const std::optional<double> top = editorTop();
    if (!top || !std::isfinite(level.line))
        return;
    const double offset = std::min(level.windowY - *top, viewportHeight());
    const double lh = lineHeight();
    const qsizetype count = buffer().lineCount();
    const double clamped = std::clamp(level.line, 0.0, double(count));
    const qsizetype index = std::min(count - 1, qsizetype(std::floor(clamped)));
    // The line is laid out, and the view placed from it: rows between are counted exactly.
    const double rows = double(textLayout().exactRowsOfLine(index));
    const double within = std::min(clamped - double(index), 1.0) * rows * lh;
    const double below = (offset - textMargins().top() - within) / lh;
    const bool wasMoving = m_isMovingItself;
    m_isMovingItself = true;
    scrollLineToRow(index, qint64(std::lround(below)));
    m_isMovingItself = wasMoving;
    rememberPosition();
}

void MarkdownTextEditor::goToStart()
{
    const bool wasMoving = m_isMovingItself;
    m_isMovingItself = true;
    setSelection(0, 0);
    verticalScrollBar()->setValue(0);
    horizontalScrollBar()->setValue(0);
    m_isMovingItself = wasMoving;
    rememberPosition();
}

// ---- reports ----

void MarkdownTextEditor::rememberPosition()
{
    m_lastValue = verticalScrollBar()->value();
    m_lastTop = topVisiblePosition();
}

void MarkdownTextEditor::onScrollValueChanged(int value)
{
    const double delta = double(value - m_lastValue) * lineHeight();
    const qsizetype taken = m_lastTop;
    rememberPosition();
    if (m_isMovingItself || m_caretReportPending || m_resizeReportPending || delta == 0)
        return;
    // The text at the top kept its place: the scroll only followed a change of the wrap width.
    if (topVisiblePosition() == taken)
        return;
    reportScroll(delta);
}

void MarkdownTextEditor::onCursorMoved()
{
    if (!m_isSettled || m_isMovingItself || m_programEdit || m_caretReportPending)
        return;
    m_caretReportPending = true;
    const qsizetype taken = m_lastTop;
    const int takenValue = m_lastValue;
    QPointer<MarkdownTextEditor> self(this);
    QMetaObject::invokeMethod(
        this, [self, taken, takenValue] {
            if (self)
                self->caretReport(taken, takenValue);
        },
        Qt::QueuedConnection);
}

void MarkdownTextEditor::caretReport(qsizetype takenTop, int takenValue)
{
    m_caretReportPending = false;
    rememberPosition();
    if (!m_sync)
        return;
    if (const auto level = caretLevel()) {
        m_sync->followCaret(*level, true);
        return;
    }
    const double delta = double(verticalScrollBar()->value() - takenValue) * lineHeight();
    if (delta == 0 || topVisiblePosition() == takenTop)
        return;
    reportScroll(delta);
}

void MarkdownTextEditor::resizeEvent(QResizeEvent* event)
{
    CodeTextView::resizeEvent(event);
    colourVisibleArea();
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
