#include "kit/ui/CodeTextLayout.h"

#include "kit/CodeTextBuffer.h"
#include "kit/GraphemeClusters.h"
#include "kit/TextHelpers.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QTextBoundaryFinder>

#include <algorithm>
#include <cmath>

namespace {

constexpr size_t kCacheLines = 1024;        // shaped lines kept per view
constexpr qsizetype kEstimateLines = 65536; // lines estimated at once after a change of width

using FormatRange = QTextLayout::FormatRange;

} // namespace

struct CodeTextLayout::Entry {
    std::unique_ptr<QTextLayout> layout;          // lines shorter than `CodeTextBuffer::longLine` units
    std::unique_ptr<CodeTextLongLine> longLine;   // the others
    QList<FormatRange> formats;                   // as the highlighters gave them, before the preedit
    quint64 generation = 0;
    qsizetype preeditAt = -1; // within the line
    qsizetype preeditLength = 0;
    quint64 used = 0;

    qsizetype toLayout(qsizetype local) const
    {
        return preeditAt >= 0 && local >= preeditAt ? local + preeditLength : local;
    }
    qsizetype fromLayout(qsizetype index) const
    {
        if (preeditAt < 0 || index < preeditAt)
            return index;
        return index < preeditAt + preeditLength ? preeditAt : index - preeditLength;
    }
};

// ---------------------------------------------------------------- set-up

CodeTextLayout::CodeTextLayout(const CodeTextBuffer& buffer) : m_buffer(buffer) { reestimate(); }

CodeTextLayout::~CodeTextLayout() = default;

void CodeTextLayout::setFont(const QFont& font)
{
    m_font = font;
    const QFontMetricsF fm(font);
    m_charWidth = std::max<qreal>(1.0, fm.horizontalAdvance(QLatin1Char('0')));
    m_lineHeight = std::max(1, int(std::ceil(fm.lineSpacing())));
    m_cache.clear();
    reestimateLater();
}

void CodeTextLayout::setWidth(qreal width, bool wrap)
{
    if (width == m_width && wrap == m_wrap)
        return;
    m_width = width;
    m_wrap = wrap;
    m_cache.clear();
    reestimateLater();
}

int CodeTextLayout::wrapColumns() const { return std::max(1, int(m_width / m_charWidth)); }

void CodeTextLayout::setHighlighters(const QList<const CodeTextHighlighter*>& highlighters)
{
    m_highlighters = highlighters;
    formatsChanged();
}

void CodeTextLayout::setPreedit(qsizetype position, const QString& text)
{
    if (text.isEmpty())
        position = -1;
    if (position == m_preeditAt && text == m_preedit)
        return;
    // A long line finds the rows around a composition again; a short one is shaped again.
    for (qsizetype p : {m_preeditAt, position})
        if (p >= 0)
            if (auto it = m_cache.find(m_buffer.lineAt(p)); it != m_cache.end() && it->second->layout)
                m_cache.erase(it);
    m_preeditAt = position;
    m_preedit = position >= 0 ? text : QString();
    ++m_formatGeneration;
}

void CodeTextLayout::reset()
{
    m_cache.clear();
    if (m_wrap && m_buffer.lineCount() > kEstimateLines) {
        // Walking every line now would stall the opening of a big document.
        m_rows.reset(size_t(m_buffer.lineCount()));
        m_staleFrom = 0;
        m_rowsChanged = true;
        return;
    }
    reestimate();
}

void CodeTextLayout::reestimateLater()
{
    if (m_buffer.lineCount() <= kEstimateLines) {
        reestimate();
        return;
    }
    m_staleFrom = 0;
    m_rowsChanged = true;
}

bool CodeTextLayout::estimateMore()
{
    if (m_longUnsettled) {
        // Rows of a long line that an edit left as they were are found again, a step at a time.
        m_longUnsettled = false;
        for (auto& [line, e] : m_cache) {
            if (!e->longLine || !e->longLine->unsettled())
                continue;
            const auto c = longContext(line);
            m_longUnsettled = e->longLine->settleMore(c);
            syncLongRows(line, *e, c);
            m_rowsChanged = true;
            break;
        }
        if (m_longUnsettled)
            return true;
        for (const auto& [line, e] : m_cache)
            m_longUnsettled = m_longUnsettled || (e->longLine && e->longLine->unsettled());
        if (m_longUnsettled)
            return true;
    }
    if (m_staleFrom < 0)
        return false;
    const qsizetype lines = qsizetype(m_rows.size());
    const qsizetype end = std::min(lines, m_staleFrom + kEstimateLines);
    estimateLines(m_staleFrom, end);
    // Lines laid out since the change keep their exact counts.
    for (auto it = m_cache.lower_bound(m_staleFrom); it != m_cache.end() && it->first < end; ++it)
        if (it->second->layout)
            m_rows.set(size_t(it->first), int32_t(std::max(1, it->second->layout->lineCount())));
    m_staleFrom = end < lines ? end : -1;
    m_rowsChanged = true;
    return m_staleFrom >= 0;
}

