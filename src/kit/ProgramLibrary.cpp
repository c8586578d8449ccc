#include "kit/ProgramLibrary.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace {
// Also where no application object is made (a forked worker, say): the running program's file.
QString programFolder()
{
    if (QCoreApplication::instance())
        return QCoreApplication::applicationDirPath();
    return QFileInfo(QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget()).path();
}
} // namespace

QString ProgramLibrary::path(const QString& fileName)
{
    const QDir here(programFolder());
    for (const QString& folder : {here.path(), here.filePath(QStringLiteral(QUORRIX_LIBRARIES_INSTALLED))}) {
        const QString path = QDir(folder).filePath(fileName);
        if (QFileInfo::exists(path))
            return path;
    }
    return {};
}
