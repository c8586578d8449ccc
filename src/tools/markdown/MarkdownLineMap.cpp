#include "tools/markdown/MarkdownLineMap.h"

#include <QMap>

#include <algorithm>
#include <cmath>

namespace {

constexpr double maxMagnitude = 1e9;

bool isWhole(double v) { return std::trunc(v) == v; }

} // namespace

std::optional<MarkdownLineMap::Block> MarkdownLineMap::Block::fromRow(const QList<double>& row)
{
    if (row.size() != 4)
        return std::nullopt;
    for (double v : row) {
        if (!std::isfinite(v) || std::fabs(v) > maxMagnitude)
            return std::nullopt;
    }
    if (!isWhole(row[0]) || row[0] < 0)
        return std::nullopt;
    Block block;
    block.line = static_cast<qint64>(row[0]);
    block.top = row[1];
    if (isWhole(row[2]) && row[2] > row[0] && row[3] >= row[1])
        block.end = End{static_cast<qint64>(row[2]), row[3]};
    return block;
}

MarkdownLineMap::MarkdownLineMap() : MarkdownLineMap({}, 1, 0) {}

MarkdownLineMap::MarkdownLineMap(const QList<Block>& blocks, qint64 lineCount, double documentHeight)
{
    const qint64 n = std::max<qint64>(lineCount, 1);
    QMap<qint64, double> startTops;
    QMap<qint64, double> endBottoms;
    endBottoms.insert(n, documentHeight);
    for (const Block& block : blocks) {
        if (block.line >= n)
            continue;
        if (block.line > 0) {
            auto it = startTops.find(block.line);
            if (it == startTops.end())
                startTops.insert(block.line, block.top);
            else if (block.top < *it)
                *it = block.top;
        }
        if (block.end && block.end->line > 0 && block.end->line <= n) {
            auto it = endBottoms.find(block.end->line);
            if (it == endBottoms.end())
                endBottoms.insert(block.end->line, block.end->bottom);
            else if (block.end->bottom > *it)
                *it = block.end->bottom;
        }
    }
    // A block's top wins over another block's bottom on the same line.
    for (auto it = startTops.cbegin(); it != startTops.cend(); ++it)
        endBottoms.insert(it.key(), it.value());

    m_anchors.reserve(endBottoms.size() + 1);
    m_anchors.append(Anchor{0, 0});
    for (auto it = endBottoms.cbegin(); it != endBottoms.cend(); ++it) {
        const double y = std::max(it.value(), m_anchors.last().y);
        m_anchors.append(Anchor{static_cast<double>(it.key()), y});
    }
}

double MarkdownLineMap::yForLine(double line) const
{
    if (m_anchors.size() == 1)
        return m_anchors.first().y;
    if (m_anchors.isEmpty())
        return 0;
    double x = line;
    if (!(x > 0))
        x = 0;
    if (x > m_anchors.last().line)
        x = m_anchors.last().line;
    qsizetype lo = 0;
    qsizetype hi = m_anchors.size() - 1;
    while (lo < hi) {
        const qsizetype mid = (lo + hi + 1) / 2;
        if (x >= m_anchors[mid].line)
            lo = mid;
        else
            hi = mid - 1;
    }
    const Anchor& a = m_anchors[lo];
    if (lo + 1 >= m_anchors.size())
        return a.y;
    const Anchor& b = m_anchors[lo + 1];
    return a.y + (b.y - a.y) * ((x - a.line) / (b.line - a.line));
}

double MarkdownLineMap::lineForY(double y) const
{
    if (m_anchors.size() == 1)
        return m_anchors.first().line;
    if (m_anchors.isEmpty())
        return 0;
    double v = y;
    if (!(v > 0))
        v = 0;
    if (v > m_anchors.last().y)
        v = m_anchors.last().y;
    qsizetype lo = 0;
    qsizetype hi = m_anchors.size() - 1;
    while (lo < hi) {
        const qsizetype mid = (lo + hi + 1) / 2;
        if (v >= m_anchors[mid].y)
            lo = mid;
        else
            hi = mid - 1;
    }
    const Anchor& a = m_anchors[lo];
    if (lo + 1 >= m_anchors.size())
        return a.line;
    const Anchor& b = m_anchors[lo + 1];
    return a.line + ((v - a.y) / (b.y - a.y)) * (b.line - a.line);
}
