#include "kit/ui/CodeTextRowTable.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace {

size_t lowBit(size_t i) { return i & (~i + 1); }

} // namespace

void CodeTextRowTable::allocate(size_t capacity)
{
    // calloc hands big blocks over as untouched zero pages: the cost comes with the first write.
    auto* p = static_cast<uint8_t*>(std::calloc(std::max<size_t>(capacity, 1), 1));
    if (!p)
        throw std::bad_alloc();
    m_bytes.reset(p);
    m_capacity = capacity;
    m_tree.reserve(capacity / groupLines + 2);
    m_touched = 0;
}

void CodeTextRowTable::reset(size_t lines)
{
    if (lines > m_capacity || lines < m_capacity / 4) {
        // Room to grow costs nothing until used, and spares the first new line a copy of them all.
        allocate(lines + lines / 4 + 4096);
    } else if (m_touched) {
        std::memset(m_bytes.get(), 0, m_touched);
        m_touched = 0;
    }
    m_size = lines;
    m_aside.clear();
    // Every full group holds 64 rows, so a node holds 64 per group it covers; only the last node
    // covers the last group, which may be short.
    const size_t n = groups();
    m_tree.assign(n + 1, 0);
    for (size_t i = 1; i <= n; ++i)
        m_tree[i] = qint64(groupLines * lowBit(i));
    if (n > 0)
        m_tree[n] -= qint64(n * groupLines - lines);
    m_total = qint64(lines);
}

int32_t CodeTextRowTable::aside(size_t line) const
{
    const auto it = std::lower_bound(m_aside.begin(), m_aside.end(), std::pair<size_t, int32_t>(line, 0));
    return it != m_aside.end() && it->first == line ? it->second : int32_t(kAside) + 1;
}

int32_t CodeTextRowTable::at(size_t line) const
{
    const uint8_t b = m_bytes[line];
    return b == kAside ? aside(line) : int32_t(b) + 1;
}

void CodeTextRowTable::set(size_t line, int32_t rows)
{
    rows = std::max(rows, 1);
    const int32_t old = at(line);
    if (rows == old)
        return;
    if (old > kAside) {
        const auto it = std::lower_bound(m_aside.begin(), m_aside.end(), std::pair<size_t, int32_t>(line, 0));
        if (rows > kAside)
            it->second = rows;
        else
            m_aside.erase(it);
    } else if (rows > kAside) {
        const auto it = std::lower_bound(m_aside.begin(), m_aside.end(), std::pair<size_t, int32_t>(line, 0));
        m_aside.insert(it, {line, rows});
    }
    m_bytes[line] = uint8_t(std::min<int32_t>(rows - 1, kAside));
    m_touched = std::max(m_touched, line + 1);
    const qint64 delta = qint64(rows) - old;
    m_total += delta;
    for (size_t i = line / groupLines + 1; i < m_tree.size(); i += lowBit(i))
        m_tree[i] += delta;
}

qint64 CodeTextRowTable::groupPrefix(size_t group) const
{
    qint64 sum = 0;
    for (size_t i = std::min(group, groups()); i > 0; i -= lowBit(i))
        sum += m_tree[i];
    return sum;
}

qint64 CodeTextRowTable::sumLines(size_t from, size_t to) const
{
    // Bytes summed in a plain loop vectorise; the few counts kept aside are added on top.
    const uint8_t* bytes = m_bytes.get();
    qint64 sum = qint64(to - from);
    bool anyAside = false;
    for (size_t i = from; i < to; ++i) {
        sum += bytes[i];
        anyAside |= bytes[i] == kAside;
    }
    if (anyAside) {
        auto it = std::lower_bound(m_aside.begin(), m_aside.end(), std::pair<size_t, int32_t>(from, 0));
        for (; it != m_aside.end() && it->first < to; ++it)
            sum += it->second - (int32_t(kAside) + 1);
    }
    return sum;
}

qint64 CodeTextRowTable::prefix(size_t line) const
{
    line = std::min(line, m_size);
    const size_t group = line / groupLines;
    return groupPrefix(group) + sumLines(group * groupLines, line);
}

size_t CodeTextRowTable::find(qint64 row) const
{
    if (m_size == 0)
        return 0;
    const size_t n = groups();
    size_t group = 0;
    size_t step = 1;
    while (step * 2 <= n)
        step *= 2;
    for (; step > 0; step /= 2) {
        if (group + step <= n && m_tree[group + step] <= row) {
            group += step;
            row -= m_tree[group];
        }
    }
    size_t line = group * groupLines;
    for (; line < m_size; ++line) {
        const qint64 rows = at(line);
        if (row < rows)
            break;
        row -= rows;
    }
    return std::min(line, m_size - 1);
}

void CodeTextRowTable::replace(size_t from, size_t removed, size_t added)
{
    from = std::min(from, m_size);
    removed = std::min(removed, m_size - from);
    const size_t size = m_size - removed + added;
    const size_t tail = m_size - from - removed;
    if (size > m_capacity) {
        std::unique_ptr<uint8_t[], Free> old = std::move(m_bytes);
        allocate(std::max(size, m_capacity + m_capacity / 2));
        if (from)
            std::memcpy(m_bytes.get(), old.get(), from);
        if (tail)
            std::memcpy(m_bytes.get() + from + added, old.get() + from + removed, tail);
    } else {
        if (tail)
            std::memmove(m_bytes.get() + from + added, m_bytes.get() + from + removed, tail);
        if (added)
            std::memset(m_bytes.get() + from, 0, added);
    }
    m_touched = std::max(m_touched, size);
    m_size = size;

    // Counts kept aside follow their lines; those of removed lines go.
    const auto first = std::lower_bound(m_aside.begin(), m_aside.end(), std::pair<size_t, int32_t>(from, 0));
    const auto last = std::lower_bound(first, m_aside.end(), std::pair<size_t, int32_t>(from + removed, 0));
    for (auto it = last; it != m_aside.end(); ++it)
        it->first = it->first - removed + added;
    m_aside.erase(first, last);

    rebuildFrom(from / groupLines);
}

// Nodes up to `group` cover groups before it only and stay; the others are made again from the
// sums from there on: first as prefix sums, then, from the top down, less the prefix they start at.
void CodeTextRowTable::rebuildFrom(size_t group)
{
    const size_t n = groups();
    group = std::min(group, n);
    m_tree.resize(n + 1);
    qint64 sum = groupPrefix(group);
    for (size_t i = group + 1; i <= n; ++i) {
        sum += sumLines((i - 1) * groupLines, std::min(i * groupLines, m_size));
        m_tree[i] = sum;
    }
    for (size_t i = n; i > group; --i) {
        const size_t start = i - lowBit(i);
        m_tree[i] -= start > group ? m_tree[start] : groupPrefix(start);
    }
    m_total = groupPrefix(n);
}
