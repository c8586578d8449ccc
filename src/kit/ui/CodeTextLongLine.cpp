#include "kit/ui/CodeTextLongLine.h"

#include "kit/CodeTextBuffer.h"
#include "kit/GraphemeClusters.h"

#include <QPainter>
#include <QTextBoundaryFinder>

#include <algorithm>
#include <cmath>

namespace {

constexpr size_t kCacheSlices = 512; // shaped row slices kept
constexpr size_t kCachePieces = 512; // shaped pieces kept
constexpr qsizetype kPieceUnits = 48;
constexpr qsizetype kPieceMargin = 8; // an edit this near a piece's bound reshapes the neighbour too

using FormatRange = QTextLayout::FormatRange;

qsizetype graphemeAtOrAfter(const CodeTextBuffer& buffer, qsizetype position, qsizetype lineEnd)
{
    if (position <= 0 || position >= lineEnd || buffer.at(position - 1) == QLatin1Char('\n'))
        return std::min(position, lineEnd);
    return GraphemeClusters::next(buffer, GraphemeClusters::previous(buffer, position), lineEnd);
}

// Where a piece may end at or after `target`: between two printable ASCII characters other than
// spaces, else at a grapheme boundary away from spaces, else at the next grapheme boundary. A
// space takes its font from the text around it, so a bound next to one would change its width.
qsizetype pieceBreak(QStringView text, qsizetype target)
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

qsizetype pieceBreakNear(const CodeTextBuffer& buffer, qsizetype line, qsizetype lineLength, qsizetype target)
{
    const qsizetype from = std::max<qsizetype>(0, target - 32);
    const QString window = buffer.mid(buffer.lineStart(line) + from, std::min(lineLength, target + 48) - from);
    return from + pieceBreak(window, target - from);
}

bool hasRightToLeft(QStringView text)
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

QList<FormatRange> localSelections(const QList<FormatRange>& selections, qsizetype from, qsizetype to)
{
    QList<FormatRange> out;
    for (const FormatRange& s : selections) {
        const qsizetype a = std::max<qsizetype>(s.start, from), b = std::min<qsizetype>(s.start + s.length, to);
        if (b > a)
            out.append({int(a - from), int(b - a), s.format});
    }
    return out;
}

} // namespace

struct CodeTextLongLine::Piece {
    qsizetype start = 0; // within the line
    std::unique_ptr<QTextLayout> layout;
    QList<FormatRange> formats;
    quint64 generation = 0;
    quint64 used = 0;
    bool rightToLeft = false;
    bool uncut = false; // a stretch not cut into pieces yet; never shaped
};

struct CodeTextLongLine::Slice {
    std::unique_ptr<QTextLayout> layout;
    quint64 generation = 0;
    qsizetype to = 0;
};

CodeTextLongLine::CodeTextLongLine() = default;

CodeTextLongLine::~CodeTextLongLine() = default;

qsizetype CodeTextLongLine::pieceEnd(size_t i) const
{
    return i + 1 < m_pieces.size() ? m_pieces[i + 1].start : m_piecesLength;
}

size_t CodeTextLongLine::pieceAt(qsizetype local) const
{
    auto it = std::upper_bound(m_pieces.begin(), m_pieces.end(), local,
        [](qsizetype p, const Piece& piece) { return p < piece.start; });
    return it == m_pieces.begin() ? 0 : size_t(it - m_pieces.begin() - 1);
}

// ---------------------------------------------------------------- clusters

qsizetype CodeTextLongLine::previousCluster(const CodeTextBuffer& buffer, qsizetype position, qsizetype lineStart)
{
    return std::max(lineStart, GraphemeClusters::previous(buffer, position));
}

// ---------------------------------------------------------------- pieces

void CodeTextLongLine::splitPieces(const Context& c)
{
    // One uncut stretch, cut where rows are drawn.
    m_pieces.clear();
    m_shapedPieces = 0;
    m_piecesLength = c.buffer.lineLength(c.line);
    m_pieces.emplace_back().uncut = true;
}

