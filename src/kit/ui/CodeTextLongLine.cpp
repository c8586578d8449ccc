#include "kit/ui/CodeTextLongLine.h"

#include "kit/CodeTextBuffer.h"
#include "kit/GraphemeClusters.h"
#include "kit/TextHelpers.h"

#include <QPainter>

#include <algorithm>
#include <cmath>

namespace {

// Rows are found from a stretch's start: a jump into a stretch shapes at most this much of it on
// the GUI thread (about 16 ms of plain text, more for colour emoji).
constexpr qsizetype kStretchUnits = 16384;
constexpr qsizetype kSegmentUnits = 256;   // shaped at once, at the least
constexpr size_t kShapedSegments = 256;    // shaped segments kept per line
constexpr int kSyncSegments = 1;           // segments shaped after an edit before the old rows are shown

using FormatRange = QTextLayout::FormatRange;

qsizetype clusterAtOrAfter(const CodeTextBuffer& buffer, qsizetype position, qsizetype lineEnd)
{
    if (position <= 0 || position >= lineEnd || buffer.at(position - 1) == QLatin1Char('\n'))
        return std::min(position, lineEnd);
    return GraphemeClusters::next(buffer, GraphemeClusters::previous(buffer, position), lineEnd);
}

} // namespace

struct CodeTextLongLine::Segment {
    qsizetype start = 0;         // within the line
    qsizetype end = 0;           // where its last row ends, the next segment's start
    std::vector<qsizetype> rows; // their starts within the line; the first is `start`
    qint64 firstRow = 0;         // within its stretch
    std::unique_ptr<QTextLayout> layout; // shaped from `start`, perhaps past `end`
    qsizetype shapedTo = 0;
    QList<FormatRange> formats;
    Preedit preedit;
    quint64 generation = 0;
    quint64 used = 0;
};

struct CodeTextLongLine::Stretch {
    qsizetype start = 0;
    std::vector<Segment> segments; // from `start` to `frontier`, in order
    qsizetype frontier = 0;        // where the first row not found yet starts
    bool complete = false;
    qint64 known = 0;              // rows found
    qsizetype provisional = -1;    // from here on rows are the old ones, until settled
    // The columns from `frontier` to the stretch's end, as last measured, and what for: the
    // line's rows are summed often while it is laid out, and a stretch's columns change only
    // when its frontier or its length does.
    mutable qint64 restColumns = -1;
    mutable qsizetype restFrom = -1;
    mutable qsizetype restLength = -1;
};

CodeTextLongLine::CodeTextLongLine() = default;

CodeTextLongLine::~CodeTextLongLine() = default;

// ---------------------------------------------------------------- stretches

qsizetype CodeTextLongLine::stretchEnd(size_t s) const
{
    return s + 1 < m_stretches.size() ? m_stretches[s + 1].start : m_length;
}

size_t CodeTextLongLine::stretchAt(qsizetype local) const
{
    auto it = std::upper_bound(m_stretches.begin(), m_stretches.end(), local,
        [](qsizetype p, const Stretch& s) { return p < s.start; });
    return it == m_stretches.begin() ? 0 : size_t(it - m_stretches.begin() - 1);
}

void CodeTextLongLine::findDirection(const Context& c)
{
    // The first strong character outside isolates decides, as for a paragraph laid out whole.
    const qsizetype start = c.buffer.lineStart(c.line);
    m_direction = Qt::LeftToRight;
    m_strongAt = -1;
    int isolates = 0;
    for (qsizetype at = 0; at < m_length; at += 4096) {
        const QString window = c.buffer.mid(start + at, std::min<qsizetype>(4096, m_length - at));
        for (qsizetype i = 0; i < window.size(); ++i) {
            switch (window[i].direction()) {
            case QChar::DirLRI: case QChar::DirRLI: case QChar::DirFSI:
                ++isolates;
                break;
            case QChar::DirPDI:
                isolates = std::max(0, isolates - 1);
                break;
            case QChar::DirL: case QChar::DirR: case QChar::DirAL:
                if (isolates == 0) {
                    m_strongAt = at + i;
                    m_direction = window[i].direction() == QChar::DirL ? Qt::LeftToRight : Qt::RightToLeft;
                    return;
                }
                break;
            default:
                break;
            }
        }
    }
}

