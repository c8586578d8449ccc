#include "support/Corpus.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

namespace bench {

QString corpusDir()
{
    const QString asked = qEnvironmentVariable("QUORRIX_BENCH_CORPUS");
    if (!asked.isEmpty())
        return QFileInfo::exists(asked) ? asked : QString();
    QDir dir(QStringLiteral(QUORRIX_SOURCE_DIR));
    do {
        const QString candidate = dir.filePath(QStringLiteral("shared/bench-corpus"));
        if (QFileInfo(candidate).isDir())
            return candidate;
    } while (dir.cdUp());
    return {};
}

QString megabytes(qint64 bytes) { return QStringLiteral("%1 MB").arg(bytes / 1e6, 0, 'f', 1); }

static QByteArray readCorpus(const QString& relativePath)
{
    const QString dir = corpusDir();
    if (dir.isEmpty())
        return {};
    QFile f(QDir(dir).filePath(relativePath));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

static QString fileName(const QString& relativePath) { return QFileInfo(relativePath).fileName(); }

Input corpusFile(const QString& relativePath)
{
    Input in{fileName(relativePath), readCorpus(relativePath)};
    in.name += QStringLiteral(" (%1)").arg(megabytes(in.bytes.size()));
    return in;
}

Input repeated(const QString& relativePath, int copies)
{
    const QByteArray one = readCorpus(relativePath);
    Input in{QStringLiteral("%1 x%2").arg(fileName(relativePath)).arg(copies), one.repeated(copies)};
    in.name += QStringLiteral(" (%1)").arg(megabytes(in.bytes.size()));
    return in;
}

Input repeatedTo(const QString& relativePath, qint64 targetBytes)
{
    const qint64 size = QFileInfo(QDir(corpusDir()).filePath(relativePath)).size();
    return repeated(relativePath, size > 0 ? int((targetBytes + size - 1) / size) : 1);
}

Input prefix(const QString& relativePath, qint64 targetBytes)
{
    QByteArray bytes = readCorpus(relativePath);
    const qsizetype cut = bytes.lastIndexOf("\n\n", targetBytes);
    if (cut > 0)
        bytes.truncate(cut + 2);
    Input in{QStringLiteral("%1, its first %2 (to a blank line)").arg(fileName(relativePath), megabytes(bytes.size())), bytes};
    return in;
}

Input csvRowsRepeatedTo(const QString& relativePath, qint64 targetBytes)
{
    const QByteArray all = readCorpus(relativePath);
    const qsizetype headerEnd = all.indexOf('\n') + 1;
    QByteArray rows = all.mid(headerEnd);
    if (!rows.isEmpty() && !rows.endsWith('\n'))
        rows += '\n';
    const int copies = rows.isEmpty() ? 1 : int(std::max<qint64>(1, (targetBytes - headerEnd + rows.size() - 1) / rows.size()));
    Input in{QStringLiteral("%1, data rows x%2 under its header").arg(fileName(relativePath)).arg(copies),
             all.left(headerEnd) + rows.repeated(copies)};
    in.name += QStringLiteral(" (%1)").arg(megabytes(in.bytes.size()));
    return in;
}

Input generated(const QString& what, QByteArray bytes)
{
    Input in{QStringLiteral("generated %1 (%2)").arg(what, megabytes(bytes.size())), std::move(bytes)};
    return in;
}

} // namespace bench
