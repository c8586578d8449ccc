#pragma once
// The line a started window prints at its first paint, read by bench-startup: web views by
// then, CPU time and peak memory of the process so far, shared libraries loaded.
#include <QByteArray>
#include <QFile>
#include <QSet>

#include <cstdio>
#include <sys/resource.h>

inline void reportFirstPaint(int webViews)
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const double cpuMs = (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3
                         + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
    QSet<QByteArray> libraries;
    QFile maps(QStringLiteral("/proc/self/maps"));
    if (maps.open(QIODevice::ReadOnly)) {
        for (const QByteArray& line : maps.readAll().split('\n')) {
            const qsizetype slash = line.indexOf('/');
            if (slash >= 0 && line.contains(".so"))
                libraries.insert(line.mid(slash));
        }
    }
    std::printf("painted %d %.1f %.1f %d\n", webViews, cpuMs, usage.ru_maxrss / 1024.0, int(libraries.size()));
    std::fflush(stdout);
}
