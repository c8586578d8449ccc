#include "kit/CodeTextSnapshot.h"

#include <QStringView>

#include <algorithm>

namespace {

// A string over raw data has no capacity of its own; handing it out would let it outlive the
// storage it reads.
bool ownsStorage(const QString& s) { return s.isEmpty() || s.capacity() > 0; }

} // namespace

void CodeTextSnapshot::appendPart(const QString& part)
{
    if (part.isEmpty())
        return;
    m_starts.append(m_length);
    m_parts.append(part);
    m_length += part.size();
}

QString CodeTextSnapshot::text() const
{
    if (m_parts.size() == 1 && ownsStorage(m_parts.front()))
        return m_parts.front();
    QString out;
    out.resize(m_length);
    QChar* w = out.data();
    for (const QString& part : m_parts)
        w = std::copy_n(part.constData(), part.size(), w);
    return out;
}

QString CodeTextSnapshot::mid(qsizetype position, qsizetype length) const
{
    position = std::clamp<qsizetype>(position, 0, m_length);
    length = std::clamp<qsizetype>(length, 0, m_length - position);
    QString out;
    if (length == 0)
        return out;
    out.reserve(length);
    auto it = std::upper_bound(m_starts.begin(), m_starts.end(), position);
    qsizetype i = qsizetype(it - m_starts.begin()) - 1;
    while (length > 0 && i < m_parts.size()) {
        const qsizetype local = position - m_starts[i];
        const qsizetype take = std::min(length, m_parts[i].size() - local);
        out.append(QStringView(m_parts[i]).mid(local, take));
        position += take;
        length -= take;
        ++i;
    }
    return out;
}
