#pragma once

#include <QString>
#include <QStringView>

#include <algorithm>
#include <cstring>
#include <utility>

// Text the Markdown converter writes, in many short pieces: an append checks only for room.
// Its units live in a QString whose size is the room, written through the public data(), and the
// finished text is handed over without a copy (only take() gives that string its true size).
class MarkdownOutput {
public:
    MarkdownOutput() = default;
    explicit MarkdownOutput(qsizetype room) { reserve(room); }
    // A copy would share the units it writes to.
    MarkdownOutput(const MarkdownOutput&) = delete;
    MarkdownOutput& operator=(const MarkdownOutput&) = delete;
    MarkdownOutput(MarkdownOutput&& other) noexcept
        : m_storage(std::move(other.m_storage)), m_data(std::exchange(other.m_data, nullptr)),
          m_size(std::exchange(other.m_size, 0)), m_room(std::exchange(other.m_room, 0))
    {
    }
    MarkdownOutput& operator=(MarkdownOutput&& other) noexcept
    {
        m_storage.swap(other.m_storage);
        std::swap(m_data, other.m_data);
        std::swap(m_size, other.m_size);
        std::swap(m_room, other.m_room);
        return *this;
    }

    qsizetype size() const { return m_size; }
    bool isEmpty() const { return m_size == 0; }
    qsizetype capacity() const { return m_room; }
    QStringView view() const { return QStringView(m_data, m_size); }
    operator QStringView() const { return view(); }

    // Room for `room` units in all, keeping what is written.
    void reserve(qsizetype room)
    {
        if (room > capacity())
            regrow(room);
    }

    void append(const char16_t* units, qsizetype n)
    {
        if (n <= 0)
            return;
        if (capacity() - m_size < n) [[unlikely]]
            grow(n);
        copyUnits(m_data + m_size, units, n);
        m_size += n;
    }

    // n units known when compiled (a literal's, one unit): moved as such.
    template<qsizetype n>
    void appendFixed(const char16_t* units)
    {
        static_assert(n > 0);
        if (capacity() - m_size < n) [[unlikely]]
            grow(n);
        std::memcpy(m_data + m_size, units, size_t(n) * sizeof(char16_t));
        m_size += n;
    }

    // Room for n more units, counted as written: the caller writes them at the place answered
    // (from any thread, before the output is read).
    char16_t* appendUninitialized(qsizetype n)
    {
        if (capacity() - m_size < n) [[unlikely]]
            grow(n);
        char16_t* const at = m_data + m_size;
        m_size += n;
        return at;
    }

    // Empties it, keeping the room.
    void clear() { m_size = 0; }
    // Drops what was written after the first `size` units.
    void truncate(qsizetype size) { m_size = std::min(m_size, size); }

    // The text written, as a string; this is left empty, without room.
    QString take();

private:
    // Most pieces are a few units long: those are moved inline, as two moves that may overlap.
    static void copyUnits(char16_t* to, const char16_t* from, qsizetype n)
    {
        if (n > 16) {
            std::memcpy(to, from, size_t(n) * sizeof(char16_t));
        } else if (n >= 8) {
            moveTwo<16>(to, from, n);
        } else if (n >= 4) {
            moveTwo<8>(to, from, n);
        } else if (n >= 2) {
            moveTwo<4>(to, from, n);
        } else {
            *to = *from;
        }
    }
    // The first and the last `bytes` of n units, bytes / 2 <= n. GCC warns of reads past a short
    // literal's end here, in the branches for longer pieces that the literal never takes.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Warray-bounds"
#endif
    template<size_t bytes>
    static void moveTwo(char16_t* to, const char16_t* from, qsizetype n)
    {
        unsigned char head[bytes];
        unsigned char tail[bytes];
        constexpr qsizetype units = qsizetype(bytes / sizeof(char16_t));
        std::memcpy(head, from, bytes);
        std::memcpy(tail, from + n - units, bytes);
        std::memcpy(to, head, bytes);
        std::memcpy(to + n - units, tail, bytes);
    }
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

    void grow(qsizetype more);
    void regrow(qsizetype room);

    QString m_storage;
    char16_t* m_data = nullptr;
    qsizetype m_size = 0;
    qsizetype m_room = 0;
};
