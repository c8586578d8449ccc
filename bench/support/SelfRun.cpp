#include "support/SelfRun.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>

#include <unistd.h>

namespace bench {

Sample runSelf(Cores cores, const QStringList& args, std::vector<Figures>& into)
{
    static QTemporaryDir dir;
    const QString out = dir.filePath(QStringLiteral("child-figures.txt"));
    const QString self = QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget();
    Sample s = runProcess(cores, QStringList{self} + args, out);
    Figures figures;
    QFile f(out);
    if (s.ok && f.open(QIODevice::ReadOnly)) {
        for (const QByteArray& line : f.readAll().split('\n')) {
            if (!line.startsWith("figure "))
                continue;
            // "figure <name with spaces> <value>"
            const qsizetype lastSpace = line.lastIndexOf(' ');
            figures.insert(QString::fromUtf8(line.mid(7, lastSpace - 7)), line.mid(lastSpace + 1).toDouble());
        }
    }
    into.push_back(figures);
    return s;
}

void report(const QString& name, double value)
{
    std::printf("figure %s %.4f\n", qPrintable(name), value);
    std::fflush(stdout);
}

void reportDescendants(const QString& prefix)
{
    const double tick = 1000.0 / double(sysconf(_SC_CLK_TCK));
    QHash<qint64, qint64> parentOf;
    QHash<qint64, double> cpuOf, peakOf;
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool numeric = false;
        const qint64 pid = entry.toLongLong(&numeric);
        if (!numeric)
            continue;
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray text = stat.readAll();
        // The fields after the command name, which is in parentheses and may hold spaces.
        const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
        if (fields.size() < 13)
            continue;
        parentOf.insert(pid, fields[1].toLongLong());
        cpuOf.insert(pid, (fields[11].toDouble() + fields[12].toDouble()) * tick);
        QFile status(QStringLiteral("/proc/%1/status").arg(pid));
        if (status.open(QIODevice::ReadOnly))
            for (const QByteArray& line : status.readAll().split('\n'))
                if (line.startsWith("VmHWM:"))
                    peakOf.insert(pid, bench::megabytesOfKiB(line.mid(6).trimmed().split(' ').value(0).toDouble()));
    }
    const qint64 self = getpid();
    double cpu = 0, peak = 0;
    for (auto it = cpuOf.cbegin(); it != cpuOf.cend(); ++it) {
        for (qint64 p = parentOf.value(it.key()); p > 1; p = parentOf.value(p)) {
            if (p == self) {
                cpu += it.value();
                peak += peakOf.value(it.key());
                break;
            }
        }
    }
    report(prefix + QStringLiteral(" peak MB"), peak);
    report(prefix + QStringLiteral(" cpu ms"), cpu);
}

QString Spread::text(int decimals) const
{
    if (runs == 0)
        return QStringLiteral("n/a");
    return QStringLiteral("%1 (%2-%3)")
        .arg(median, 0, 'f', decimals)
        .arg(min, 0, 'f', decimals)
        .arg(max, 0, 'f', decimals);
}

Spread spreadOf(const std::vector<Figures>& runs, const QString& name)
{
    std::vector<double> v;
    for (const Figures& f : runs)
        if (f.contains(name))
            v.push_back(f.value(name));
    Spread s;
    if (v.empty())
        return s;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    s.median = n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
    s.min = v.front();
    s.max = v.back();
    s.runs = int(n);
    return s;
}

} // namespace bench
