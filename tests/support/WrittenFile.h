#pragma once
// Test documents written into a temporary folder.
#include <QByteArray>
#include <QFile>
#include <QTemporaryDir>
#include <QUrl>

// `bytes` as the file `name` in `dir`, as a file URL. A file that cannot be written stops the run:
// every later check would fail for the wrong reason.
inline QUrl writeFile(const QTemporaryDir& dir, const QString& name, const QByteArray& bytes)
{
    const QString path = dir.filePath(name);
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
    return QUrl::fromLocalFile(path);
}

// A file of `size` zero bytes that takes no room on disk (a hole), for the checks of files too
// large to read.
inline QUrl writeSparseFile(const QTemporaryDir& dir, const QString& name, qint64 size)
{
    const QString path = dir.filePath(name);
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || !f.resize(size))
        qFatal("cannot write %s", qPrintable(path));
    return QUrl::fromLocalFile(path);
}