void CodeTextLayout::reestimate()
{
    m_staleFrom = -1;
    const qsizetype lines = m_buffer.lineCount();
    m_rows.reset(size_t(lines));
    if (m_wrap)
        estimateLines(0, lines);
    m_rowsChanged = true;
}

void CodeTextLayout::estimateLines(qsizetype from, qsizetype to)
{
    if (!m_wrap) {
        for (qsizetype line = from; line < to; ++line)
            m_rows.set(size_t(line), 1);
        return;
    }
    // Many lines at a time ask the buffer for their columns in one walk: line by line, each
    // would be looked for from its block's start.
    constexpr qsizetype kStep = 4096;
    const int w = wrapColumns();
    std::vector<qint64> columns(size_t(std::clamp<qsizetype>(to - from, 0, kStep)));
    for (qsizetype line = from; line < to; line += kStep) {
        const qsizetype n = std::min(kStep, to - line);
        m_buffer.lineColumns(line, n, columns.data());
        for (qsizetype k = 0; k < n; ++k)
            m_rows.set(size_t(line + k), int32_t(std::clamp<qint64>((columns[size_t(k)] + w - 1) / w, 1, INT32_MAX)));
    }
}

bool CodeTextLayout::isLong(qsizetype line) const { return m_buffer.lineLength(line) >= CodeTextBuffer::longLine; }

int32_t CodeTextLayout::estimateRows(qsizetype line) const
{
    if (!m_wrap)
        return 1;
    const qint64 columns = m_buffer.lineColumns(line);
    const int w = wrapColumns();
    return int32_t(std::clamp<qint64>((columns + w - 1) / w, 1, INT32_MAX));
}

void CodeTextLayout::replaced(qsizetype position, qsizetype removed, qsizetype added, qsizetype firstLine,
    qsizetype oldLastLine, qsizetype newLastLine)
{
    const qsizetype delta = newLastLine - oldLastLine;
    // Edited lines are estimated afresh; the lines after them move.
    if (m_staleFrom > oldLastLine)
        m_staleFrom += delta;
    else if (m_staleFrom >= firstLine)
        m_staleFrom = newLastLine + 1 < m_buffer.lineCount() ? newLastLine + 1 : -1;
    if (firstLine == oldLastLine && delta == 0 && isLong(firstLine)) {
        // Within a long line, rows before the edit keep their text and their shapes.
        if (auto it = m_cache.find(firstLine); it != m_cache.end() && it->second->layout) {
            m_cache.erase(it); // it was short before the edit
            m_rows.set(size_t(firstLine), estimateRows(firstLine));
        } else if (it != m_cache.end() && it->second->longLine) {
            it->second->longLine->edited(m_buffer, firstLine, position, removed, added);
            syncLongRows(firstLine, *it->second, longContext(firstLine));
        } else {
            m_rows.set(size_t(firstLine), estimateRows(firstLine));
        }
        m_rowsChanged = true;
        return;
    }
    // Lines after the edit keep their layouts under their new numbers.
    std::vector<std::pair<qsizetype, std::unique_ptr<Entry>>> after;
    for (auto it = m_cache.lower_bound(firstLine); it != m_cache.end();) {
        if (it->first > oldLastLine)
            after.emplace_back(it->first + delta, std::move(it->second));
        it = m_cache.erase(it);
    }
    for (auto& [line, e] : after)
        m_cache.emplace(line, std::move(e));

    const qsizetype size = qsizetype(m_rows.size());
    const size_t from = size_t(std::clamp<qsizetype>(firstLine, 0, size));
    const size_t oldEnd = size_t(std::clamp<qsizetype>(oldLastLine + 1, qsizetype(from), size));
    const size_t newCount = size_t(std::max<qsizetype>(0, newLastLine + 1 - firstLine));
    if (oldEnd - from != newCount)
        m_rows.replace(from, oldEnd - from, newCount);
    estimateLines(qsizetype(from), qsizetype(from + newCount));
    m_rowsChanged = true;
}

