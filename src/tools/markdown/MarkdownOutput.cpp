#include "tools/markdown/MarkdownOutput.h"

#include <algorithm>

void MarkdownOutput::grow(qsizetype more)
{
    // Doubling keeps the copies to about one more write of the whole.
    const qsizetype room = std::max(m_size + more, 2 * capacity() + 64);
    regrow(room);
}

void MarkdownOutput::regrow(qsizetype room)
{
    // The string is this output's alone: it grows in place where the allocator can, a large one
    // without a copy.
    m_storage.resize(room);
    m_data = reinterpret_cast<char16_t*>(m_storage.data());
    m_room = room;
}

QString MarkdownOutput::take()
{
    QString out = std::move(m_storage);
    out.truncate(m_size); // keeps the buffer: the string is not shared
    m_storage = QString();
    m_data = nullptr;
    m_size = 0;
    m_room = 0;
    return out;
}
