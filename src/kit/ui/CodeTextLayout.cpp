#include "kit/ui/CodeTextLayout.h"

#include "kit/CodeTextBuffer.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QTextBoundaryFinder>

#include <algorithm>
#include <cmath>
#include <functional>

namespace {

constexpr size_t kCacheLines = 1024;   // shaped lines kept per view
constexpr size_t kCacheLongRows = 512; // shaped rows kept per long line
constexpr size_t kCachePieces = 512;   // shaped pieces kept per long line
constexpr qsizetype kPieceUnits = 48;
constexpr qsizetype kPieceMargin = 8; // an edit this near a piece's bound reshapes the neighbour too

using FormatRange = QTextLayout::FormatRange;

struct Shaped {
    std::unique_ptr<QTextLayout> layout;
    quint64 generation = 0;
    qsizetype from = 0, to = 0;
};

struct Piece {
    qsizetype start = 0; // within the line
    std::unique_ptr<QTextLayout> layout;
    QList<FormatRange> formats;
    quint64 generation = 0;
    quint64 used = 0;
    bool rightToLeft = false;
    bool uncut = false; // a stretch not cut into pieces yet; never shaped
};

} // namespace

struct CodeTextLayout::Part {
    QTextLayout* layout;
    qsizetype pieceStart; // within the line
    qsizetype from, to;   // within the line
    qreal x0, x1;         // of from and to within the piece
};

struct CodeTextLayout::Entry {
    std::unique_ptr<QTextLayout> layout; // lines of at most `longLine` units
    QList<FormatRange> formats;          // as the highlighters gave them, before the preedit
    quint64 generation = 0;
    qsizetype preeditAt = -1; // within the line
    qsizetype preeditLength = 0;
    quint64 used = 0;
    std::map<qint64, Shaped> rows; // long lines: shaped rows by index
    std::vector<Piece> pieces;     // long lines that wrap, in order
    qsizetype piecesLength = 0;    // the line length they cover
    size_t shapedPieces = 0;

