#include "tools/markdown/MarkdownFolderAccess.h"

#include <QDir>
#include <QFileInfo>
#include <QStringList>

#include <algorithm>

namespace {

// Symbolic links resolved; a folder that does not exist (yet) keeps its cleaned path.
QUrl resolvedFolder(const QUrl& folder)
{
    if (folder.isEmpty() || !folder.isLocalFile())
        return {};
    const QString path = folder.toLocalFile();
    const QString canonical = QFileInfo(path).canonicalFilePath();
    return QUrl::fromLocalFile(canonical.isEmpty() ? QDir::cleanPath(path) : canonical);
}

// "/" for the root, then one entry per folder or file name.
QStringList pathComponents(const QUrl& url)
{
    const QString path = QDir::cleanPath(url.toLocalFile());
    QStringList parts{QStringLiteral("/")};
    const QStringList names = path.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    parts.append(names);
    return parts;
}

} // namespace

MarkdownFolderAccess::MarkdownFolderAccess(QObject* parent) : QObject(parent) {}

void MarkdownFolderAccess::setNeedsAccess(bool needsAccess)
{
    if (m_needsAccess == needsAccess)
        return;
    m_needsAccess = needsAccess;
    emit needsAccessChanged(needsAccess);
}

void MarkdownFolderAccess::setDocumentFolder(const QUrl& folder)
{
    ++m_opens;
    m_suggestedFolder.clear();
    setNeedsAccess(false);
    const QUrl resolved = resolvedFolder(folder);
    if (resolved != m_documentFolder) {
        m_documentFolder = resolved;
        ++m_generation;
    }
    emit opensChanged(m_opens);
}

void MarkdownFolderAccess::noteRefused(const QUrl& target, quint64 generation)
{
    if (generation != m_generation || !target.isLocalFile())
        return;
    const QUrl parent = QUrl::fromLocalFile(QFileInfo(QDir::cleanPath(target.toLocalFile())).path());
    const QUrl base = !m_suggestedFolder.isEmpty() ? m_suggestedFolder
                      : !m_documentFolder.isEmpty() ? m_documentFolder
                                                    : parent;
    const QUrl common = commonFolder(base, parent);
    const QStringList parts = pathComponents(common);
    const qsizetype n = parts.size();
    const bool keep = n > 2
        || (n == 2 && !m_documentFolder.isEmpty() && pathComponents(m_documentFolder) == parts);
    if (!keep)
        return;
    m_suggestedFolder = common;
    setNeedsAccess(true);
}

void MarkdownFolderAccess::grant(const QUrl& folder)
{
    // No sandbox here: the grant is the program's own allow-list.
    const QUrl resolved = resolvedFolder(folder);
    if (!resolved.isEmpty() && !m_granted.contains(resolved))
        m_granted.append(resolved);
    ++m_generation;
    m_suggestedFolder.clear();
    setNeedsAccess(false);
    if (reloadImages)
        reloadImages();
}

QUrl MarkdownFolderAccess::commonFolder(const QUrl& a, const QUrl& b)
{
    const QStringList first = pathComponents(a);
    const QStringList second = pathComponents(b);
    const qsizetype shorter = std::min(first.size(), second.size());
    qsizetype equal = 0;
    while (equal < shorter && first[equal] == second[equal])
        ++equal;
    equal = std::max<qsizetype>(equal, 1);
    QString path = QStringLiteral("/") + first.mid(1, equal - 1).join(QLatin1Char('/'));
    if (!path.endsWith(QLatin1Char('/')))
        path += QLatin1Char('/');
    return QUrl::fromLocalFile(path);
}
