#pragma once

#include <QString>
#include <QStringView>

#include <algorithm>
#include <cstring>
#include <utility>

// Text the Markdown converter writes, in many short pieces: an append checks only for room.
// By default its units live in a QString whose size is the room, written through the public
// data(), and the finished text is handed over without a copy (only take() gives that string its
// true size). A scratch output keeps its units in memory of its own instead: for text that is read
// and dropped.
class MarkdownOutput {
public:
    MarkdownOutput() = default;
    explicit MarkdownOutput(qsizetype room) { reserve(room); }
    ~MarkdownOutput() { releaseBlock(); }
    // A copy would share the units it writes to.
    MarkdownOutput(const MarkdownOutput&) = delete;
    MarkdownOutput& operator=(const MarkdownOutput&) = delete;
    MarkdownOutput(MarkdownOutput&& other) noexcept
        : m_storage(std::move(other.m_storage)), m_data(std::exchange(other.m_data, nullptr)),
          m_size(std::exchange(other.m_size, 0)), m_room(std::exchange(other.m_room, 0)),
          m_scratch(other.m_scratch), m_borrowed(other.m_borrowed), m_pass(std::exchange(other.m_pass, nullptr)),
          m_context(other.m_context)
    {
    }
    MarkdownOutput& operator=(MarkdownOutput&& other) noexcept
    {
        m_storage.swap(other.m_storage);
        std::swap(m_data, other.m_data);
        std::swap(m_size, other.m_size);
        std::swap(m_room, other.m_room);
        std::swap(m_scratch, other.m_scratch);
        std::swap(m_borrowed, other.m_borrowed);
        std::swap(m_pass, other.m_pass);
        std::swap(m_context, other.m_context);
        return *this;
    }

    using Pass = void (*)(void* context, QStringView text);

    // An empty scratch output with room for `room` units.
    static MarkdownOutput scratch(qsizetype room)
    {
        MarkdownOutput out;
        out.m_scratch = true;
        out.reserve(room);
        return out;
    }

    // A scratch output that holds about `room` units at most: when an append does not fit, what
    // it holds is first handed to pass(context, ...) and dropped. A surrogate pair is handed on
    // whole. passOn() hands on the rest.
    static MarkdownOutput passingOn(qsizetype room, Pass pass, void* context)
    {
        MarkdownOutput out = scratch(room);
        out.m_pass = pass;
        out.m_context = context;
        return out;
    }
    void passOn();
    // The same over `room` units of the caller's at `units`, which must outlive it: many outputs
    // written side by side then take no fresh memory each.
    static MarkdownOutput passingOn(char16_t* units, qsizetype room, Pass pass, void* context)
    {
        MarkdownOutput out;
        out.m_scratch = true;
        out.m_borrowed = true;
        out.m_data = units;
        out.m_room = room;
        out.m_pass = pass;
        out.m_context = context;
        return out;
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
        std::memcpy(m_data + m_size, units, size_t(n) * sizeof(char16_t));
        m_size += n;
    }

    // Empties it, keeping the room.
    void clear() { m_size = 0; }
    // Drops what was written after the first `size` units.
    void truncate(qsizetype size) { m_size = std::min(m_size, size); }

    // The text written, as a string; this is left empty, without room (a scratch output stays
    // one). Copies a scratch output's units.
    QString take();

private:
    void grow(qsizetype more);
    void regrow(qsizetype room);
    void releaseBlock() noexcept;

    QString m_storage; // unused by a scratch output
    char16_t* m_data = nullptr;
    qsizetype m_size = 0;
    qsizetype m_room = 0;
    bool m_scratch = false;
    bool m_borrowed = false; // a scratch output's units are the caller's
    Pass m_pass = nullptr;
    void* m_context = nullptr;
};