    qsizetype pieceEnd(size_t i) const { return i + 1 < pieces.size() ? pieces[i + 1].start : piecesLength; }
    // The piece holding a position within the line (the last one for its end).
    size_t pieceAt(qsizetype local) const
    {
        auto it = std::upper_bound(pieces.begin(), pieces.end(), local,
            [](qsizetype p, const Piece& piece) { return p < piece.start; });
        return it == pieces.begin() ? 0 : size_t(it - pieces.begin() - 1);
    }

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

// ---------------------------------------------------------------- row tree

void CodeTextLayout::RowTree::build()
{
    const size_t n = rows.size();
    tree.assign(n + 1, 0);
    for (size_t i = 1; i <= n; ++i) {
        tree[i] += rows[i - 1];
        const size_t j = i + (i & (~i + 1));
        if (j <= n)
            tree[j] += tree[i];
    }
}

void CodeTextLayout::RowTree::set(size_t line, int32_t value)
{
    const qint64 delta = qint64(value) - rows[line];
    if (delta == 0)
        return;
    rows[line] = value;
    for (size_t i = line + 1; i < tree.size(); i += i & (~i + 1))
        tree[i] += delta;
}

qint64 CodeTextLayout::RowTree::prefix(size_t line) const
{
    qint64 sum = 0;
    for (size_t i = std::min(line, rows.size()); i > 0; i -= i & (~i + 1))
        sum += tree[i];
    return sum;
}

size_t CodeTextLayout::RowTree::find(qint64 row) const
{
    const size_t n = rows.size();
    size_t pos = 0;
    size_t step = 1;
    while (step * 2 <= n)
        step *= 2;
    for (; step > 0; step /= 2) {
        if (pos + step <= n && tree[pos + step] <= row) {
            pos += step;
            row -= tree[pos];
        }
    }
    return std::min(pos, n ? n - 1 : 0);
}

// ---------------------------------------------------------------- set-up

CodeTextLayout::CodeTextLayout(const CodeTextBuffer& buffer) : m_buffer(buffer) { reestimate(); }

CodeTextLayout::~CodeTextLayout() = default;

void CodeTextLayout::setFont(const QFont& font)
{
    m_font = font;
    const QFontMetricsF fm(font);
    m_charWidth = std::max<qreal>(1.0, fm.horizontalAdvance(QLatin1Char('0')));
    m_lineHeight = std::max(1, int(std::ceil(fm.lineSpacing())));
    reset();
}

void CodeTextLayout::setWidth(qreal width, bool wrap)
{
    if (width == m_width && wrap == m_wrap)
        return;
    m_width = width;
    m_wrap = wrap;
    reset();
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
    for (qsizetype p : {m_preeditAt, position})
        if (p >= 0)
            m_cache.erase(m_buffer.lineAt(p));
    m_preeditAt = position;
    m_preedit = position >= 0 ? text : QString();
}

void CodeTextLayout::reset()
{
    m_cache.clear();
    reestimate();
}

void CodeTextLayout::reestimate()
{
    const qsizetype lines = m_buffer.lineCount();
    m_rows.rows.resize(size_t(lines));
    for (qsizetype line = 0; line < lines; ++line)
        m_rows.rows[size_t(line)] = estimateRows(line);
    m_rows.build();
    m_rowsChanged = true;
}

bool CodeTextLayout::isLong(qsizetype line) const { return m_buffer.lineLength(line) > longLine; }

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
    if (firstLine == oldLastLine && delta == 0 && isLong(firstLine)) {
        // Within a long line, rows before the edit keep their text and their shapes.
        if (auto it = m_cache.find(firstLine); it != m_cache.end() && it->second->layout) {
            m_cache.erase(it); // it was short before the edit
        } else if (it != m_cache.end()) {
            auto& rows = it->second->rows;
            for (auto r = rows.begin(); r != rows.end();)
                r = r->second.to >= position ? rows.erase(r) : std::next(r);
            editPieces(*it->second, firstLine, position - m_buffer.lineStart(firstLine), removed, added);
        }
        m_rows.set(size_t(firstLine), estimateRows(firstLine));
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

    auto& rows = m_rows.rows;
    const size_t from = size_t(std::clamp<qsizetype>(firstLine, 0, qsizetype(rows.size())));
    const size_t oldEnd = size_t(std::clamp<qsizetype>(oldLastLine + 1, qsizetype(from), qsizetype(rows.size())));
    const size_t newCount = size_t(std::max<qsizetype>(0, newLastLine + 1 - firstLine));
    if (oldEnd - from == newCount) {
        for (size_t i = 0; i < newCount; ++i)
            m_rows.set(from + i, estimateRows(qsizetype(from + i)));
    } else {
        rows.erase(rows.begin() + qsizetype(from), rows.begin() + qsizetype(oldEnd));
        rows.insert(rows.begin() + qsizetype(from), newCount, 1);
        for (size_t i = 0; i < newCount; ++i)
            rows[from + i] = estimateRows(qsizetype(from + i));
        m_rows.build();
    }
    m_rowsChanged = true;
}

// ---------------------------------------------------------------- rows

qint64 CodeTextLayout::rowCount() const { return m_rows.prefix(m_rows.rows.size()); }

qint64 CodeTextLayout::rowsOfLine(qsizetype line) const
{
    if (line < 0 || size_t(line) >= m_rows.rows.size())
        return 1;
    return m_rows.rows[size_t(line)];
}

qint64 CodeTextLayout::firstRowOfLine(qsizetype line) const
{
    return m_rows.prefix(size_t(std::clamp<qsizetype>(line, 0, qsizetype(m_rows.rows.size()))));
}

qsizetype CodeTextLayout::lineAtRow(qint64 row, qint64* rowInLine) const
{
    row = std::clamp<qint64>(row, 0, std::max<qint64>(0, rowCount() - 1));
    const size_t line = m_rows.find(row);
    if (rowInLine)
        *rowInLine = std::clamp<qint64>(row - m_rows.prefix(line), 0, m_rows.rows[line] - 1);
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
    if (size_t(line) >= m_rows.rows.size() || m_rows.rows[size_t(line)] == rows)
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
    const QList<FormatRange>& formats)
{
    layout.setFont(font);
    QTextOption option;
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

void CodeTextLayout::layOut(Entry& e, qsizetype line)
{
    const qsizetype start = m_buffer.lineStart(line);
    const qsizetype length = m_buffer.lineLength(line);
    QString text = m_buffer.mid(start, length);
    QList<FormatRange> formats = e.formats;
    e.preeditAt = -1;
    e.preeditLength = 0;
    if (m_preeditAt >= start && m_preeditAt <= start + length) {
        e.preeditAt = m_preeditAt - start;
        e.preeditLength = m_preedit.size();
        text.insert(e.preeditAt, m_preedit);
        for (FormatRange& f : formats) {
            if (f.start >= e.preeditAt)
                f.start += int(e.preeditLength);
            else if (f.start + f.length > e.preeditAt)
                f.length += int(e.preeditLength);
        }
        QTextCharFormat underline;
        underline.setFontUnderline(true);
        formats.append({int(e.preeditAt), int(e.preeditLength), underline});
    }
    e.layout = std::make_unique<QTextLayout>(text);
    layOutText(*e.layout, m_font, m_charWidth, m_wrap, m_width, m_lineHeight, formats);
    setRows(line, int32_t(std::max(1, e.layout->lineCount())));
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
        if (e.generation != m_formatGeneration) {
            // Rows are shaped with the colours of their own slice; they are checked when drawn.
            e.generation = m_formatGeneration;
        }
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

// ---------------------------------------------------------------- long lines

static qsizetype graphemeAtOrAfter(const CodeTextBuffer& buffer, qsizetype position, qsizetype lineEnd)
{
    if (position <= 0 || position >= lineEnd)
        return std::min(position, lineEnd);
    const qsizetype from = std::max<qsizetype>(0, position - 32);
    const QString window = buffer.mid(from, std::min(lineEnd, position + 32) - from);
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, window);
    finder.setPosition(position - from);
    if (finder.isAtBoundary())
        return position;
    const qsizetype next = finder.toNextBoundary();
    return next > 0 ? from + next : position;
}

// Where a piece may end at or after `target`: between two printable ASCII characters other than
// spaces, else at a grapheme boundary away from spaces, else at the next grapheme boundary. A
// space takes its font from the text around it, so a bound next to one would change its width.
static qsizetype pieceBreak(QStringView text, qsizetype target)
{
    const qsizetype n = text.size();
    if (target >= n || target <= 0)
        return std::clamp<qsizetype>(target, 0, n);
    const qsizetype limit = std::min(n, target + 48);
    auto plain = [&](qsizetype i) { return text[i].unicode() > 0x20 && text[i].unicode() < 0x7F; };
    for (qsizetype i = target; i < limit; ++i)
        if (plain(i) && plain(i - 1))
            return i;
    // The finder needs the clusters before the target too (a flag pairs with the one before it).
    const qsizetype from = std::max<qsizetype>(0, target - 32);
    const QStringView window = text.mid(from, limit - from);
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, window.data(), int(window.size()));
    finder.setPosition(int(target - from));
    qsizetype first = -1;
    for (qsizetype b = finder.isAtBoundary() ? target - from : finder.toNextBoundary(); b > 0 && from + b < limit;
         b = finder.toNextBoundary()) {
        if (first < 0)
            first = from + b;
        if (!window[b - 1].isSpace() && !window[b].isSpace())
            return from + b;
    }
    return first > 0 ? first : limit;
}

// Piece starts (offset by `base`) for `text`, the first at `base`.
static void appendPieces(std::vector<Piece>& out, QStringView text, qsizetype base)
{
    qsizetype at = 0;
    do {
        Piece piece;
        piece.start = base + at;
        out.push_back(std::move(piece));
        const qsizetype next = pieceBreak(text, at + kPieceUnits);
        at = next > at ? next : at + kPieceUnits;
    } while (at < text.size());
}

void CodeTextLayout::splitPieces(Entry& e, qsizetype line)
{
    // One uncut stretch: pieces are cut where rows are drawn, so a huge line is never scanned.
    e.pieces.clear();
    e.shapedPieces = 0;
    e.piecesLength = m_buffer.lineLength(line);
    e.pieces.emplace_back().uncut = true;
}

qsizetype CodeTextLayout::pieceBreakNear(qsizetype line, qsizetype lineLength, qsizetype target) const
{
    const qsizetype from = std::max<qsizetype>(0, target - 32);
    const QString window = m_buffer.mid(m_buffer.lineStart(line) + from, std::min(lineLength, target + 48) - from);
    return from + pieceBreak(window, target - from);
}

void CodeTextLayout::cutPieces(Entry& e, qsizetype line, qsizetype from, qsizetype to)
{
    for (size_t i = e.pieceAt(from); i < e.pieces.size() && e.pieces[i].start < std::max(to, from + 1); ++i) {
        if (!e.pieces[i].uncut)
            continue;
        const qsizetype start = e.pieces[i].start, end = e.pieceEnd(i);
        const qsizetype want = std::min(std::max(to, from + 1), end);
        const qsizetype a = from - start < 2 * kPieceUnits ? start : pieceBreakNear(line, e.piecesLength, from - kPieceUnits);
        const qsizetype b = end - want < 2 * kPieceUnits ? end : pieceBreakNear(line, e.piecesLength, want);
        std::vector<Piece> cut;
        if (a > start) {
            Piece& before = cut.emplace_back();
            before.start = start;
            before.uncut = true;
        }
        appendPieces(cut, m_buffer.mid(m_buffer.lineStart(line) + a, b - a), a);
        if (b < end) {
            Piece& rest = cut.emplace_back();
            rest.start = b;
            rest.uncut = true;
        }
        const auto at = e.pieces.erase(e.pieces.begin() + qsizetype(i));
        e.pieces.insert(at, std::make_move_iterator(cut.begin()), std::make_move_iterator(cut.end()));
    }
}

void CodeTextLayout::editPieces(Entry& e, qsizetype line, qsizetype position, qsizetype removed, qsizetype added)
{
    if (e.pieces.empty())
        return;
    const qsizetype oldLength = e.piecesLength;
    const qsizetype delta = added - removed;
    if (oldLength + delta != m_buffer.lineLength(line) || position < 0 || position + removed > oldLength) {
        e.pieces.clear();
        return;
    }
    // The pieces the edit touches, with a margin: a cluster may now reach over a bound next to it.
    size_t first = e.pieceAt(std::max<qsizetype>(0, position - kPieceMargin));
    size_t last = e.pieceAt(std::min(oldLength, position + removed + kPieceMargin));
    // Farther still when the text now makes a bound cut a cluster (a run of flags pairs anew)
    // or touch a space.
    const qsizetype lineStart = m_buffer.lineStart(line);
    auto stable = [&](qsizetype bound) {
        const qsizetype from = std::max<qsizetype>(0, bound - 32);
        const QString window = m_buffer.mid(lineStart + from, std::min(e.piecesLength, bound + 32) - from);
        const qsizetype at = bound - from;
        if (at <= 0 || at >= window.size())
            return true;
        if (window[at - 1].isSpace() || window[at].isSpace())
            return false;
        QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, window);
        finder.setPosition(at);
        return finder.isAtBoundary();
    };
    e.piecesLength = oldLength + delta;
    for (int guard = 0; guard < 8 && first > 0 && !stable(e.pieces[first].start); ++guard)
        --first;
    for (int guard = 0; guard < 8 && last + 1 < e.pieces.size() && !stable(e.pieces[last + 1].start + delta); ++guard)
        ++last;
    e.piecesLength = oldLength;
    const qsizetype start = e.pieces[first].start;
    const qsizetype end = e.pieceEnd(last) + delta;
    std::vector<Piece> fresh;
    if (end > start) {
        // Cut again when drawn.
        Piece& piece = fresh.emplace_back();
        piece.start = start;
        piece.uncut = end - start >= 2 * kPieceUnits;
    }
    for (size_t i = first; i <= last; ++i)
        e.shapedPieces -= e.pieces[i].layout ? 1 : 0;
    for (size_t i = last + 1; i < e.pieces.size(); ++i)
        e.pieces[i].start += delta;
    const auto at = e.pieces.erase(e.pieces.begin() + qsizetype(first), e.pieces.begin() + qsizetype(last) + 1);
    e.pieces.insert(at, std::make_move_iterator(fresh.begin()), std::make_move_iterator(fresh.end()));
    e.piecesLength = oldLength + delta;
    if (e.pieces.empty())
        e.pieces.emplace_back();
}

