#include "formats/WorkPool.h"

#include <QCoreApplication>
#include <QThread>
#include <QThreadPool>

#include <algorithm>

namespace {
// One thread more than the cores when pinned to one: a long task (a 100 MB format) then leaves
// room for a short one (a search, a time reading) instead of queueing it for seconds.
int poolSize()
{
    return std::max(2, WorkPool::cores());
}
}

QThreadPool* WorkPool::instance()
{
    // Never destroyed, so no static destructor races a thread still in it; as Qt does for its own
    // pool, the application's end waits for work under way, which its owners have cancelled.
    static QThreadPool* const pool = [] {
        auto* p = new QThreadPool;
        p->setObjectName(QStringLiteral("Quorrix work"));
        p->setMaxThreadCount(poolSize());
        if (QCoreApplication::instance())
            qAddPostRoutine([] { instance()->waitForDone(); });
        return p;
    }();
    return pool;
}

int WorkPool::cores()
{
    return std::max(1, QThread::idealThreadCount());
}

int WorkPool::workers()
{
    return std::min(cores(), kMostWorkers);
}

int WorkPool::workersFor(qsizetype size, qsizetype minimumPart)
{
    return int(std::clamp<qsizetype>(size / std::max<qsizetype>(1, minimumPart), 1, workers()));
}

qsizetype WorkPool::parts(qsizetype size, qsizetype minimumPart)
{
    if (workersFor(size, minimumPart) < 2)
        return 1;
    return std::clamp<qsizetype>(size / minimumPart, 1, 4 * qsizetype(workers()));
}