void CodeTextLongLine::cutStretches(const Context& c)
{
    m_stretches.clear();
    m_shaped = 0;
    m_length = c.buffer.lineLength(c.line);
    const qsizetype lineStart = c.buffer.lineStart(c.line);
    for (qsizetype start = 0;;) {
        m_stretches.emplace_back().start = start;
        m_stretches.back().frontier = start;
        const qsizetype target = start + kStretchUnits;
        if (m_length - target < kStretchUnits / 2)
            break;
        // After a space where one is near, so that the forced row end falls where a row may end.
        const QString window = c.buffer.mid(lineStart + target - 1, std::min<qsizetype>(257, m_length - target + 1));
        qsizetype bound = -1;
        for (qsizetype i = 1; i < window.size() && bound < 0; ++i)
            if (window[i - 1] == QLatin1Char(' ') && window[i] != QLatin1Char(' '))
                bound = target - 1 + i;
        if (bound < 0)
            bound = clusterAtOrAfter(c.buffer, lineStart + target, lineStart + m_length) - lineStart;
        start = bound;
    }
    m_rowsDirty = true;
}

void CodeTextLongLine::prepare(const Context& c)
{
    const qsizetype lineStart = c.buffer.lineStart(c.line);
    if (m_stretches.empty() || m_length != c.buffer.lineLength(c.line)) {
        cutStretches(c);
        findDirection(c);
        m_preeditAt = -1;
        m_preeditLength = 0;
    } else if (m_strongAt == -2) {
        const Qt::LayoutDirection was = m_direction;
        findDirection(c);
        if (m_direction != was)
            cutStretches(c);
    }
    const qsizetype at = c.preeditAt >= lineStart && c.preeditAt <= lineStart + m_length ? c.preeditAt - lineStart : -1;
    const qsizetype length = at >= 0 ? c.preeditLength : 0;
    if (at != m_preeditAt || length != m_preeditLength || (at >= 0 && m_generation != c.formatGeneration)) {
        // A composition moves the rows around it as typing would; a new composition of the same
        // length is checked by the formats' generation, which every change of it bumps.
        const qsizetype old = m_preeditAt;
        m_preeditAt = at;
        m_preeditLength = length;
        for (qsizetype p : {old, at}) {
            if (p >= 0) {
                dropSync();
                startSync(stretchAt(p), p, 0, 0);
            }
        }
    }
    m_generation = c.formatGeneration;
}

void CodeTextLongLine::edited(const CodeTextBuffer& buffer, qsizetype line, qsizetype position, qsizetype removed,
    qsizetype added)
{
    m_slice.reset();
    dropSync();
    if (m_stretches.empty())
        return;
    const qsizetype local = position - buffer.lineStart(line);
    const qsizetype delta = added - removed;
    if (m_length + delta != buffer.lineLength(line) || local < 0 || local + removed > m_length) {
        m_stretches.clear();
        return;
    }
    if (m_strongAt < 0 || local <= m_strongAt)
        m_strongAt = -2; // found again before the next use
    // An edit that reaches over stretches joins them.
    const size_t s = stretchAt(local);
    const size_t t = stretchAt(local + removed);
    if (t > s)
        m_stretches.erase(m_stretches.begin() + qsizetype(s) + 1, m_stretches.begin() + qsizetype(t) + 1);
    for (size_t i = s + 1; i < m_stretches.size(); ++i) {
        Stretch& st = m_stretches[i];
        st.start += delta;
        st.frontier += delta;
        if (st.provisional >= 0)
            st.provisional += delta;
        for (Segment& g : st.segments) {
            g.start += delta;
            g.end += delta;
            g.shapedTo += delta;
            for (qsizetype& r : g.rows)
                r += delta;
        }
    }
    m_length += delta;
    m_rowsDirty = true;
    Stretch& st = m_stretches[s];
    if (st.provisional > local)
        st.provisional = std::max(local, st.provisional + delta);
    const qsizetype size = stretchEnd(s) - st.start;
    if (m_stretches.size() > 1 && (size < kStretchUnits / 4 || size > 4 * kStretchUnits)) {
        m_stretches.clear(); // cut again when next used
        return;
    }
    startSync(s, local, removed, added);
}