void CodeTextLayout::trimPieces(Entry& e)
{
    if (e.shapedPieces < kCachePieces)
        return;
    std::vector<quint64> uses;
    for (const Piece& p : e.pieces)
        if (p.layout)
            uses.push_back(p.used);
    const size_t keep = kCachePieces / 2;
    std::nth_element(uses.begin(), uses.begin() + qsizetype(uses.size() - keep), uses.end());
    const quint64 cut = uses[uses.size() - keep];
    for (Piece& p : e.pieces) {
        if (p.layout && p.used < cut) {
            p.layout.reset();
            --e.shapedPieces;
        }
    }
}

static bool hasRightToLeft(QStringView text)
{
    for (QChar c : text) {
        if (c.unicode() < 0x590)
            continue;
        const auto d = c.direction();
        if (d == QChar::DirR || d == QChar::DirAL || d == QChar::DirRLE || d == QChar::DirRLO || d == QChar::DirRLI)
            return true;
    }
    return false;
}

bool CodeTextLayout::rowParts(Entry& e, qsizetype line, qsizetype from, qsizetype to, std::vector<Part>& parts)
{
    parts.clear();
    if (e.pieces.empty() || e.piecesLength != m_buffer.lineLength(line))
        splitPieces(e, line);
    cutPieces(e, line, from, to);
    const qsizetype lineStart = m_buffer.lineStart(line);
    for (size_t i = e.pieceAt(from); i < e.pieces.size() && e.pieces[i].start < std::max(to, from + 1); ++i) {
        Piece& p = e.pieces[i];
        const qsizetype end = e.pieceEnd(i);
        if (!p.layout || p.generation != m_formatGeneration) {
            QList<FormatRange> formats = formatsFor(lineStart + p.start, lineStart + end);
            if (!p.layout || formats != p.formats) {
                trimPieces(e);
                if (!p.layout)
                    ++e.shapedPieces;
                p.layout = std::make_unique<QTextLayout>(m_buffer.mid(lineStart + p.start, end - p.start));
                layOutText(*p.layout, m_font, m_charWidth, false, 0, m_lineHeight, formats);
                p.formats = std::move(formats);
                p.rightToLeft = hasRightToLeft(p.layout->text());
            }
            p.generation = m_formatGeneration;
        }
        p.used = ++m_useClock;
        if (p.rightToLeft) {
            parts.clear();
            return false;
        }
        const qsizetype a = std::max(from, p.start), b = std::min(to, end);
        const QTextLine l = p.layout->lineAt(0);
        parts.push_back({p.layout.get(), p.start, a, b, l.cursorToX(int(a - p.start)), l.cursorToX(int(b - p.start))});
    }
    return true;
}

