#include "support/Machine.h"

#include "support/Measure.h"

#include <QDir>
#include <QFile>
#include <QThread>

#include <cstdio>
#include <thread>
#include <unistd.h>

namespace bench {

QString cpuModel()
{
    QFile f(QStringLiteral("/proc/cpuinfo"));
    if (!f.open(QIODevice::ReadOnly))
        return QStringLiteral("unknown CPU");
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith("model name"))
            return QString::fromUtf8(line.mid(line.indexOf(':') + 1).trimmed());
    return QStringLiteral("unknown CPU");
}

QString loadNow()
{
    QFile f(QStringLiteral("/proc/loadavg"));
    if (!f.open(QIODevice::ReadOnly))
        return QStringLiteral("load unknown");
    const QList<QByteArray> parts = f.readAll().split(' ');
    return QStringLiteral("load %1 %2 %3 (1, 5, 15 min)")
        .arg(QString::fromLatin1(parts.value(0)), QString::fromLatin1(parts.value(1)), QString::fromLatin1(parts.value(2)));
}

void printMachine(const char* benchName)
{
    // Asked in children: a fork keeps no threads, and the thread pool sizes itself on first use.
    const qint64 idealOne = runForked(Cores::one, [] { return qint64(QThread::idealThreadCount()); }).outBytes;
    const qint64 idealAll = runForked(Cores::all, [] { return qint64(QThread::idealThreadCount()); }).outBytes;
    const qint64 hwOne = runForked(Cores::one, [] { return qint64(std::thread::hardware_concurrency()); }).outBytes;
    std::printf("%s on %s, %d CPUs allowed, %d online; %s at start\n", benchName, qPrintable(cpuModel()), allowedCpus(),
                int(sysconf(_SC_NPROCESSORS_ONLN)), qPrintable(loadNow()));
    std::printf("\"1 core\" = the child pinned to one CPU (sched_setaffinity); \"all cores\" = every allowed CPU.\n"
                "Worker counts the code derives when pinned to one CPU / on all: QThread::idealThreadCount %lld / %lld,\n"
                "std::thread::hardware_concurrency %lld (it ignores the affinity: code sized by it still starts its\n"
                "threads on one core, which then share that CPU).\n",
                (long long)idealOne, (long long)idealAll, (long long)hwOne);
    std::printf("Each figure: median wall time of the runs (min-max), median CPU time (user + system, all threads),\n"
                "highest peak memory; runs of the sides interleaved, each in a child process of its own.\n\n");
    std::fflush(stdout);
}

void prepareHeadless()
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY")
        && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR")) {
        // Left behind on purpose: children of every run share it, and it is empty.
        const QString dir = QDir::temp().filePath(QStringLiteral("quorrix-bench-runtime-%1").arg(getuid()));
        if (QDir().mkpath(dir) && QFile::setPermissions(dir, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner))
            qputenv("XDG_RUNTIME_DIR", QFile::encodeName(dir));
    }
}

void printLoadAtEnd()
{
    std::printf("\n%s at end\n", qPrintable(loadNow()));
    std::fflush(stdout);
}

} // namespace bench
