#include "kit/ui/CodeEditor.h"

#include "kit/DynamicColor.h"
#include "kit/TextHelpers.h"
#include "kit/ui/CodeTextView.h"
#include "kit/ui/CodeEditorColouring.h"
#include "kit/ui/CodeTextMatchHighlighter.h"
#include "kit/ui/FontScale.h"

#include <QEvent>
#include <QScrollBar>
#include <QVBoxLayout>

#include <algorithm>

#include <cmath>
#include <cstring>
#include <utility>
#include <vector>

namespace {

// How many units two views of equal length share from their start.
qsizetype samePrefix(QStringView a, QStringView b)
{
    const char16_t* x = a.utf16();
    const char16_t* y = b.utf16();
    const qsizetype n = a.size();
    constexpr qsizetype chunk = 4096;
    for (qsizetype p = 0; p < n; p += chunk) {
        const qsizetype len = std::min(chunk, n - p);
        if (std::memcmp(x + p, y + p, size_t(len) * 2) != 0) {
            while (x[p] == y[p])
                ++p;
            return p;
        }
    }
    return n;
}

// How many units two views of equal length share at their end.
qsizetype sameSuffix(QStringView a, QStringView b)
{
    const char16_t* x = a.utf16();
    const char16_t* y = b.utf16();
    const qsizetype n = a.size();
    constexpr qsizetype chunk = 4096;
    for (qsizetype s = 0; s < n; s += chunk) {
        const qsizetype len = std::min(chunk, n - s);
        if (std::memcmp(x + n - s - len, y + n - s - len, size_t(len) * 2) != 0) {
            while (x[n - s - 1] == y[n - s - 1])
                ++s;
            return s;
        }
    }
    return n;
}

// The same for a stored part, read where it lies, Latin-1 or UTF-16, against `y`: how many of
// the `n` units from `from` match from their start (or, with `fromEnd`, at their end).
template<class Unit> qsizetype sameUnits(const Unit* x, const char16_t* y, qsizetype n, bool fromEnd)
{
    constexpr qsizetype chunk = 256;
    for (qsizetype s = 0; s < n; s += chunk) {
        const qsizetype len = std::min(chunk, n - s);
        const qsizetype at = fromEnd ? n - s - len : s;
        unsigned diff = 0;
        for (qsizetype k = 0; k < len; ++k)
            diff |= unsigned(char16_t(x[at + k]) ^ y[at + k]);
        if (diff) {
            if (fromEnd) {
                while (char16_t(x[n - s - 1]) == y[n - s - 1])
                    ++s;
            } else {
                while (char16_t(x[s]) == y[s])
                    ++s;
            }
            return s;
        }
    }
    return n;
}

qsizetype samePart(const CodeTextSnapshot::Part& part, qsizetype from, QStringView text, bool fromEnd)
{
    if (!part.isNarrow) {
        const QStringView a = QStringView(part.wide).mid(from, text.size());
        return fromEnd ? sameSuffix(a, text) : samePrefix(a, text);
    }
    return sameUnits(reinterpret_cast<const unsigned char*>(part.narrow.constData()) + from, text.utf16(), text.size(),
                     fromEnd);
}

// The differing middle of the shown text and a new one, as a range in each; read from the view's
// blocks in place.
std::pair<TextRange, TextRange> changedRanges(const CodeTextSnapshot& old, QStringView text)
{
    const QList<CodeTextSnapshot::Part>& parts = old.parts();
    const qsizetype na = old.length(), nb = text.size(), m = std::min(na, nb);
    qsizetype p = 0;
    for (const CodeTextSnapshot::Part& part : parts) {
        const qsizetype n = std::min(part.size(), m - p);
        const qsizetype same = samePart(part, 0, text.sliced(p, n), false);
        p += same;
        if (same < part.size())
            break;
    }
    const qsizetype limit = m - p;
    qsizetype s = 0;
    for (auto it = parts.rbegin(); it != parts.rend() && s < limit; ++it) {
        const qsizetype n = std::min(it->size(), limit - s);
        const qsizetype same = samePart(*it, it->size() - n, text.sliced(nb - s - n, n), true);
        s += same;
        if (same < it->size())
            break;
    }
    return {{p, na - p - s}, {p, nb - p - s}};
}

} // namespace

