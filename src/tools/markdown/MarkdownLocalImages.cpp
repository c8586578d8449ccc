#include "tools/markdown/MarkdownLocalImages.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMimeDatabase>
#include <QStringList>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace MarkdownLocalImages {

namespace {

QStringList components(const QUrl& url)
{
    return QDir::cleanPath(url.toLocalFile()).split(QLatin1Char('/'), Qt::SkipEmptyParts);
}

QMimeType typeOf(const QString& path)
{
    return QMimeDatabase().mimeTypeForFile(path, QMimeDatabase::MatchExtension);
}

} // namespace

QUrl baseURL(const QUrl& folder)
{
    if (folder.isEmpty() || !folder.isLocalFile())
        return {};
    QString path = QDir::cleanPath(folder.toLocalFile());
    if (!path.startsWith(QLatin1Char('/')))
        return {};
    if (!path.endsWith(QLatin1Char('/')))
        path += QLatin1Char('/');
    QUrl url;
    url.setScheme(scheme);
    url.setHost(host);
    url.setPath(path, QUrl::DecodedMode);
    return url.isValid() ? url : QUrl();
}

QUrl fileURL(const QUrl& request)
{
    if (request.scheme().toLower() != scheme)
        return {};
    if (request.host(QUrl::FullyDecoded) != host)
        return {};
    const QString path = request.path(QUrl::FullyDecoded);
    if (!path.startsWith(QLatin1Char('/')) || path.endsWith(QLatin1Char('/')) || path.contains(QChar(0)))
        return {};
    QString clean = QDir::cleanPath(path);
    // cleanPath keeps ".." that would climb above the root, where there is nothing to climb.
    while (clean == QLatin1String("/..") || clean.startsWith(QLatin1String("/../")))
        clean = clean.mid(3).isEmpty() ? QStringLiteral("/") : clean.mid(3);
    if (!clean.startsWith(QLatin1Char('/')) || clean == QLatin1String("/"))
        return {};
    const QUrl file = QUrl::fromLocalFile(clean);
    return isImageType(file) ? file : QUrl();
}

bool isInside(const QUrl& file, const QList<QUrl>& folders)
{
    const QStringList parts = components(file);
    for (const QUrl& folder : folders) {
        const QStringList prefix = components(folder);
        if (parts.size() > prefix.size() && parts.mid(0, prefix.size()) == prefix)
            return true;
    }
    return false;
}

QString mimeType(const QUrl& file)
{
    const QMimeType type = typeOf(file.toLocalFile());
    if (!type.isValid() || type.isDefault())
        return QStringLiteral("application/octet-stream");
    return type.name();
}

bool isImageType(const QUrl& file)
{
    const QMimeType type = typeOf(file.toLocalFile());
    if (!type.isValid() || type.isDefault())
        return false;
    if (type.name().startsWith(QLatin1String("image/")))
        return true;
    const QStringList ancestors = type.allAncestors();
    for (const QString& ancestor : ancestors) {
        if (ancestor.startsWith(QLatin1String("image/")))
            return true;
    }
    return false;
}

bool isPermissionFailure(int posixError)
{
    return posixError == EPERM || posixError == EACCES;
}

Read read(const QUrl& file, const QList<QUrl>& readable, const QList<QUrl>& granted)
{
    if (!file.isLocalFile())
        return Read::unavailable();
    const QString canonical = QFileInfo(file.toLocalFile()).canonicalFilePath();
    if (canonical.isEmpty())
        return Read::unavailable(); // no such file, or a dangling link
    const QUrl resolved = QUrl::fromLocalFile(canonical);
    if (!isImageType(resolved))
        return Read::unavailable();
    if (!isInside(resolved, readable))
        return Read::refused(resolved);

    const QByteArray path = QFile::encodeName(canonical);
    // The path has no links left; refusing one at the end closes the gap to a swapped-in link.
    // Non-blocking, so a FIFO named like an image cannot hang the read.
    const int fd = ::open(path.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        if (isPermissionFailure(error) && !isInside(resolved, granted))
            return Read::refused(resolved);
        return Read::unavailable();
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size > maxImageBytes) {
        ::close(fd);
        return Read::unavailable();
    }
    QByteArray bytes;
    bytes.reserve(qsizetype(info.st_size));
    char buffer[64 * 1024];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n == 0)
            break;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            const int error = errno;
            ::close(fd);
            if (isPermissionFailure(error) && !isInside(resolved, granted))
                return Read::refused(resolved);
            return Read::unavailable();
        }
        if (bytes.size() + n > maxImageBytes) {
            ::close(fd);
            return Read::unavailable();
        }
        bytes.append(buffer, n);
    }
    ::close(fd);
    return Read::image(std::move(bytes), mimeType(resolved));
}

} // namespace MarkdownLocalImages