qsizetype CodeTextLayout::longRowStart(qsizetype line, qint64 row) const
{
    const qsizetype start = m_buffer.lineStart(line);
    if (row <= 0 || !m_wrap)
        return start;
    const qsizetype end = m_buffer.lineEnd(line);
    const qint64 target = row * wrapColumns();
    qsizetype p = m_buffer.positionAtColumn(line, target);
    // A wide character that starts before the row boundary belongs to the row before.
    if (p < end && m_buffer.columnOf(p) < target)
        p = graphemeAtOrAfter(m_buffer, p + 1, end);
    return graphemeAtOrAfter(m_buffer, p, end);
}

QTextLayout* CodeTextLayout::sliceLayout(Entry& e, qsizetype from, qsizetype to)
{
    auto it = e.rows.find(-1 - from);
    if (it != e.rows.end() && it->second.to == to && it->second.generation == m_formatGeneration)
        return it->second.layout.get();
    Shaped shaped;
    shaped.layout = std::make_unique<QTextLayout>(m_buffer.mid(from, to - from));
    layOutText(*shaped.layout, m_font, m_charWidth, false, 0, m_lineHeight, formatsFor(from, to));
    shaped.generation = m_formatGeneration;
    shaped.from = from;
    shaped.to = to;
    if (e.rows.size() >= kCacheLongRows)
        e.rows.clear();
    QTextLayout* layout = shaped.layout.get();
    e.rows[-1 - from] = std::move(shaped);
    return layout;
}

