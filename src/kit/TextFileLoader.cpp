#include "kit/TextFileLoader.h"

#include <QByteArrayView>
#include <QFile>
#include <QStringDecoder>

#include <sys/stat.h>

namespace TextFileLoader {

namespace {

// Each maximal ill-formed subpart becomes one U+FFFD, the way the Unicode standard recommends,
// so a truncated sequence gives one replacement and not one per byte.
QString repairedUtf8(QByteArrayView bytes)
{
    QString out;
    out.reserve(bytes.size());
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const qsizetype n = bytes.size();
    qsizetype i = 0;
    while (i < n) {
        const unsigned char b = p[i];
        if (b < 0x80) {
            out.append(QChar(b));
            ++i;
            continue;
        }
        int need = 0;
        char32_t cp = 0;
        unsigned char lo = 0x80, hi = 0xBF;
        if (b >= 0xC2 && b <= 0xDF) {
            need = 1;
            cp = b & 0x1F;
        } else if (b >= 0xE0 && b <= 0xEF) {
            need = 2;
            cp = b & 0x0F;
            if (b == 0xE0)
                lo = 0xA0;
            else if (b == 0xED)
                hi = 0x9F; // no encoded surrogates
        } else if (b >= 0xF0 && b <= 0xF4) {
            need = 3;
            cp = b & 0x07;
            if (b == 0xF0)
                lo = 0x90;
            else if (b == 0xF4)
                hi = 0x8F;
        } else {
            out.append(QChar(0xFFFD));
            ++i;
            continue;
        }
        qsizetype j = i + 1;
        int got = 0;
        while (got < need && j < n) {
            const unsigned char c = p[j];
            const unsigned char l = got == 0 ? lo : 0x80, h = got == 0 ? hi : 0xBF;
            if (c < l || c > h)
                break;
            cp = (cp << 6) | (c & 0x3F);
            ++j;
            ++got;
        }
        if (got < need) {
            out.append(QChar(0xFFFD));
            i = j;
            continue;
        }
        if (QChar::requiresSurrogates(cp)) {
            out.append(QChar(QChar::highSurrogate(cp)));
            out.append(QChar(QChar::lowSurrogate(cp)));
        } else {
            out.append(QChar(char16_t(cp)));
        }
        i = j;
    }
    return out;
}

} // namespace

QString decodeUTF8Repairing(QByteArrayView bytes)
{
    if (bytes.isValidUtf8())
        return QString::fromUtf8(bytes);
    return repairedUtf8(bytes);
}

std::optional<QString> loadTextFileNow(const QString& path)
{
    // Only regular files: opening a named pipe or a device could wait forever.
    struct stat info;
    if (path.isEmpty() || ::stat(QFile::encodeName(path).constData(), &info) != 0 || !S_ISREG(info.st_mode))
        return std::nullopt;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return std::nullopt;
    QByteArrayView view(bytes);
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

} // namespace TextFileLoader
