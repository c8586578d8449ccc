#pragma once

#include <QtGlobal>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <utility>
#include <vector>

// The row count of every line of a view, and their sums: a line's first row and a row's line in
// a logarithm plus a scan of at most 64 lines. A document of millions of lines is mostly lines of
// one or a few rows, so a count takes one byte (one less than the count, 255 for a count kept
// aside), and the sums are kept in a Fenwick tree over groups of 64 lines. Counts are at least 1.
//
// A table of fresh lines costs no more than its group tree: the bytes come zeroed from the system
// and are only touched as counts are set, so opening a big document does not wait for its pages.
class CodeTextRowTable {
public:
    static constexpr size_t groupLines = 64;

    CodeTextRowTable() = default;
    CodeTextRowTable(const CodeTextRowTable&) = delete;
    CodeTextRowTable& operator=(const CodeTextRowTable&) = delete;

    // `lines` lines of one row each.
    void reset(size_t lines);
    size_t size() const { return m_size; }
    int32_t at(size_t line) const;
    void set(size_t line, int32_t rows);
    // Rows of lines [0, line).
    qint64 prefix(size_t line) const;
    qint64 total() const { return m_total; }
    // The line holding `row` (the last line for a row past the end; 0 when empty).
    size_t find(qint64 row) const;
    // Lines [from, from + removed) give way to `added` lines of one row each.
    void replace(size_t from, size_t removed, size_t added);
    void insert(size_t at, size_t lines) { replace(at, 0, lines); }
    void erase(size_t from, size_t lines) { replace(from, lines, 0); }

private:
    struct Free {
        void operator()(uint8_t* p) const { std::free(p); }
    };
    static constexpr uint8_t kAside = 255;

    size_t groups() const { return (m_size + groupLines - 1) / groupLines; }
    qint64 groupPrefix(size_t group) const; // rows of groups [0, group)
    qint64 sumLines(size_t from, size_t to) const;
    int32_t aside(size_t line) const;
    void allocate(size_t capacity);
    void rebuildFrom(size_t group);

    std::unique_ptr<uint8_t[], Free> m_bytes;
    size_t m_size = 0;
    size_t m_capacity = 0;
    size_t m_touched = 0; // bytes from here on are still zero as allocated
    std::vector<std::pair<size_t, int32_t>> m_aside; // counts above 255, by line
    std::vector<qint64> m_tree; // Fenwick tree over groups, 1-based
    qint64 m_total = 0;
};