QTextLayout* CodeTextLayout::longRowLayout(Entry& e, qsizetype line, qint64 row)
{
    const qsizetype from = longRowStart(line, row);
    const qsizetype to = row + 1 < rowsOfLine(line) ? longRowStart(line, row + 1) : m_buffer.lineEnd(line);
    return sliceLayout(e, from, std::max(from, to));
}

// ---------------------------------------------------------------- positions

qint64 CodeTextLayout::rowOfPosition(qsizetype position, bool upstream)
{
    position = std::clamp<qsizetype>(position, 0, m_buffer.length());
    const qsizetype line = m_buffer.lineAt(position);
    Entry* e = entry(line);
    const qint64 rows = rowsOfLine(line);
    qint64 row = 0;
    if (!e->layout) {
        if (!m_wrap)
            return 0;
        row = std::clamp<qint64>(m_buffer.columnOf(position) / wrapColumns(), 0, rows - 1);
        while (row + 1 < rows && longRowStart(line, row + 1) <= position)
            ++row;
        while (row > 0 && longRowStart(line, row) > position)
            --row;
        if (upstream && row > 0 && longRowStart(line, row) == position)
            --row;
        return row;
    }
    const qsizetype index = e->toLayout(position - m_buffer.lineStart(line));
    const int count = e->layout->lineCount();
    for (int i = count - 1; i >= 0; --i) {
        const QTextLine l = e->layout->lineAt(i);
        if (l.textStart() <= index) {
            row = i;
            if (upstream && i > 0 && l.textStart() == index)
                row = i - 1;
            break;
        }
    }
    return row;
}

