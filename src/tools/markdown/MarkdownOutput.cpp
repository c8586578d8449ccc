#include "tools/markdown/MarkdownOutput.h"

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
    regrow(room);
}

void MarkdownOutput::regrow(qsizetype room)
{
    if (m_scratch) {
        auto* const units = static_cast<char16_t*>(::operator new(size_t(room) * sizeof(char16_t)));
        if (m_size > 0)
            std::memcpy(units, m_data, size_t(m_size) * sizeof(char16_t));
        releaseBlock();
        m_borrowed = false;
        m_data = units;
        m_room = room;
        return;
    }
    // The string is this output's alone: it grows in place where the allocator can, a large one
    // without a copy.
    m_storage.resize(room);
    m_data = reinterpret_cast<char16_t*>(m_storage.data());
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
        ::operator delete(m_data);
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