// ---------------------------------------------------------------- rows

qint64 CodeTextLayout::rowCount() const { return m_rows.total(); }

qint64 CodeTextLayout::rowsOfLine(qsizetype line) const
{
    if (line < 0 || size_t(line) >= m_rows.size())
        return 1;
    return m_rows.at(size_t(line));
}

qint64 CodeTextLayout::firstRowOfLine(qsizetype line) const
{
    return m_rows.prefix(size_t(std::clamp<qsizetype>(line, 0, qsizetype(m_rows.size()))));
}

qsizetype CodeTextLayout::lineAtRow(qint64 row, qint64* rowInLine) const
{
    row = std::clamp<qint64>(row, 0, std::max<qint64>(0, rowCount() - 1));
    const size_t line = m_rows.find(row);
    if (rowInLine)
        *rowInLine = std::clamp<qint64>(row - m_rows.prefix(line), 0, qint64(m_rows.at(line)) - 1);
    return qsizetype(line);
}

qint64 CodeTextLayout::exactRowsOfLine(qsizetype line)
{
    entry(line);
    return rowsOfLine(line);
}

bool CodeTextLayout::takeRowsChanged()
{
    const bool changed = m_rowsChanged;
    m_rowsChanged = false;
    return changed;
}

void CodeTextLayout::setRows(qsizetype line, int32_t rows)
{
    if (line < 0 || size_t(line) >= m_rows.size() || m_rows.at(size_t(line)) == rows)
        return;
    m_rows.set(size_t(line), rows);
    m_rowsChanged = true;
}

// ---------------------------------------------------------------- shaping

QList<FormatRange> CodeTextLayout::formatsFor(qsizetype from, qsizetype to) const
{
    QList<FormatRange> formats;
    if (m_highlighters.isEmpty() || to <= from)
        return formats;
    QList<CodeTextRun> runs;
    for (const CodeTextHighlighter* h : m_highlighters)
        h->runs(m_buffer, from, to, runs);
    formats.reserve(runs.size());
    for (const CodeTextRun& run : runs) {
        const qsizetype a = std::max(run.from, from), b = std::min(run.to, to);
        if (b <= a)
            continue;
        QTextCharFormat f;
        if (run.foreground.isValid())
            f.setForeground(run.foreground);
        if (run.background.isValid())
            f.setBackground(run.background);
        if (run.bold)
            f.setFontWeight(QFont::Bold);
        if (!f.properties().isEmpty())
            formats.append({int(a - from), int(b - a), f});
    }
    return formats;
}

// A colour that changes inside a grapheme cluster would split it into pieces drawn apart (half a
// flag, a surrogate on its own): ranges are widened to whole clusters, and runs of one format
// that touch are joined.
static QList<FormatRange> clusterFormats(const QList<FormatRange>& formats, const QString& text)
{
    QList<FormatRange> out;
    out.reserve(formats.size());
    bool plain = true;
    for (QChar c : text)
        if (c.unicode() >= 0x300) {
            plain = false;
            break;
        }
    std::unique_ptr<QTextBoundaryFinder> finder;
    if (!plain)
        finder = std::make_unique<QTextBoundaryFinder>(QTextBoundaryFinder::Grapheme, text);
    for (FormatRange f : formats) {
        if (finder) {
            int a = f.start, b = f.start + f.length;
            finder->setPosition(a);
            if (!finder->isAtBoundary())
                a = int(std::max<qsizetype>(0, finder->toPreviousBoundary()));
            finder->setPosition(b);
            if (!finder->isAtBoundary()) {
                const qsizetype next = finder->toNextBoundary();
                b = next < 0 ? int(text.size()) : int(next);
            }
            f.start = a;
            f.length = b - a;
        }
        if (!out.isEmpty() && out.last().start + out.last().length == f.start && out.last().format == f.format)
            out.last().length += f.length;
        else
            out.append(f);
    }
    return out;
}