std::pair<qsizetype, qsizetype> CodeTextLayout::rowRange(qsizetype line, qint64 rowInLine)
{
    Entry* e = entry(line);
    const qsizetype start = m_buffer.lineStart(line);
    const qint64 rows = rowsOfLine(line);
    rowInLine = std::clamp<qint64>(rowInLine, 0, rows - 1);
    if (!e->layout) {
        const qsizetype from = longRowStart(line, rowInLine);
        const qsizetype to = rowInLine + 1 < rows ? longRowStart(line, rowInLine + 1) : m_buffer.lineEnd(line);
        return {from, std::max(from, to)};
    }
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
    if (!e->layout) {
        if (!m_wrap)
            return qreal(m_buffer.columnOf(position)) * m_charWidth;
        const qsizetype lineStart = m_buffer.lineStart(line);
        const qsizetype from = longRowStart(line, row);
        std::vector<Part> parts;
        if (rowParts(*e, line, from - lineStart, position - lineStart, parts)) {
            x = 0;
            for (const Part& part : parts)
                x += part.x1 - part.x0;
        } else {
            x = longRowLayout(*e, line, row)->lineAt(0).cursorToX(int(position - from));
        }
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
    if (!e->layout) {
        if (!m_wrap)
            return m_buffer.positionAtColumn(line, qint64(std::floor(x / m_charWidth + 0.5)), true);
        const qsizetype lineStart = m_buffer.lineStart(line);
        std::vector<Part> parts;
        if (rowParts(*e, line, from - lineStart, to - lineStart, parts)) {
            // The nearest cluster bound, walked: Qt's own answer strays after some emoji sequences.
            p = from;
            qreal best = std::abs(x);
            qreal left = 0;
            for (const Part& part : parts) {
                const QTextLine l = part.layout->lineAt(0);
                for (qsizetype i = part.from; i < part.to;) {
                    i = part.pieceStart + part.layout->nextCursorPosition(int(i - part.pieceStart));
                    const qreal distance = std::abs(left + l.cursorToX(int(i - part.pieceStart)) - part.x0 - x);
                    if (distance < best) {
                        best = distance;
                        p = lineStart + std::min(i, part.to);
                    }
                }
                left += part.x1 - part.x0;
                if (left > x + best)
                    break;
            }
        } else {
            p = from + longRowLayout(*e, line, rowInLine)->lineAt(0).xToCursor(x);
        }
    } else {
        p = m_buffer.lineStart(line) + e->fromLayout(e->layout->lineAt(int(rowInLine)).xToCursor(x));
    }
    if (rowInLine + 1 < rows && p >= to && to > from)
        p = previousCursorPosition(to);
    return std::clamp(p, from, to);
}

qsizetype CodeTextLayout::nextCursorPosition(qsizetype position)
{
    const qsizetype n = m_buffer.length();
    if (position >= n)
        return n;
    const qsizetype line = m_buffer.lineAt(position);
    const qsizetype start = m_buffer.lineStart(line);
    if (position >= m_buffer.lineEnd(line))
        return position + 1;
    Entry* e = entry(line);
    if (e->layout && e->preeditAt < 0)
        return start + e->layout->nextCursorPosition(int(position - start));
    const qsizetype end = m_buffer.lineEnd(line);
    const QString window = m_buffer.mid(position, std::min<qsizetype>(64, end - position));
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, window);
    const qsizetype next = finder.toNextBoundary();
    return position + (next > 0 ? next : 1);
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
    Entry* e = entry(line);
    if (e->layout && e->preeditAt < 0)
        return start + e->layout->previousCursorPosition(int(position - start));
    const qsizetype from = std::max(start, position - 64);
    const QString window = m_buffer.mid(from, position - from);
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, window);
    finder.setPosition(window.size());
    const qsizetype prev = finder.toPreviousBoundary();
    return prev >= 0 && from + prev < position ? from + prev : position - 1;
}

