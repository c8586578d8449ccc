#include "tools/csv/CSVFileBytes.h"

#include "formats/LargeBuffer.h"

#include <QFile>

#include <algorithm>

namespace CSVFileBytes {

std::optional<QByteArray> read(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    QByteArray bytes = LargeBuffer::uninitializedBytes(qsizetype(std::max<qint64>(0, file.size())));
    qsizetype filled = 0;
    while (filled < bytes.size()) {
        const qint64 got = file.read(bytes.data() + filled, bytes.size() - filled);
        if (got < 0)
            return std::nullopt;
        if (got == 0)
            break;
        filled += qsizetype(got);
    }
    bytes.truncate(filled);
    // Files whose size says nothing (a pipe, a growing log) are read on to their end.
    if (const QByteArray more = file.readAll(); !more.isEmpty())
        bytes += more;
    if (file.error() != QFileDevice::NoError)
        return std::nullopt;
    return bytes;
}

} // namespace CSVFileBytes
