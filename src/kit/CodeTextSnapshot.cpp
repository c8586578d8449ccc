#include "kit/CodeTextSnapshot.h"

#include "formats/RunParts.h"

#include <QStringView>

#include <algorithm>

namespace {

// A string over raw data has no capacity of its own; handing it out would let it outlive the
// storage it reads.
bool ownsStorage(const QString& s) { return s.isEmpty() || s.capacity() > 0; }

void copyPart(const CodeTextSnapshot::Part& part, qsizetype from, qsizetype n, QChar* to)
{
    if (part.isNarrow)
        std::copy_n(reinterpret_cast<const unsigned char*>(part.narrow.constData()) + from, n,
                    reinterpret_cast<char16_t*>(to));
    else
        std::copy_n(part.wide.constData() + from, n, to);
}

} // namespace

void CodeTextSnapshot::appendPart(const QString& part)
{
    if (part.isEmpty())
        return;
    m_starts.append(m_length);
    m_parts.append(Part{part, QByteArray(), false});
    m_length += part.size();
}

void CodeTextSnapshot::appendPart(const QByteArray& latin1)
{
    if (latin1.isEmpty())
        return;
    m_starts.append(m_length);
    m_parts.append(Part{QString(), latin1, true});
    m_length += latin1.size();
}

QString CodeTextSnapshot::text() const
{
    if (m_parts.size() == 1 && !m_parts.front().isNarrow && ownsStorage(m_parts.front().wide))
        return m_parts.front().wide;
    QString out;
    out.resize(m_length);
    QChar* w = out.data();
    // Widening a large text is spread over the cores.
    runStretches(m_length, qsizetype(1) << 21, [&](qsizetype begin, qsizetype end) { copyRange(begin, end - begin, w + begin); });
    return out;
}

void CodeTextSnapshot::copyRange(qsizetype position, qsizetype length, QChar* w) const
{
    auto it = std::upper_bound(m_starts.begin(), m_starts.end(), position);
    qsizetype i = qsizetype(it - m_starts.begin()) - 1;
    while (length > 0 && i < m_parts.size()) {
        const qsizetype local = position - m_starts[i];
        const qsizetype take = std::min(length, m_parts[i].size() - local);
        copyPart(m_parts[i], local, take, w);
        w += take;
        position += take;
        length -= take;
        ++i;
    }
}

QString CodeTextSnapshot::mid(qsizetype position, qsizetype length) const
{
    position = std::clamp<qsizetype>(position, 0, m_length);
    length = std::clamp<qsizetype>(length, 0, m_length - position);
    QString out;
    if (length == 0)
        return out;
    out.resize(length);
    copyRange(position, length, out.data());
    return out;
}