void CodeTextLongLine::dropSync()
{
    for (const Segment& g : m_sync.kept)
        m_shaped -= g.layout ? 1 : 0;
    m_sync = {};
}

void CodeTextLongLine::startSync(size_t s, qsizetype local, qsizetype removed, qsizetype added)
{
    Stretch& st = m_stretches[s];
    const qsizetype delta = added - removed;
    const qsizetype oldFrontier = st.frontier;
    const bool wasComplete = st.complete;
    if (local > oldFrontier)
        return; // no rows found there yet
    // Rows are found again from the row before the edit's row; the segment that holds it keeps
    // the rows before that one, and its shapes.
    size_t g = 0;
    while (g + 1 < st.segments.size() && st.segments[g + 1].start <= local)
        ++g;
    std::vector<Segment> kept; // after the edit, in their new places
    qsizetype restart = std::min(oldFrontier, local);
    size_t keep = 0; // segments left as they are
    if (!st.segments.empty()) {
        const std::vector<qsizetype>& rows = st.segments[g].rows;
        const auto in = std::upper_bound(rows.begin(), rows.end(), local);
        size_t row = in == rows.begin() ? 0 : size_t(in - rows.begin() - 1);
        size_t at = g;
        if (row == 0 && g > 0) {
            at = g - 1;
            row = st.segments[at].rows.size();
        }
        // `row` is now one past the row before the edit's row, within segment `at`.
        restart = row > 0 ? st.segments[at].rows[row - 1] : st.segments[at].start;
        keep = at;
        if (row > 1) {
            Segment& before = st.segments[at];
            before.rows.resize(row - 1);
            before.end = restart;
            keep = at + 1;
        }
        restart = std::min(restart, local);
        for (size_t i = keep; i < st.segments.size(); ++i) {
            Segment& old = st.segments[i];
            if (i > g && old.start > local + removed) {
                old.start += delta;
                old.end += delta;
                old.shapedTo += delta;
                for (qsizetype& r : old.rows)
                    r += delta;
                kept.push_back(std::move(old));
            } else if (old.layout) {
                --m_shaped;
            }
        }
    }
    st.segments.resize(keep);
    st.known = st.segments.empty() ? 0 : st.segments.back().firstRow + qint64(st.segments.back().rows.size());
    st.frontier = restart;
    st.complete = false;
    m_sync.active = true;
    m_sync.stretch = s;
    m_sync.kept = std::move(kept);
    m_sync.after = local + added;
    m_sync.limit = oldFrontier >= local + removed ? oldFrontier + delta : local + added;
    m_sync.complete = wasComplete;
    m_sync.budget = kSyncSegments;
    m_rowsDirty = true;
}

// ---------------------------------------------------------------- rows

bool CodeTextLongLine::unsettled() const
{
    for (const Stretch& st : m_stretches)
        if (st.provisional >= 0)
            return true;
    return false;
}

bool CodeTextLongLine::settleMore(const Context& c)
{
    prepare(c);
    for (size_t s = 0; s < m_stretches.size(); ++s) {
        Stretch& st = m_stretches[s];
        if (st.provisional < 0)
            continue;
        if (st.provisional > st.frontier || !c.wrap) {
            st.provisional = -1;
            continue;
        }
        const qsizetype at = st.provisional;
        dropSync();
        startSync(s, at, 0, 0);
        st.provisional = -1;
        while (m_sync.active && !st.complete)
            findSegment(c, s);
        if (st.provisional == at)
            st.provisional = -1; // forced at the same place again: nothing moves any more
        m_rowsDirty = true;
        return unsettled();
    }
    return false;
}

