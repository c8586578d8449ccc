#include "tools/markdown/MarkdownOutput.h"

#include "formats/LargeBuffer.h"

#include <algorithm>

void MarkdownOutput::grow(qsizetype more)
{
    // Doubling keeps the copies to about one more write of the whole.
    const qsizetype room = std::max(m_size + more, 2 * capacity() + 64);
    regrow(room, room);
}

void MarkdownOutput::regrow(qsizetype room, qsizetype likely)
{
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
}

QString MarkdownOutput::take()
{
    QString out = std::move(m_storage);
    out.truncate(m_size); // keeps the buffer: the string is not shared
    m_storage = QString();
    m_data = nullptr;
    m_size = 0;
    return out;
}
