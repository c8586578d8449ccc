#include "kit/MemoryBudget.h"

#include "kit/ByteSizeLabel.h"

#include <QFile>
#include <QFileInfo>

#include <atomic>
#include <limits>

#include <sys/resource.h>

namespace {

constexpr qint64 kUnknown = std::numeric_limits<qint64>::max();
std::atomic<qint64> testFigure{-1};

// A "Key:   1234 kB" line of a /proc status file, in bytes.
qint64 kilobyteField(const QByteArray& text, QByteArrayView key)
{
    const qsizetype at = text.indexOf(key);
    if (at < 0)
        return kUnknown;
    qsizetype p = at + key.size();
    while (p < text.size() && (text[p] == ' ' || text[p] == '\t'))
        ++p;
    qsizetype end = p;
    while (end < text.size() && text[end] >= '0' && text[end] <= '9')
        ++end;
    bool ok = false;
    const qint64 kilobytes = text.mid(p, end - p).toLongLong(&ok);
    return ok ? kilobytes * 1024 : kUnknown;
}

QByteArray readSmallFile(const QString& path)
{
    QFile file(path);
    // /proc and /sys files report no size; read what there is.
    return file.open(QIODevice::ReadOnly) ? file.read(1 << 16) : QByteArray();
}

qint64 number(const QByteArray& text)
{
    bool ok = false;
    const qint64 value = text.trimmed().toLongLong(&ok);
    return ok ? value : kUnknown;
}

qint64 systemAvailable()
{
    return kilobyteField(readSmallFile(QStringLiteral("/proc/meminfo")), "MemAvailable:");
}

qint64 addressSpaceRoom()
{
    rlimit limit{};
    if (getrlimit(RLIMIT_AS, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return kUnknown;
    const qint64 used = kilobyteField(readSmallFile(QStringLiteral("/proc/self/status")), "VmSize:");
    if (used == kUnknown)
        return kUnknown;
    return std::max<qint64>(0, qint64(limit.rlim_cur) - used);
}

// cgroup v2: the process's group is the "0::" line of /proc/self/cgroup; a limit of "max" is none.
qint64 controlGroupRoom()
{
    const QByteArray groups = readSmallFile(QStringLiteral("/proc/self/cgroup"));
    for (const QByteArray& line : groups.split('\n')) {
        if (!line.startsWith("0::"))
            continue;
        const QString dir = QStringLiteral("/sys/fs/cgroup") + QString::fromUtf8(line.mid(3)).trimmed();
        const qint64 max = number(readSmallFile(dir + QStringLiteral("/memory.max")));
        if (max == kUnknown)
            return kUnknown;
        const qint64 current = number(readSmallFile(dir + QStringLiteral("/memory.current")));
        return current == kUnknown ? max : std::max<qint64>(0, max - current);
    }
    return kUnknown;
}

} // namespace

qint64 MemoryBudget::availableBytes()
{
    if (const qint64 figure = testFigure.load(); figure >= 0)
        return figure;
    return std::min({systemAvailable(), addressSpaceRoom(), controlGroupRoom()});
}

void MemoryBudget::setAvailableBytesForTesting(std::optional<qint64> bytes)
{
    testFigure.store(bytes ? std::max<qint64>(0, *bytes) : -1);
}

std::optional<QString> MemoryBudget::refusal(const QString& fileName, qint64 fileBytes, double bytesPerFileByte)
{
    const qint64 available = availableBytes();
    if (available == kUnknown)
        return std::nullopt;
    const double needed = double(fileBytes) * bytesPerFileByte;
    if (needed <= double(available))
        return std::nullopt;
    const qint64 shownNeed = needed >= double(kUnknown) ? kUnknown : qint64(needed);
    return QStringLiteral("\u201C%1\u201D was not opened: at %2 it would need about %3 of memory, and only %4 is available.")
        .arg(fileName, byteSizeLabel(fileBytes), byteSizeLabel(shownNeed), byteSizeLabel(available));
}

std::optional<QString> MemoryBudget::refusalToOpen(const QUrl& fileUrl, double bytesPerFileByte)
{
    if (!fileUrl.isLocalFile())
        return std::nullopt;
    const QFileInfo info(fileUrl.toLocalFile());
    if (!info.isFile())
        return std::nullopt;
    return refusal(info.fileName(), info.size(), bytesPerFileByte);
}
