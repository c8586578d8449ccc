#pragma once

// A process pinned to one core starts no helper threads: these pin the calling thread (and so
// every thread it starts after) to the first core it may run on, and count the process's threads.

#include <QDir>
#include <QtGlobal>

#include <sched.h>

namespace OneCore {

inline cpu_set_t allowed()
{
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) != 0)
        CPU_ZERO(&set);
    return set;
}

inline int coreCount()
{
    const cpu_set_t set = allowed();
    return CPU_COUNT(&set);
}

// Answers the affinity it had, for restore().
inline cpu_set_t pin()
{
    const cpu_set_t before = allowed();
    for (int core = 0; core < CPU_SETSIZE; ++core) {
        if (CPU_ISSET(core, &before)) {
            cpu_set_t one;
            CPU_ZERO(&one);
            CPU_SET(core, &one);
            (void)sched_setaffinity(0, sizeof one, &one);
            break;
        }
    }
    return before;
}

inline void restore(const cpu_set_t& set)
{
    (void)sched_setaffinity(0, sizeof set, &set);
}

inline qsizetype threadCount()
{
    return QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size();
}

} // namespace OneCore