qint64 CodeTextLongLine::estimatedRows(const Context& c, size_t s) const
{
    const Stretch& st = m_stretches[s];
    if (st.complete || !c.wrap)
        return std::max<qint64>(1, st.known);
    const qsizetype end = stretchEnd(s);
    if (st.restFrom != st.frontier || st.restLength != end - st.start) {
        const qsizetype lineStart = c.buffer.lineStart(c.line);
        st.restColumns = c.buffer.columnOf(lineStart + end) - c.buffer.columnOf(lineStart + st.frontier);
        st.restFrom = st.frontier;
        st.restLength = end - st.start;
    }
    return st.known + std::max<qint64>(1, (st.restColumns + c.wrapColumns - 1) / c.wrapColumns);
}

void CodeTextLongLine::countRows(const Context& c)
{
    if (!m_rowsDirty)
        return;
    m_firstRows.resize(m_stretches.size());
    qint64 total = 0;
    for (size_t s = 0; s < m_stretches.size(); ++s) {
        m_firstRows[s] = total;
        total += estimatedRows(c, s);
    }
    m_rowCount = std::max<qint64>(1, total);
    m_rowsDirty = false;
}

void CodeTextLongLine::findRows(const Context& c, size_t s, qsizetype local, qint64 rows)
{
    Stretch& st = m_stretches[s];
    while (!st.complete && (st.frontier <= local || st.known < rows))
        findSegment(c, s);
}