void CodeTextLongLine::cutPieces(const Context& c, qsizetype from, qsizetype to)
{
    for (size_t i = pieceAt(from); i < m_pieces.size() && m_pieces[i].start < std::max(to, from + 1); ++i) {
        if (!m_pieces[i].uncut)
            continue;
        const qsizetype start = m_pieces[i].start, end = pieceEnd(i);
        const qsizetype want = std::min(std::max(to, from + 1), end);
        const qsizetype a =
            from - start < 2 * kPieceUnits ? start : pieceBreakNear(c.buffer, c.line, m_piecesLength, from - kPieceUnits);
        const qsizetype b = end - want < 2 * kPieceUnits ? end : pieceBreakNear(c.buffer, c.line, m_piecesLength, want);
        std::vector<Piece> cut;
        if (a > start) {
            Piece& before = cut.emplace_back();
            before.start = start;
            before.uncut = true;
        }
        const QString text = c.buffer.mid(c.buffer.lineStart(c.line) + a, b - a);
        for (qsizetype at = 0;;) {
            cut.emplace_back().start = a + at;
            const qsizetype next = pieceBreak(text, at + kPieceUnits);
            at = next > at ? next : at + kPieceUnits;
            if (at >= text.size())
                break;
        }
        if (b < end) {
            Piece& rest = cut.emplace_back();
            rest.start = b;
            rest.uncut = true;
        }
        const auto at = m_pieces.erase(m_pieces.begin() + qsizetype(i));
        m_pieces.insert(at, std::make_move_iterator(cut.begin()), std::make_move_iterator(cut.end()));
    }
}

void CodeTextLongLine::edited(const CodeTextBuffer& buffer, qsizetype line, qsizetype position, qsizetype removed,
    qsizetype added)
{
    // Rows before the edit keep their text and their shapes.
    for (auto r = m_slices.begin(); r != m_slices.end();)
        r = r->second.to >= position ? m_slices.erase(r) : std::next(r);
    if (m_pieces.empty())
        return;
    const qsizetype lineStart = buffer.lineStart(line);
    position -= lineStart;
    const qsizetype oldLength = m_piecesLength;
    const qsizetype delta = added - removed;
    if (oldLength + delta != buffer.lineLength(line) || position < 0 || position + removed > oldLength) {
        m_pieces.clear();
        return;
    }
    // The pieces the edit touches, with a margin: a cluster may now reach over a bound next to it.
    size_t first = pieceAt(std::max<qsizetype>(0, position - kPieceMargin));
    size_t last = pieceAt(std::min(oldLength, position + removed + kPieceMargin));
    // Farther still when the text now makes a bound cut a cluster (a run of flags pairs anew)
    // or touch a space.
    const qsizetype newLength = oldLength + delta;
    auto stable = [&](qsizetype bound) {
        const qsizetype from = std::max<qsizetype>(0, bound - 32);
        const QString window = buffer.mid(lineStart + from, std::min(newLength, bound + 32) - from);
        const qsizetype at = bound - from;
        if (at <= 0 || at >= window.size())
            return true;
        if (window[at - 1].isSpace() || window[at].isSpace())
            return false;
        QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, window);
        finder.setPosition(at);
        return finder.isAtBoundary();
    };
    for (int guard = 0; guard < 8 && first > 0 && !stable(m_pieces[first].start); ++guard)
        --first;
    for (int guard = 0; guard < 8 && last + 1 < m_pieces.size() && !stable(m_pieces[last + 1].start + delta); ++guard)
        ++last;
    const qsizetype start = m_pieces[first].start;
    const qsizetype end = pieceEnd(last) + delta;
    std::vector<Piece> fresh;
    if (end > start) {
        // Cut again when drawn.
        Piece& piece = fresh.emplace_back();
        piece.start = start;
        piece.uncut = end - start >= 2 * kPieceUnits;
    }
    for (size_t i = first; i <= last; ++i)
        m_shapedPieces -= m_pieces[i].layout ? 1 : 0;
    for (size_t i = last + 1; i < m_pieces.size(); ++i)
        m_pieces[i].start += delta;
    const auto at = m_pieces.erase(m_pieces.begin() + qsizetype(first), m_pieces.begin() + qsizetype(last) + 1);
    m_pieces.insert(at, std::make_move_iterator(fresh.begin()), std::make_move_iterator(fresh.end()));
    m_piecesLength = newLength;
    if (m_pieces.empty())
        m_pieces.emplace_back();
}

