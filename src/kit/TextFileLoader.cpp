#include "kit/TextFileLoader.h"

#include "formats/Utf8Decoder.h"
#include "formats/Utf8Encoder.h"

#include <QByteArrayView>
#include <QFile>

#include <algorithm>
#include <optional>

#include <sys/stat.h>

namespace TextFileLoader {

QString decodeUTF8Repairing(QByteArrayView bytes)
{
    // As QString::fromUtf8, which this replaces for well-formed input: one leading
    // byte-order mark is dropped. Repaired text keeps it.
    using Mark = Utf8Decoder::ByteOrderMark;
    if (std::optional<QString> text = Utf8Decoder::decode(bytes, {Utf8Decoder::IllFormed::fail, Mark::drop, nullptr, true}))
        return std::move(*text);
    return Utf8Decoder::decodeReplacing(bytes, Mark::keep, true);
}

QByteArray repairedUTF8(QByteArray bytes)
{
    const QByteArrayView mark("\xEF\xBB\xBF");
    if (bytes.startsWith(mark))
        bytes.remove(0, 3);
    if (!Utf8Decoder::isWellFormed(bytes))
        return Utf8Encoder::toUtf8(Utf8Decoder::decodeReplacing(bytes, Utf8Decoder::ByteOrderMark::keep, true));
    if (bytes.startsWith(mark))
        bytes.remove(0, 3);
    return bytes;
}

std::optional<QByteArray> readBytes(const QString& path)
{
    struct stat info;
    if (path.isEmpty() || ::stat(QFile::encodeName(path).constData(), &info) != 0 || !S_ISREG(info.st_mode))
        return std::nullopt;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    // The file may change size meanwhile; the loop reads what is there. It reads in steps: the
    // kernel copies one read() into fresh pages without giving up the CPU, so a whole 100 MB
    // file in one call kept the window from running for 150 ms on a single core.
    constexpr qsizetype step = qsizetype(2) << 20;
    QByteArray bytes(qsizetype(std::max<qint64>(0, file.size())), Qt::Uninitialized);
    qsizetype filled = 0;
    while (filled < bytes.size()) {
        const qint64 got = file.read(bytes.data() + filled, std::min(step, bytes.size() - filled));
        if (got < 0)
            return std::nullopt;
        if (got == 0)
            break;
        filled += qsizetype(got);
    }
    bytes.truncate(filled);
    // What a growing file has gained since its size was taken.
    if (const QByteArray more = file.readAll(); !more.isEmpty())
        bytes += more;
    if (file.error() != QFileDevice::NoError)
        return std::nullopt;
    return bytes;
}

std::optional<QString> loadTextFileNow(const QString& path)
{
    const std::optional<QByteArray> bytes = readBytes(path);
    if (!bytes)
        return std::nullopt;
    QByteArrayView view(*bytes);
    // A leading byte-order mark is dropped, as UTF-8 text readers do.
    if (view.startsWith("\xEF\xBB\xBF"))
        view = view.sliced(3);
    return decodeUTF8Repairing(view);
}

std::optional<QString> loadTextFileNow(const QUrl& fileUrl)
{
    if (!fileUrl.isLocalFile())
        return std::nullopt;
    return loadTextFileNow(fileUrl.toLocalFile());
}

std::optional<QByteArray> loadUTF8FileNow(const QUrl& fileUrl)
{
    std::optional<QByteArray> bytes = fileUrl.isLocalFile() ? readBytes(fileUrl.toLocalFile()) : std::nullopt;
    if (!bytes)
        return std::nullopt;
    return repairedUTF8(std::move(*bytes));
}

} // namespace TextFileLoader