void CodeTextLongLine::findSegment(const Context& c, size_t s)
{
    Stretch& st = m_stretches[s];
    const qsizetype end = stretchEnd(s);
    m_rowsDirty = true;
    if (st.frontier >= end) {
        st.complete = true;
        return;
    }
    // After an edit, rows that meet the old ones again take the old segments back.
    auto takeBack = [&](std::vector<Segment>::iterator old) {
        for (auto k = old; k != m_sync.kept.end(); ++k) {
            k->firstRow = st.known;
            st.known += qint64(k->rows.size());
            st.segments.push_back(std::move(*k));
        }
        m_sync.kept.erase(old, m_sync.kept.end());
        st.frontier = m_sync.limit;
        st.complete = m_sync.complete;
        dropSync();
    };
    auto settled = [&] { st.provisional = -1; };
    auto keptAt = [&](qsizetype r) {
        auto old = std::lower_bound(m_sync.kept.begin(), m_sync.kept.end(), r,
            [](const Segment& k, qsizetype p) { return k.start < p; });
        return old != m_sync.kept.end() && old->start == r ? old : m_sync.kept.end();
    };
    const bool syncing = m_sync.active && m_sync.stretch == s;
    if (syncing && st.frontier > m_sync.after) {
        if (auto old = keptAt(st.frontier); old != m_sync.kept.end()) {
            takeBack(old);
            settled();
            return;
        }
        if (st.frontier >= m_sync.limit) {
            dropSync();
            return;
        }
    }
    const qsizetype lineStart = c.buffer.lineStart(c.line);
    const qsizetype from = st.frontier;
    Segment g;
    // Two rows and a part, as the rows before measure them: one shaping finds the edited row and
    // the one before it.
    qsizetype first = std::max<qsizetype>(kSegmentUnits, 3 * qsizetype(c.wrapColumns));
    if (!st.segments.empty() && !st.segments.back().rows.empty()) {
        const Segment& last = st.segments.back();
        first = std::max(first, (last.end - last.start) * 5 / qsizetype(2 * last.rows.size()));
    }
    for (qsizetype span = first;; span *= 2) {
        const qsizetype to = from + span >= end
            ? end
            : clusterAtOrAfter(c.buffer, lineStart + from + span, lineStart + end) - lineStart;
        auto layout = std::make_unique<QTextLayout>();
        QList<FormatRange> formats = c.formats(lineStart + from, lineStart + to);
        const Preedit preedit = c.shape(*layout, lineStart + from, lineStart + to, formats, true, m_direction);
        const bool atEnd = to >= end;
        const int lines = layout->lineCount();
        // The last row may go on past the shaped text, so it is found with the next segment.
        if (!atEnd && lines < 2)
            continue;
        g.start = from;
        g.preedit = preedit;
        const int take = atEnd ? lines : lines - 1;
        for (int i = 0; i < take; ++i) {
            const qsizetype r = fromLayout(g, layout->lineAt(i).textStart());
            if (g.rows.empty() || r > g.rows.back())
                g.rows.push_back(r);
        }
        g.end = atEnd ? end : fromLayout(g, layout->lineAt(take).textStart());
        if (!atEnd && g.end <= from) {
            g.rows.clear();
            continue;
        }
        g.layout = std::move(layout);
        g.shapedTo = to;
        g.formats = std::move(formats);
        g.generation = c.formatGeneration;
        g.used = ++m_useClock;
        break;
    }
    if (syncing) {
        for (size_t i = 1; i < g.rows.size(); ++i) {
            const qsizetype r = g.rows[i];
            if (r <= m_sync.after)
                continue;
            const auto old = keptAt(r);
            if (old == m_sync.kept.end() && r < m_sync.limit)
                continue;
            g.rows.resize(i);
            g.end = r;
            g.firstRow = st.known;
            st.known += qint64(g.rows.size());
            ++m_shaped;
            st.segments.push_back(std::move(g));
            if (old != m_sync.kept.end()) {
                takeBack(old);
                settled();
            } else {
                st.frontier = r;
                dropSync();
            }
            trimShapes();
            return;
        }
        if (--m_sync.budget <= 0 && !g.rows.empty()) {
            // Rows that go on moving (text with no slack in its rows) would be shaped again to
            // the end: the old ones are shown from the first that starts within this segment,
            // whose row there ends early, and they are found again between events.
            auto old = std::upper_bound(m_sync.kept.begin(), m_sync.kept.end(), g.start,
                [](qsizetype p, const Segment& k) { return p < k.start; });
            if (old != m_sync.kept.end() && old->start <= g.end) {
                while (g.rows.size() > 1 && g.rows.back() >= old->start)
                    g.rows.pop_back();
                g.end = old->start;
                g.firstRow = st.known;
                st.known += qint64(g.rows.size());
                ++m_shaped;
                const qsizetype cut = old->start;
                st.segments.push_back(std::move(g));
                takeBack(old);
                st.provisional = st.provisional >= 0 ? std::min(st.provisional, cut) : cut;
                trimShapes();
                return;
            }
        }
    }
    g.firstRow = st.known;
    st.known += qint64(g.rows.size());
    st.frontier = g.end;
    st.complete = g.end >= end;
    ++m_shaped;
    st.segments.push_back(std::move(g));
    if (st.complete && m_sync.active && m_sync.stretch == s)
        dropSync();
    trimShapes();
}

CodeTextLongLine::RowAt CodeTextLongLine::locate(const Context& c, qint64 row)
{
    for (;;) {
        countRows(c);
        row = std::clamp<qint64>(row, 0, m_rowCount - 1);
        const size_t s = size_t(std::upper_bound(m_firstRows.begin(), m_firstRows.end(), row) - m_firstRows.begin() - 1);
        const qint64 k = row - m_firstRows[s];
        Stretch& st = m_stretches[s];
        if (k >= st.known) {
            if (!st.complete) {
                findRows(c, s, -1, k + 1);
                continue;
            }
            if (st.segments.empty())
                return {s, 0, -1};
        }
        auto it = std::upper_bound(st.segments.begin(), st.segments.end(), std::min(k, st.known - 1),
            [](qint64 r, const Segment& g) { return r < g.firstRow; });
        const size_t g = size_t(it - st.segments.begin() - 1);
        return {s, g, int(std::min(k, st.known - 1) - st.segments[g].firstRow)};
    }
}