static void layOutText(QTextLayout& layout, const QFont& font, qreal charWidth, bool wrap, qreal width, int lineHeight,
    const QList<FormatRange>& formats, Qt::LayoutDirection direction)
{
    layout.setFont(font);
    QTextOption option;
    option.setTextDirection(direction);
    option.setWrapMode(wrap ? QTextOption::WrapAtWordBoundaryOrAnywhere : QTextOption::NoWrap);
    option.setTabStopDistance(charWidth * CodeTextBuffer::tabWidth);
    layout.setTextOption(option);
    layout.setFormats(clusterFormats(formats, layout.text()));
    layout.setCacheEnabled(true);
    layout.beginLayout();
    int rows = 0;
    for (;;) {
        QTextLine line = layout.createLine();
        if (!line.isValid())
            break;
        line.setLineWidth(wrap ? std::max<qreal>(1, width) : 1e7);
        line.setPosition(QPointF(0, qreal(rows) * lineHeight));
        ++rows;
    }
    layout.endLayout();
}

CodeTextLongLine::Preedit CodeTextLayout::shape(QTextLayout& layout, qsizetype from, qsizetype to,
    const QList<FormatRange>& formats, bool wrap, Qt::LayoutDirection direction) const
{
    QString text = m_buffer.mid(from, to - from);
    QList<FormatRange> shown = formats;
    CodeTextLongLine::Preedit preedit;
    // A composition where a slice ends belongs to the slice after it, unless the line ends there.
    if (m_preeditAt >= from && (m_preeditAt < to || m_preeditAt == m_buffer.lineEnd(m_buffer.lineAt(from)))
        && m_preeditAt <= to) {
        preedit = {m_preeditAt - from, m_preedit.size()};
        text.insert(preedit.at, m_preedit);
        for (FormatRange& f : shown) {
            if (f.start >= preedit.at)
                f.start += int(preedit.length);
            else if (f.start + f.length > preedit.at)
                f.length += int(preedit.length);
        }
        QTextCharFormat underline;
        underline.setFontUnderline(true);
        shown.append({int(preedit.at), int(preedit.length), underline});
    }
    layout.setText(text);
    layOutText(layout, m_font, m_charWidth, wrap, m_width, m_lineHeight, shown, direction);
    return preedit;
}

void CodeTextLayout::layOut(Entry& e, qsizetype line)
{
    const qsizetype start = m_buffer.lineStart(line);
    e.layout = std::make_unique<QTextLayout>();
    const CodeTextLongLine::Preedit preedit =
        shape(*e.layout, start, start + m_buffer.lineLength(line), e.formats, m_wrap, Qt::LayoutDirectionAuto);
    e.preeditAt = preedit.at;
    e.preeditLength = preedit.length;
    setRows(line, int32_t(std::max(1, e.layout->lineCount())));
}

void CodeTextLayout::syncLongRows(qsizetype line, Entry& e, const CodeTextLongLine::Context& c)
{
    setRows(line, int32_t(std::clamp<qint64>(e.longLine->rowCount(c), 1, INT32_MAX)));
    m_longUnsettled = m_longUnsettled || e.longLine->unsettled();
}

// Asks a long line, which may find rows as it answers: its row count follows.
template <typename Ask>
auto CodeTextLayout::askLong(qsizetype line, Entry& e, Ask&& ask)
{
    const auto c = longContext(line);
    struct Sync {
        CodeTextLayout& layout;
        qsizetype line;
        Entry& e;
        const CodeTextLongLine::Context& c;
        ~Sync() { layout.syncLongRows(line, e, c); }
    } sync{*this, line, e, c};
    return ask(*e.longLine, c);
}

CodeTextLayout::Entry* CodeTextLayout::entry(qsizetype line)
{
    line = std::clamp<qsizetype>(line, 0, m_buffer.lineCount() - 1);
    auto it = m_cache.find(line);
    if (it == m_cache.end()) {
        trimCache();
        it = m_cache.emplace(line, std::make_unique<Entry>()).first;
    }
    Entry& e = *it->second;
    e.used = ++m_useClock;
    if (isLong(line)) {
        // Its rows are found as far as they are asked for; the rest are estimated.
        if (!e.longLine)
            e.longLine = std::make_unique<CodeTextLongLine>();
        syncLongRows(line, e, longContext(line));
        return &e;
    }
    if (!e.layout || e.generation != m_formatGeneration) {
        QList<FormatRange> formats = formatsFor(m_buffer.lineStart(line), m_buffer.lineEnd(line));
        const bool same = e.layout && formats == e.formats;
        e.generation = m_formatGeneration;
        if (!same) {
            e.formats = std::move(formats);
            layOut(e, line);
        }
    }
    return &e;
}

