#include "tools/markdown/MarkdownOutput.h"

#include "formats/LargeBuffer.h"

#include <algorithm>

void MarkdownOutput::grow(qsizetype more)
{
    if (m_pass) {
        const bool highLast = m_size > 0 && m_data[m_size - 1] >= 0xD800 && m_data[m_size - 1] < 0xDC00;
        m_pass(m_context, QStringView(m_data, highLast ? m_size - 1 : m_size));
        if (highLast)
            m_data[0] = m_data[m_size - 1];
        m_size = highLast ? 1 : 0;
        if (capacity() - m_size >= more)
            return;
    }
    // Doubling keeps the copies to about one more write of the whole.
    const qsizetype room = std::max(m_size + more, 2 * capacity() + 64);
    regrow(room, room);
}

void MarkdownOutput::regrow(qsizetype room, qsizetype likely)
{
    if (m_scratch) {
        // Whole huge pages from the allocator: each costs about one fault and a clear.
        auto* const units = static_cast<char16_t*>(LargeBuffer::allocate(size_t(room) * sizeof(char16_t)));
        if (m_size > 0)
            std::memcpy(units, m_data, size_t(m_size) * sizeof(char16_t));
        releaseBlock();
        m_borrowed = false;
        m_data = units;
        m_room = room;
        return;
    }
    // Fresh pages are mapped in one go rather than one fault each, which costs more than the
    // conversion itself on some machines; huge pages where they can be had. Room past `likely`
    // is left alone: unwritten, it costs nothing.
    QString larger = LargeBuffer::uninitializedString(room);
    char16_t* const units = reinterpret_cast<char16_t*>(larger.data());
    LargeBuffer::prefault(units, size_t(likely) * sizeof(char16_t));
    if (m_size > 0)
        std::memcpy(units, m_data, size_t(m_size) * sizeof(char16_t));
    m_storage = std::move(larger);
    m_data = units;
    m_room = room;
}

void MarkdownOutput::passOn()
{
    if (m_pass && m_size > 0)
        m_pass(m_context, view());
    m_size = 0;
}

void MarkdownOutput::releaseBlock() noexcept
{
    if (m_scratch && m_data && !m_borrowed)
        LargeBuffer::deallocate(m_data, size_t(m_room) * sizeof(char16_t));
}

QString MarkdownOutput::take()
{
    QString out;
    if (m_scratch) {
        out = view().toString();
        releaseBlock();
        m_borrowed = false;
    } else {
        out = std::move(m_storage);
        out.truncate(m_size); // keeps the buffer: the string is not shared
    }
    m_storage = QString();
    m_data = nullptr;
    m_size = 0;
    m_room = 0;
    return out;
}