CodeTextLongLine::RowAt CodeTextLongLine::locatePosition(const Context& c, qsizetype local)
{
    const size_t s = stretchAt(local);
    findRows(c, s, std::min(local, stretchEnd(s) - 1), 0);
    countRows(c);
    const Stretch& st = m_stretches[s];
    if (st.segments.empty())
        return {s, 0, -1};
    auto it = std::upper_bound(st.segments.begin(), st.segments.end(), local,
        [](qsizetype p, const Segment& g) { return p < g.start; });
    const size_t g = it == st.segments.begin() ? 0 : size_t(it - st.segments.begin() - 1);
    const std::vector<qsizetype>& rows = st.segments[g].rows;
    const auto r = std::upper_bound(rows.begin(), rows.end(), local);
    return {s, g, r == rows.begin() ? 0 : int(r - rows.begin() - 1)};
}

qint64 CodeTextLongLine::firstRowOf(size_t s, size_t g) const
{
    return m_firstRows[s] + m_stretches[s].segments[g].firstRow;
}

qsizetype CodeTextLongLine::toLayout(const Segment& g, qsizetype local) const
{
    const qsizetype i = local - g.start;
    return g.preedit.at >= 0 && i >= g.preedit.at ? i + g.preedit.length : i;
}

qsizetype CodeTextLongLine::fromLayout(const Segment& g, qsizetype index) const
{
    if (g.preedit.at < 0 || index < g.preedit.at)
        return g.start + index;
    return g.start + (index < g.preedit.at + g.preedit.length ? g.preedit.at : index - g.preedit.length);
}

QTextLayout* CodeTextLongLine::layoutOf(const Context& c, size_t s, size_t gi)
{
    Stretch& st = m_stretches[s];
    Segment& g = st.segments[gi];
    g.used = ++m_useClock;
    if (g.layout && g.generation == c.formatGeneration)
        return g.layout.get();
    const qsizetype lineStart = c.buffer.lineStart(c.line);
    const qsizetype to = g.layout ? g.shapedTo : g.end;
    QList<FormatRange> formats = c.formats(lineStart + g.start, lineStart + to);
    g.generation = c.formatGeneration;
    if (g.layout && formats == g.formats)
        return g.layout.get();
    auto layout = std::make_unique<QTextLayout>();
    g.preedit = c.shape(*layout, lineStart + g.start, lineStart + to, formats, true, m_direction);
    if (!g.layout)
        ++m_shaped;
    g.layout = std::move(layout);
    g.shapedTo = to;
    g.formats = std::move(formats);
    // Colours that change widths (a bold run) may move the rows: they are found again from here.
    bool same = g.layout->lineCount() >= int(g.rows.size());
    for (size_t i = 0; same && i < g.rows.size(); ++i)
        same = fromLayout(g, g.layout->lineAt(int(i)).textStart()) == g.rows[i];
    if (!same) {
        for (size_t i = gi; i < st.segments.size(); ++i)
            m_shaped -= st.segments[i].layout ? 1 : 0;
        st.frontier = g.start;
        st.known = g.firstRow;
        st.complete = false;
        st.segments.resize(gi);
        m_rowsDirty = true;
        return nullptr;
    }
    trimShapes();
    return g.layout.get();
}

void CodeTextLongLine::trimShapes()
{
    if (m_shaped < kShapedSegments + kShapedSegments / 4)
        return;
    std::vector<quint64> uses;
    for (const Stretch& st : m_stretches)
        for (const Segment& g : st.segments)
            if (g.layout)
                uses.push_back(g.used);
    m_shaped = uses.size();
    if (uses.size() <= kShapedSegments)
        return;
    const size_t drop = uses.size() - kShapedSegments / 2;
    std::nth_element(uses.begin(), uses.begin() + qsizetype(drop), uses.end());
    const quint64 cut = uses[drop];
    for (Stretch& st : m_stretches)
        for (Segment& g : st.segments)
            if (g.layout && g.used < cut) {
                g.layout.reset();
                --m_shaped;
            }
}