CodeEditor::CodeEditor(const Options& options, QWidget* parent)
    : QWidget(parent), m_view(new CodeTextView(this)), m_options(options)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_view);
    setFocusProxy(m_view);

    FontScale::apply(m_view, CodeTextView::defaultFont());
    m_view->setTextMargins(QMargins(8, 12, 8, 12));
    m_view->setReadOnly(!options.isEditable);
    // Only the user's edits are handed on (below): a new text need not be reported.
    setPlaceholder(options.placeholder);

    if (m_options.colouring) {
        m_view->addHighlighter(m_options.colouring->highlighter());
        m_options.colouring->setOnChange([this] { m_view->refreshHighlighting(); });
    }
    if (!options.findBar) {
        m_matches = std::make_unique<CodeTextMatchHighlighter>();
        m_view->addHighlighter(m_matches.get());
    }
    applyAppearance();

    connect(m_view, &CodeTextView::textChanged, this, &CodeEditor::onViewTextChanged);
    connect(m_view, &CodeTextView::textEdited, this, [this](const TextEdit& edit) {
        // The user's edit: the shown matches belong to the old text.
        clearHighlights();
        emit textEdited(edit);
    });
    connect(m_view, &CodeTextView::selectionChanged, this, [this](bool) {
        if (m_updating || m_programEdit || !m_view->hasFocus() || !m_onSelectionChange)
            return;
        m_onSelectionChange(m_view->selection());
    });
    if (m_options.colouring && m_options.colouring->followsView()) {
        connect(m_view->verticalScrollBar(), &QScrollBar::valueChanged, this, [this] { colourVisibleArea(); });
        connect(m_view->horizontalScrollBar(), &QScrollBar::valueChanged, this, [this] { colourVisibleArea(); });
        m_view->viewport()->installEventFilter(this);
    }
    connect(m_view, &CodeTextView::columnCountChanged, this, [this](int) {
        if (!m_onColumnsChange)
            return;
        const int count = measuredColumns();
        if (count >= 1 && m_reportedColumns != count) {
            m_reportedColumns = count;
            if (m_onColumnsChange(count)) {
                m_awaitingReflow = true;
                m_awaitedReflowID = m_reflowID;
                return;
            }
            m_awaitingReflow = false;
        }
        if (m_reflowID && !m_awaitingReflow)
            readPlace();
    });
    connect(m_view->verticalScrollBar(), &QScrollBar::valueChanged, this, [this] {
        if (m_onColumnsChange && m_reflowID && !m_awaitingReflow)
            readPlace();
    });
}

CodeEditor::~CodeEditor()
{
    // The highlighters go before the view that holds them.
    m_view->setHighlighters({});
    if (m_options.colouring)
        m_options.colouring->setOnChange({});
}

QString CodeEditor::text() const
{
    return m_view->text();
}

CodeTextSnapshot CodeEditor::snapshot() const
{
    return m_view->snapshot();
}

qsizetype CodeEditor::length() const
{
    return m_view->length();
}

void CodeEditor::onViewTextChanged(qsizetype location, qsizetype length, qsizetype change)
{
    if (m_options.colouring)
        m_options.colouring->textChanged(*m_view, {location, length}, change);
}

void CodeEditor::setText(const QString& text)
{
    setText(text, std::nullopt);
}

void CodeEditor::setText(const QString& newText, std::optional<CodeTextBuffer> prepared)
{
    const QString text = newText.contains(u'\r') ? TextHelpers::normalizedLineBreaks(newText) : newText;
    auto holder = std::make_shared<std::optional<CodeTextBuffer>>(std::move(prepared));
    replaceText(text, [holder] { return std::move(*holder); });
}

void CodeEditor::setText(const QString& text, const std::function<std::optional<CodeTextBuffer>()>& prepared)
{
    replaceText(text, prepared);
}

template <class Show>
void CodeEditor::replacing(Show show)
{
    // Always set: the hosts skip only the echo of the user's own edit, never a text by value.
    m_updating = true;
    clearHighlights();
    const qsizetype oldCaret = m_view->selection().location;
    const bool restorePlace = m_reflowID && m_awaitingReflow && m_awaitedReflowID == m_reflowID && m_place;

    m_programEdit = true;
    show();
    const qsizetype length = m_view->length();
    const qsizetype caret = std::min(oldCaret, length);
    m_view->setSelection(caret, caret);
    m_programEdit = false;

    if (restorePlace) {
        const qsizetype offset = qsizetype(*m_place * double(length));
        if (offset > 0)
            m_view->scrollToPosition(offset);
    }
    if (m_onColumnsChange) {
        m_awaitingReflow = false;
        m_awaitedReflowID.reset();
        if (m_reflowID)
            readPlace();
    }
    m_view->clearUndoStack();
    colourVisibleArea();
    m_updating = false;
}