void CodeTextLongLine::trimPieces()
{
    if (m_shapedPieces < kCachePieces)
        return;
    std::vector<quint64> uses;
    for (const Piece& p : m_pieces)
        if (p.layout)
            uses.push_back(p.used);
    const size_t keep = kCachePieces / 2;
    std::nth_element(uses.begin(), uses.begin() + qsizetype(uses.size() - keep), uses.end());
    const quint64 cut = uses[uses.size() - keep];
    for (Piece& p : m_pieces) {
        if (p.layout && p.used < cut) {
            p.layout.reset();
            --m_shapedPieces;
        }
    }
}

bool CodeTextLongLine::rowParts(const Context& c, qsizetype from, qsizetype to, std::vector<Part>& parts)
{
    parts.clear();
    if (m_pieces.empty() || m_piecesLength != c.buffer.lineLength(c.line))
        splitPieces(c);
    cutPieces(c, from, to);
    const qsizetype lineStart = c.buffer.lineStart(c.line);
    for (size_t i = pieceAt(from); i < m_pieces.size() && m_pieces[i].start < std::max(to, from + 1); ++i) {
        Piece& p = m_pieces[i];
        const qsizetype end = pieceEnd(i);
        if (!p.layout || p.generation != c.formatGeneration) {
            QList<FormatRange> formats = c.formats(lineStart + p.start, lineStart + end);
            if (!p.layout || formats != p.formats) {
                trimPieces();
                if (!p.layout)
                    ++m_shapedPieces;
                p.layout = std::make_unique<QTextLayout>(c.buffer.mid(lineStart + p.start, end - p.start));
                c.shape(*p.layout, formats);
                p.formats = std::move(formats);
                p.rightToLeft = hasRightToLeft(p.layout->text());
            }
            p.generation = c.formatGeneration;
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

// ---------------------------------------------------------------- rows

qsizetype CodeTextLongLine::rowStart(const Context& c, qint64 row) const
{
    const qsizetype start = c.buffer.lineStart(c.line);
    if (row <= 0 || !c.wrap)
        return start;
    const qsizetype end = c.buffer.lineEnd(c.line);
    const qint64 target = row * c.wrapColumns;
    qsizetype p = c.buffer.positionAtColumn(c.line, target);
    // A wide character that starts before the row boundary belongs to the row before.
    if (p < end && c.buffer.columnOf(p) < target)
        p = graphemeAtOrAfter(c.buffer, p + 1, end);
    return graphemeAtOrAfter(c.buffer, p, end);
}

QTextLayout* CodeTextLongLine::sliceLayout(const Context& c, qsizetype from, qsizetype to)
{
    auto it = m_slices.find(from);
    if (it != m_slices.end() && it->second.to == to && it->second.generation == c.formatGeneration)
        return it->second.layout.get();
    Slice slice;
    slice.layout = std::make_unique<QTextLayout>(c.buffer.mid(from, to - from));
    c.shape(*slice.layout, c.formats(from, to));
    slice.generation = c.formatGeneration;
    slice.to = to;
    if (m_slices.size() >= kCacheSlices)
        m_slices.clear();
    QTextLayout* layout = slice.layout.get();
    m_slices[from] = std::move(slice);
    return layout;
}

QTextLayout* CodeTextLongLine::rowLayout(const Context& c, qint64 row)
{
    const auto [from, to] = rowRange(c, row);
    return sliceLayout(c, from, to);
}

std::pair<qsizetype, qsizetype> CodeTextLongLine::rowRange(const Context& c, qint64 row)
{
    const qsizetype from = rowStart(c, row);
    const qsizetype to = row + 1 < c.rows ? rowStart(c, row + 1) : c.buffer.lineEnd(c.line);
    return {from, std::max(from, to)};
}

qint64 CodeTextLongLine::rowOfPosition(const Context& c, qsizetype position, bool upstream)
{
    if (!c.wrap)
        return 0;
    qint64 row = std::clamp<qint64>(c.buffer.columnOf(position) / c.wrapColumns, 0, c.rows - 1);
    while (row + 1 < c.rows && rowStart(c, row + 1) <= position)
        ++row;
    while (row > 0 && rowStart(c, row) > position)
        --row;
    if (upstream && row > 0 && rowStart(c, row) == position)
        --row;
    return row;
}

qreal CodeTextLongLine::xOfPosition(const Context& c, qsizetype position, qint64 row)
{
    if (!c.wrap)
        return qreal(c.buffer.columnOf(position)) * c.charWidth;
    const qsizetype lineStart = c.buffer.lineStart(c.line);
    const qsizetype from = rowStart(c, row);
    std::vector<Part> parts;
    if (!rowParts(c, from - lineStart, position - lineStart, parts))
        return rowLayout(c, row)->lineAt(0).cursorToX(int(position - from));
    qreal x = 0;
    for (const Part& part : parts)
        x += part.x1 - part.x0;
    return x;
}

qsizetype CodeTextLongLine::positionAtX(const Context& c, qint64 row, qreal x)
{
    if (!c.wrap)
        return c.buffer.positionAtColumn(c.line, qint64(std::floor(x / c.charWidth + 0.5)), true);
    const auto [from, to] = rowRange(c, row);
    const qsizetype lineStart = c.buffer.lineStart(c.line);
    std::vector<Part> parts;
    if (!rowParts(c, from - lineStart, to - lineStart, parts))
        return from + rowLayout(c, row)->lineAt(0).xToCursor(x);
    // The nearest cluster bound, walked: Qt's own answer strays after some emoji sequences.
    qsizetype p = from;
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
    return p;
}

// ---------------------------------------------------------------- drawing

void CodeTextLongLine::draw(const Context& c, QPainter& painter, qint64 firstRow, qint64 lastRow,
    const QPointF& origin, const QList<FormatRange>& selections, const QRectF& clip, qint64 horizontalColumns)
{
    const qsizetype start = c.buffer.lineStart(c.line);
    if (!c.wrap) {
        // Only the slice of the line that lies in the view is shaped.
        const qint64 columns = qint64(std::ceil(clip.width() / c.charWidth)) + 2;
        qsizetype from = c.buffer.positionAtColumn(c.line, horizontalColumns);
        if (from > start)
            from = previousCluster(c.buffer, from, start);
        const qsizetype to = std::max(from, c.buffer.positionAtColumn(c.line, horizontalColumns + columns));
        QTextLayout* slice = sliceLayout(c, from, to);
        const qreal x = origin.x() + qreal(c.buffer.columnOf(from) - horizontalColumns) * c.charWidth;
        slice->draw(&painter, QPointF(x, origin.y()), localSelections(selections, from, to), clip);
        return;
    }
    std::vector<Part> parts;
    for (qint64 r = std::max<qint64>(0, firstRow); r <= std::min(lastRow, c.rows - 1); ++r) {
        const auto [rowFrom, rowTo] = rowRange(c, r);
        const qreal y = origin.y() + qreal(r) * c.lineHeight;
        if (!rowParts(c, rowFrom - start, rowTo - start, parts)) {
            QTextLayout* row = sliceLayout(c, rowFrom, rowTo);
            row->draw(&painter, QPointF(origin.x(), y),
                localSelections(selections, rowFrom, rowFrom + row->text().size()), clip);
            continue;
        }
        // Each part is its piece drawn shifted and cut to the part's own columns of the row;
        // above and below, glyphs taller than the row may reach out as they would unshifted.
        qreal x = origin.x();
        for (const Part& part : parts) {
            const QRectF span = QRectF(x, y - c.lineHeight, part.x1 - part.x0, 3 * c.lineHeight).intersected(clip);
            if (!span.isEmpty()) {
                const qsizetype pieceFrom = start + part.pieceStart;
                painter.save();
                painter.setClipRect(span, Qt::IntersectClip);
                part.layout->draw(&painter, QPointF(x - part.x0, y),
                    localSelections(selections, pieceFrom, pieceFrom + part.layout->text().size()), span);
                painter.restore();
            }
            x += part.x1 - part.x0;
        }
    }
}