qint64 CodeTextLongLine::rowCount(const Context& c)
{
    prepare(c);
    if (!c.wrap)
        return 1;
    countRows(c);
    return m_rowCount;
}

std::pair<qsizetype, qsizetype> CodeTextLongLine::rowRange(const Context& c, qint64 row)
{
    prepare(c);
    const qsizetype lineStart = c.buffer.lineStart(c.line);
    if (!c.wrap)
        return {lineStart, lineStart + m_length};
    const RowAt at = locate(c, row);
    if (at.index < 0)
        return {lineStart, lineStart + m_length};
    const Segment& g = m_stretches[at.stretch].segments[at.segment];
    const qsizetype from = g.rows[size_t(at.index)];
    const qsizetype to = size_t(at.index) + 1 < g.rows.size() ? g.rows[size_t(at.index) + 1] : g.end;
    return {lineStart + from, lineStart + std::max(from, to)};
}

qint64 CodeTextLongLine::rowOfPosition(const Context& c, qsizetype position, bool upstream)
{
    prepare(c);
    if (!c.wrap)
        return 0;
    const qsizetype local = position - c.buffer.lineStart(c.line);
    const RowAt at = locatePosition(c, local);
    if (at.index < 0)
        return 0;
    const Segment& g = m_stretches[at.stretch].segments[at.segment];
    const qint64 row = firstRowOf(at.stretch, at.segment) + at.index;
    return upstream && row > 0 && g.rows[size_t(at.index)] == local ? row - 1 : row;
}

qreal CodeTextLongLine::xOfPosition(const Context& c, qsizetype position, qint64 row)
{
    prepare(c);
    if (!c.wrap)
        return qreal(c.buffer.columnOf(position)) * c.charWidth;
    const qsizetype local = position - c.buffer.lineStart(c.line);
    for (;;) {
        const RowAt at = locate(c, row);
        if (at.index < 0)
            return 0;
        QTextLayout* layout = layoutOf(c, at.stretch, at.segment);
        if (!layout)
            continue;
        const Segment& g = m_stretches[at.stretch].segments[at.segment];
        qsizetype index = std::clamp<qsizetype>(toLayout(g, local), 0, layout->text().size());
        if (g.preedit.at >= 0 && local - g.start == g.preedit.at)
            index = g.preedit.at + g.preedit.length; // the caret after the composed text
        return layout->lineAt(at.index).cursorToX(int(index));
    }
}

qsizetype CodeTextLongLine::positionAtX(const Context& c, qint64 row, qreal x)
{
    prepare(c);
    const qsizetype lineStart = c.buffer.lineStart(c.line);
    if (!c.wrap)
        return c.buffer.positionAtColumn(c.line, qint64(std::floor(x / c.charWidth + 0.5)), true);
    for (;;) {
        const RowAt at = locate(c, row);
        if (at.index < 0)
            return lineStart;
        QTextLayout* layout = layoutOf(c, at.stretch, at.segment);
        if (!layout)
            continue;
        const Segment& g = m_stretches[at.stretch].segments[at.segment];
        return lineStart + fromLayout(g, layout->lineAt(at.index).xToCursor(x));
    }
}

qsizetype CodeTextLongLine::visualCursorPosition(const Context& c, qsizetype position, bool right)
{
    prepare(c);
    if (!c.wrap)
        return -1;
    const qsizetype lineStart = c.buffer.lineStart(c.line);
    const qsizetype local = position - lineStart;
    for (;;) {
        const RowAt at = locatePosition(c, local);
        if (at.index < 0)
            return -1;
        QTextLayout* layout = layoutOf(c, at.stretch, at.segment);
        if (!layout)
            continue;
        const Segment& g = m_stretches[at.stretch].segments[at.segment];
        if (g.preedit.at >= 0 || !TextHelpers::holdsRightToLeft(layout->text()))
            return -1;
        const int index = int(toLayout(g, local));
        const int moved = right ? layout->rightCursorPosition(index) : layout->leftCursorPosition(index);
        // At the edge of the shaped text the logical order goes on into the next segment.
        return moved == index ? -1 : lineStart + fromLayout(g, moved);
    }
}