void CodeEditor::replaceText(const QString& text, const std::function<std::optional<CodeTextBuffer>()>& prepared)
{
    replacing([&] {
        if (m_options.largeDocument) {
            const auto [oldRange, newRange] = changedRanges(m_view->snapshot(), text);
            // A large replacement is cheaper as a new text: the view then builds its line blocks
            // in one pass instead of splicing megabytes into one block.
            constexpr qsizetype largeEdit = 1 << 16;
            if (newRange.length > largeEdit || oldRange.length > largeEdit)
                showWhole(text, prepared ? prepared() : std::nullopt);
            else if (oldRange.length > 0 || newRange.length > 0)
                m_view->replaceRange({oldRange.location, oldRange.length}, text.mid(newRange.location, newRange.length));
        } else {
            showWhole(text, prepared ? prepared() : std::nullopt);
        }
    });
}

void CodeEditor::setText(CodeTextBuffer buffer)
{
    replacing([&] { m_view->setBuffer(std::move(buffer)); });
}

void CodeEditor::showWhole(const QString& text, std::optional<CodeTextBuffer> prepared)
{
    // A prepared buffer of other text (a caller's mistake) must not be shown.
    if (prepared && prepared->length() == text.size())
        m_view->setBuffer(std::move(*prepared));
    else
        m_view->setText(text);
}

void CodeEditor::setPlaceholder(const std::optional<QString>& placeholder)
{
    m_options.placeholder = placeholder;
    const QString text = placeholder.value_or(QString());
    if (m_view->placeholderText() != text)
        m_view->setPlaceholderText(text);
}

void CodeEditor::clearHighlights()
{
    if (m_appliedHighlights.isEmpty() && !m_currentRange)
        return;
    m_appliedHighlights.clear();
    m_currentRange.reset();
    if (m_matches) {
        m_matches->setMatches({});
        m_matches->setCurrent(std::nullopt);
    }
    m_view->refreshHighlighting();
}

void CodeEditor::setHighlights(const QList<TextRange>& highlights)
{
    if (highlights == m_appliedHighlights)
        return;
    clearHighlights();
    m_appliedHighlights = highlights;
    if (!highlights.isEmpty() && m_matches) {
        m_matches->setMatches(highlights);
        m_view->refreshHighlighting();
        applyCurrent(m_wantedCurrent);
    }
}

void CodeEditor::setCurrent(std::optional<TextRange> current)
{
    m_wantedCurrent = current;
    applyCurrent(current);
}

void CodeEditor::applyCurrent(std::optional<TextRange> current)
{
    std::optional<TextRange> effective;
    // The matches are sorted: the current one is drawn only when it is one of them.
    const auto match = current ? std::lower_bound(m_appliedHighlights.begin(), m_appliedHighlights.end(), current->location,
                                     [](const TextRange& m, qsizetype at) { return m.location < at; })
                               : m_appliedHighlights.end();
    if (current && current->length > 0 && current->end() <= m_view->length() && match != m_appliedHighlights.end()
        && *match == *current)
        effective = current;
    if (effective == m_currentRange)
        return;
    m_currentRange = effective;
    if (m_matches) {
        m_matches->setCurrent(effective);
        m_view->refreshHighlighting();
    }
}

void CodeEditor::setReveal(const std::optional<TextReveal>& reveal)
{
    if (!reveal || reveal == m_lastReveal)
        return;
    m_lastReveal = reveal;
    if (reveal->range.end() <= m_view->length()) {
        m_view->revealRange({reveal->range.location, reveal->range.length}, true);
        colourVisibleArea();
    }
}

void CodeEditor::setOnColumnsChange(std::function<bool(int)> action)
{
    m_onColumnsChange = std::move(action);
}

int CodeEditor::measuredColumns() const
{
    const qreal column = m_view->characterWidth() * 9 * 0.125;
    if (column <= 0)
        return 0;
    const int count = int(std::floor(m_view->textAreaWidth() / column));
    return count < 1 ? 0 : count;
}

void CodeEditor::readPlace()
{
    const qsizetype length = m_view->length();
    const qsizetype top = m_view->topVisiblePosition();
    if (length == 0 || m_view->verticalScrollBar()->value() <= 0) {
        m_place.reset();
        return;
    }
    m_place = double(top) / double(length);
}

void CodeEditor::colourVisibleArea()
{
    if (m_options.colouring && m_options.colouring->followsView() && m_options.colouring->viewMoved(*m_view))
        m_view->refreshHighlighting();
}

void CodeEditor::applyAppearance()
{
    const bool dark = DynamicColor::isDark(palette());
    if (m_options.colouring)
        m_options.colouring->setDark(dark);
    if (m_matches) {
        m_matches->setDark(dark);
        m_matches->setTextColour(palette().color(QPalette::Text));
    }
    m_view->refreshHighlighting();
}

void CodeEditor::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange)
        applyAppearance();
}

bool CodeEditor::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_view->viewport() && (event->type() == QEvent::Resize || event->type() == QEvent::Show))
        colourVisibleArea();
    return QWidget::eventFilter(watched, event);
}