void CodeTextLayout::trimCache()
{
    if (m_cache.size() < kCacheLines + kCacheLines / 4)
        return;
    std::vector<quint64> uses;
    uses.reserve(m_cache.size());
    for (const auto& [line, e] : m_cache)
        uses.push_back(e->used);
    std::nth_element(uses.begin(), uses.begin() + qsizetype(m_cache.size() - kCacheLines), uses.end());
    const quint64 cut = uses[m_cache.size() - kCacheLines];
    for (auto it = m_cache.begin(); it != m_cache.end();)
        it = it->second->used < cut ? m_cache.erase(it) : std::next(it);
}

const QTextLayout* CodeTextLayout::lineLayout(qsizetype line)
{
    Entry* e = entry(line);
    return e->layout.get();
}

CodeTextLongLine::Context CodeTextLayout::longContext(qsizetype line) const
{
    return {m_buffer, line, m_wrap, wrapColumns(), m_charWidth, m_lineHeight, m_formatGeneration, m_preeditAt,
        m_preedit.size(), [this](qsizetype from, qsizetype to) { return formatsFor(from, to); },
        [this](QTextLayout& layout, qsizetype from, qsizetype to, const QList<FormatRange>& formats, bool wrap,
            Qt::LayoutDirection direction) { return shape(layout, from, to, formats, wrap, direction); }};
}

// ---------------------------------------------------------------- positions

qint64 CodeTextLayout::rowOfPosition(qsizetype position, bool upstream)
{
    position = std::clamp<qsizetype>(position, 0, m_buffer.length());
    const qsizetype line = m_buffer.lineAt(position);
    Entry* e = entry(line);
    if (e->longLine) {
        return askLong(line, *e, [&](CodeTextLongLine& l, const auto& c) { return l.rowOfPosition(c, position, upstream); });
    }
    const qsizetype index = e->toLayout(position - m_buffer.lineStart(line));
    for (int i = e->layout->lineCount() - 1; i >= 0; --i) {
        const QTextLine l = e->layout->lineAt(i);
        if (l.textStart() <= index)
            return upstream && i > 0 && l.textStart() == index ? i - 1 : i;
    }
    return 0;
}

std::pair<qsizetype, qsizetype> CodeTextLayout::rowRange(qsizetype line, qint64 rowInLine)
{
    Entry* e = entry(line);
    rowInLine = std::clamp<qint64>(rowInLine, 0, rowsOfLine(line) - 1);
    if (e->longLine) {
        return askLong(line, *e, [&](CodeTextLongLine& l, const auto& c) { return l.rowRange(c, rowInLine); });
    }
    const qsizetype start = m_buffer.lineStart(line);
    const QTextLine l = e->layout->lineAt(int(rowInLine));
    return {start + e->fromLayout(l.textStart()), start + e->fromLayout(l.textStart() + l.textLength())};
}

qreal CodeTextLayout::xOfPosition(qsizetype position, bool upstream)
{
    position = std::clamp<qsizetype>(position, 0, m_buffer.length());
    const qsizetype line = m_buffer.lineAt(position);
    Entry* e = entry(line);
    const qint64 row = rowOfPosition(position, upstream);
    qreal x;
    if (e->longLine) {
        x = askLong(line, *e, [&](CodeTextLongLine& l, const auto& c) { return l.xOfPosition(c, position, row); });
    } else {
        qsizetype index = e->toLayout(position - m_buffer.lineStart(line));
        if (e->preeditAt >= 0 && position - m_buffer.lineStart(line) == e->preeditAt)
            index = e->preeditAt + e->preeditLength; // the caret after the composed text
        x = e->layout->lineAt(int(row)).cursorToX(int(index));
    }
    // Spaces at the end of a wrapped row hang past it; the caret stays at the edge.
    return m_wrap ? std::min(x, std::max<qreal>(0, m_width - 1)) : x;
}

qsizetype CodeTextLayout::positionAtX(qsizetype line, qint64 rowInLine, qreal x)
{
    Entry* e = entry(line);
    const qint64 rows = rowsOfLine(line);
    rowInLine = std::clamp<qint64>(rowInLine, 0, rows - 1);
    const auto [from, to] = rowRange(line, rowInLine);
    qsizetype p;
    if (e->longLine) {
        p = askLong(line, *e, [&](CodeTextLongLine& l, const auto& c) { return l.positionAtX(c, rowInLine, x); });
        if (!m_wrap)
            return p;
    } else {
        p = m_buffer.lineStart(line) + e->fromLayout(e->layout->lineAt(int(rowInLine)).xToCursor(x));
    }
    if (rowInLine + 1 < rows && p >= to && to > from)
        p = previousCursorPosition(to);
    // Qt's answer can fall inside a cluster that follows Indic text: the stop before it holds.
    if (p > from && p < to) {
        const qsizetype before = previousCursorPosition(p);
        if (nextCursorPosition(before) != p)
            p = before;
    }
    return std::clamp(p, from, to);
}