// ---------------------------------------------------------------- drawing

QTextLayout* CodeTextLongLine::sliceLayout(const Context& c, qsizetype from, qsizetype to)
{
    if (m_slice && m_sliceFrom == from && m_sliceTo == to && m_sliceGeneration == c.formatGeneration)
        return m_slice.get();
    m_slice = std::make_unique<QTextLayout>();
    c.shape(*m_slice, from, to, c.formats(from, to), false, m_direction);
    m_sliceFrom = from;
    m_sliceTo = to;
    m_sliceGeneration = c.formatGeneration;
    return m_slice.get();
}

static QList<FormatRange> localSelections(const QList<FormatRange>& selections, qsizetype from, qsizetype to,
    const std::function<qsizetype(qsizetype)>& toLayout)
{
    QList<FormatRange> out;
    for (const FormatRange& s : selections) {
        const qsizetype a = std::max<qsizetype>(s.start, from), b = std::min<qsizetype>(s.start + s.length, to);
        if (b > a)
            out.append({int(toLayout(a)), int(toLayout(b) - toLayout(a)), s.format});
    }
    return out;
}

void CodeTextLongLine::draw(const Context& c, QPainter& painter, qint64 firstRow, qint64 lastRow,
    const QPointF& origin, const QList<FormatRange>& selections, const QRectF& clip, qint64 horizontalColumns)
{
    prepare(c);
    const qsizetype start = c.buffer.lineStart(c.line);
    if (!c.wrap) {
        // Only the slice of the line that lies in the view is shaped.
        const qint64 columns = qint64(std::ceil(clip.width() / c.charWidth)) + 2;
        qsizetype from = c.buffer.positionAtColumn(c.line, horizontalColumns);
        if (from > start)
            from = std::max(start, GraphemeClusters::previous(c.buffer, from));
        const qsizetype to = std::max(from, c.buffer.positionAtColumn(c.line, horizontalColumns + columns));
        QTextLayout* slice = sliceLayout(c, from, to);
        const qreal x = origin.x() + qreal(c.buffer.columnOf(from) - horizontalColumns) * c.charWidth;
        slice->draw(&painter, QPointF(x, origin.y()),
            localSelections(selections, from, to, [from](qsizetype p) { return p - from; }), clip);
        return;
    }
    for (qint64 r = std::max<qint64>(0, firstRow); r <= lastRow;) {
        countRows(c);
        if (r >= m_rowCount)
            break;
        const RowAt at = locate(c, r);
        if (at.index < 0)
            break;
        QTextLayout* layout = layoutOf(c, at.stretch, at.segment);
        if (!layout)
            continue;
        const Segment& g = m_stretches[at.stretch].segments[at.segment];
        // The rows of one segment in view are drawn at once, each line of its layout at its row.
        const qint64 segmentFirst = firstRowOf(at.stretch, at.segment);
        const qint64 last = std::min(lastRow, segmentFirst + qint64(g.rows.size()) - 1);
        const QPointF at0(origin.x(), origin.y() + qreal(segmentFirst) * c.lineHeight);
        const QRectF rows(clip.left(), origin.y() + qreal(r) * c.lineHeight + 0.5, clip.width(),
            qreal(last - r + 1) * c.lineHeight - 1);
        const qsizetype from = start + g.start, to = start + g.shapedTo;
        const Segment* seg = &g;
        layout->draw(&painter, at0,
            localSelections(selections, from, to, [this, seg, start](qsizetype p) { return toLayout(*seg, p - start); }),
            rows.intersected(clip.adjusted(0, -c.lineHeight, 0, c.lineHeight)));
        r = last + 1;
    }
}
