#pragma once

#include <QString>
#include <QStringView>

#include <algorithm>
#include <cstring>
#include <utility>

// Text the Markdown converter writes, in many short pieces: an append checks only for room, and
// the finished text is handed over as a QString without a copy. Its units live in a QString
// whose size is the room, written through the public data(); only take() gives that string its
// true size.
class MarkdownOutput {
public:
    MarkdownOutput() = default;
    explicit MarkdownOutput(qsizetype room, qsizetype likely = -1) { reserve(room, likely); }
    // A copy would share the units it writes to.
    MarkdownOutput(const MarkdownOutput&) = delete;
    MarkdownOutput& operator=(const MarkdownOutput&) = delete;
    MarkdownOutput(MarkdownOutput&& other) noexcept
        : m_storage(std::move(other.m_storage)), m_data(std::exchange(other.m_data, nullptr)),
          m_size(std::exchange(other.m_size, 0))
    {
    }
    MarkdownOutput& operator=(MarkdownOutput&& other) noexcept
    {
        m_storage.swap(other.m_storage);
        std::swap(m_data, other.m_data);
        std::swap(m_size, other.m_size);
        return *this;
    }

    qsizetype size() const { return m_size; }
    bool isEmpty() const { return m_size == 0; }
    qsizetype capacity() const { return m_storage.size(); }
    QStringView view() const { return QStringView(m_data, m_size); }
    operator QStringView() const { return view(); }

    // Room for `room` units in all, keeping what is written. Of a large room, the pages of the
    // first `likely` units (all, by default) are mapped at once; the rest only when written.
    void reserve(qsizetype room, qsizetype likely = -1)
    {
        if (room > capacity())
            regrow(room, likely < 0 ? room : std::min(likely, room));
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

    // The text written, as a string; this is left empty, without room.
    QString take();

private:
    void grow(qsizetype more);
    void regrow(qsizetype room, qsizetype likely);

    QString m_storage;
    char16_t* m_data = nullptr;
    qsizetype m_size = 0;
};