qsizetype CodeTextLayout::nextCursorPosition(qsizetype position)
{
    const qsizetype n = m_buffer.length();
    if (position >= n)
        return n;
    const qsizetype line = m_buffer.lineAt(position);
    const qsizetype start = m_buffer.lineStart(line);
    const qsizetype end = m_buffer.lineEnd(line);
    if (position >= end)
        return position + 1;
    qsizetype next = GraphemeClusters::next(m_buffer, position, end);
    Entry* e = entry(line);
    if (e->layout && e->preeditAt < 0) {
        // A stop of both: the shaped line keeps an Indic syllable of several clusters whole, the
        // default rules keep what follows such a run whole.
        qsizetype shaped = start + e->layout->nextCursorPosition(int(position - start));
        while (shaped != next) {
            if (shaped < next)
                shaped = start + e->layout->nextCursorPosition(int(shaped - start));
            else
                next = GraphemeClusters::next(m_buffer, next, end);
        }
    }
    return next;
}

qsizetype CodeTextLayout::previousCursorPosition(qsizetype position)
{
    if (position <= 0)
        return 0;
    position = std::min(position, m_buffer.length());
    const qsizetype line = m_buffer.lineAt(position);
    const qsizetype start = m_buffer.lineStart(line);
    if (position == start)
        return position - 1;
    qsizetype previous = GraphemeClusters::previous(m_buffer, position);
    Entry* e = entry(line);
    if (e->layout && e->preeditAt < 0) {
        qsizetype shaped = start + e->layout->previousCursorPosition(int(position - start));
        while (shaped != previous) {
            if (shaped > previous)
                shaped = start + e->layout->previousCursorPosition(int(shaped - start));
            else
                previous = GraphemeClusters::previous(m_buffer, previous);
        }
    }
    return previous;
}

qsizetype CodeTextLayout::visualCursorPosition(qsizetype position, bool right)
{
    const qsizetype n = m_buffer.length();
    position = std::clamp<qsizetype>(position, 0, n);
    const qsizetype line = m_buffer.lineAt(position);
    Entry* e = entry(line);
    if (e->longLine) {
        return askLong(line, *e, [&](CodeTextLongLine& l, const auto& c) { return l.visualCursorPosition(c, position, right); });
    }
    if (!e->layout || e->preeditAt >= 0 || !TextHelpers::holdsRightToLeft(e->layout->text()))
        return -1;
    const qsizetype start = m_buffer.lineStart(line);
    const int local = int(position - start);
    const int moved = right ? e->layout->rightCursorPosition(local) : e->layout->leftCursorPosition(local);
    if (moved != local)
        return start + moved;
    // At the line's edge on screen: on to the line after when moving the way the line reads
    // towards its end, else back to the line before.
    const bool rightToLeft = e->layout->text().isRightToLeft();
    if (right != rightToLeft) {
        const qsizetype end = m_buffer.lineEnd(line);
        return end < n ? end + 1 : position;
    }
    return start > 0 ? start - 1 : position;
}

// ---------------------------------------------------------------- drawing

void CodeTextLayout::draw(QPainter& painter, qsizetype line, qint64 firstRow, qint64 lastRow, const QPointF& origin,
    const QList<FormatRange>& selections, const QRectF& clip, qint64 horizontalColumns)
{
    Entry* e = entry(line);
    if (e->longLine) {
        askLong(line, *e, [&](CodeTextLongLine& l, const auto& c) {
            l.draw(c, painter, firstRow, lastRow, origin, selections, clip, horizontalColumns);
        });
        return;
    }
    const qsizetype start = m_buffer.lineStart(line), end = m_buffer.lineEnd(line);
    QList<FormatRange> sel;
    for (const FormatRange& s : selections) {
        const qsizetype a = std::max<qsizetype>(s.start, start), b = std::min<qsizetype>(s.start + s.length, end);
        if (b <= a)
            continue;
        const qsizetype la = e->toLayout(a - start), lb = e->toLayout(b - start);
        sel.append({int(la), int(lb - la), s.format});
    }
    const QPointF at(origin.x() - qreal(m_wrap ? 0 : horizontalColumns) * m_charWidth, origin.y());
    e->layout->draw(&painter, at, sel, clip);
}
