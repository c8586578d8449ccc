#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QUrl>

// The private document scheme: how a document's base URL is made, how an image request maps to
// a file, and how one request is served. A document URL has the scheme "quorrix-doc", the host
// "document" and, as its path, the absolute path of a file (a folder's path ends with "/").
// Pure functions, callable from any thread.
namespace MarkdownLocalImages {

inline const QString scheme = QStringLiteral("quorrix-doc");
inline const QString host = QStringLiteral("document");

// Files larger than this are not served (a preview image, not a disk image).
inline constexpr qint64 maxImageBytes = 256LL * 1024 * 1024;

// The outcome of serving one image request.
struct Read {
    enum class Kind { image, refused, unavailable };
    Kind kind = Kind::unavailable;
    QByteArray bytes;   // image
    QString mimeType;   // image
    QUrl target;        // refused: the file the user could grant access to

    static Read image(QByteArray bytes, QString mimeType) { return {Kind::image, std::move(bytes), std::move(mimeType), {}}; }
    static Read refused(QUrl target) { return {Kind::refused, {}, {}, std::move(target)}; }
    static Read unavailable() { return {}; }
    friend bool operator==(const Read&, const Read&) = default;
};

// The document base URL of a folder (its path with one trailing "/"); empty for no folder.
QUrl baseURL(const QUrl& folder);
// The file a request names, "." and ".." removed; empty unless it is a document URL of an
// image file type.
QUrl fileURL(const QUrl& request);
// Whether the file lies below one of the folders (a folder is not inside itself).
bool isInside(const QUrl& file, const QList<QUrl>& folders);
// The MIME type named by the file's extension, "application/octet-stream" when there is none.
QString mimeType(const QUrl& file);
// Whether the file's extension names an image type.
bool isImageType(const QUrl& file);
// Whether an errno value from opening or reading a file means "no permission".
bool isPermissionFailure(int posixError);

// Serves one request for `file` (from fileURL()): read only when the file, symbolic links
// resolved, lies inside `readable` (the granted folders and the document folder); a file outside
// them, or one inside that the system would not let us read while it lies in no folder of
// `granted`, is refused. Blocking: run it off the GUI thread.
Read read(const QUrl& file, const QList<QUrl>& readable, const QList<QUrl>& granted);

} // namespace MarkdownLocalImages
