#include "kit/FileOpener.h"

#include "kit/TextFileLoader.h"

#include <QFileInfo>

namespace {
QString displayName(const QUrl& fileUrl)
{
    const QString name = QFileInfo(fileUrl.toLocalFile()).fileName();
    return name.isEmpty() ? fileUrl.toDisplayString() : name;
}
} // namespace

std::optional<QString> FileOpener::readText(const QUrl& fileUrl)
{
    if (!fileUrl.isLocalFile() || QFileInfo(fileUrl.toLocalFile()).isDir())
        return std::nullopt;
    return TextFileLoader::loadTextFileNow(fileUrl);
}

std::optional<QByteArray> FileOpener::readUTF8(const QUrl& fileUrl)
{
    if (!fileUrl.isLocalFile() || QFileInfo(fileUrl.toLocalFile()).isDir())
        return std::nullopt;
    return TextFileLoader::loadUTF8FileNow(fileUrl);
}

QString FileOpener::unreadableSentence(const QUrl& fileUrl)
{
    return QStringLiteral("Could not read \u201C%1\u201D. The document was left as it was.").arg(displayName(fileUrl));
}

QString FileOpener::editedSentence(const QUrl& fileUrl)
{
    return QStringLiteral("\u201C%1\u201D was not opened: the document was edited while the file was being read.")
        .arg(displayName(fileUrl));
}

QString FileOpener::failedSentence(const QUrl& fileUrl, QuietTask::Failure failure)
{
    return failure == QuietTask::Failure::outOfMemory
        ? QStringLiteral("\u201C%1\u201D was not opened: there was not enough memory to read it. The document was left as "
                         "it was.")
              .arg(displayName(fileUrl))
        : QStringLiteral("\u201C%1\u201D was not opened because of an unexpected error. The document was left as it was.")
              .arg(displayName(fileUrl));
}