// ---------------------------------------------------------------- drawing

static QList<FormatRange> localSelections(const QList<FormatRange>& selections, qsizetype from, qsizetype to,
    const std::function<qsizetype(qsizetype)>& map)
{
    QList<FormatRange> out;
    for (const FormatRange& s : selections) {
        const qsizetype a = std::max<qsizetype>(s.start, from), b = std::min<qsizetype>(s.start + s.length, to);
        if (b <= a)
            continue;
        const qsizetype la = map(a - from), lb = map(b - from);
        out.append({int(la), int(lb - la), s.format});
    }
    return out;
}

void CodeTextLayout::draw(QPainter& painter, qsizetype line, qint64 firstRow, qint64 lastRow, const QPointF& origin,
    const QList<FormatRange>& selections, const QRectF& clip, qint64 horizontalColumns)
{
    Entry* e = entry(line);
    const qsizetype start = m_buffer.lineStart(line);
    if (e->layout) {
        const QList<FormatRange> sel = localSelections(selections, start, m_buffer.lineEnd(line),
            [e](qsizetype p) { return e->toLayout(p); });
        const QPointF at(origin.x() - qreal(m_wrap ? 0 : horizontalColumns) * m_charWidth, origin.y());
        e->layout->draw(&painter, at, sel, clip);
        return;
    }
    auto identity = [](qsizetype p) { return p; };
    if (!m_wrap) {
        // Only the slice of the line that lies in the view is shaped.
        const qint64 columns = qint64(std::ceil(clip.width() / m_charWidth)) + 2;
        qsizetype from = m_buffer.positionAtColumn(line, horizontalColumns);
        if (from > start)
            from = previousCursorPosition(from);
        const qsizetype to = std::max(from, m_buffer.positionAtColumn(line, horizontalColumns + columns));
        QTextLayout* slice = sliceLayout(*e, from, to);
        const qreal x = origin.x() + qreal(m_buffer.columnOf(from) - horizontalColumns) * m_charWidth;
        slice->draw(&painter, QPointF(x, origin.y()), localSelections(selections, from, to, identity), clip);
        return;
    }
    const qint64 rows = rowsOfLine(line);
    std::vector<Part> parts;
    for (qint64 r = std::max<qint64>(0, firstRow); r <= std::min(lastRow, rows - 1); ++r) {
        const qsizetype rowStart = longRowStart(line, r);
        const qsizetype rowEnd = std::max(rowStart, r + 1 < rows ? longRowStart(line, r + 1) : m_buffer.lineEnd(line));
        if (rowParts(*e, line, rowStart - start, rowEnd - start, parts)) {
            // Each part is its piece drawn shifted and cut to the part's own columns of the row;
            // above and below, glyphs taller than the row may reach out as they would unshifted.
            qreal x = origin.x();
            const qreal y = origin.y() + qreal(r) * m_lineHeight;
            for (const Part& part : parts) {
                const QRectF span = QRectF(x, y - m_lineHeight, part.x1 - part.x0, 3 * m_lineHeight).intersected(clip);
                if (!span.isEmpty()) {
                    const qsizetype pieceFrom = start + part.pieceStart;
                    painter.save();
                    painter.setClipRect(span, Qt::IntersectClip);
                    part.layout->draw(&painter, QPointF(x - part.x0, y),
                        localSelections(selections, pieceFrom, pieceFrom + part.layout->text().size(), identity), span);
                    painter.restore();
                }
                x += part.x1 - part.x0;
            }
            continue;
        }
        QTextLayout* row = longRowLayout(*e, line, r);
        const qsizetype from = longRowStart(line, r);
        const qsizetype to = from + row->text().size();
        row->draw(&painter, QPointF(origin.x(), origin.y() + qreal(r) * m_lineHeight),
            localSelections(selections, from, to, identity), clip);
    }
}
