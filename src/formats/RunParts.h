#pragma once
// Work cut into parts and run side by side, the one way the converters and readers of large
// texts spread their work over the cores.
#include <QRunnable>
#include <QThread>
#include <QThreadPool>

#include <algorithm>
#include <atomic>
#include <latch>
#include <memory>
#include <vector>

// The threads worth spreading parts over: the cores the process may run on (its CPU affinity,
// which the machine's core count ignores), at least one. Asked afresh on each call, so a process
// pinned after it started is followed too.
inline int partWorkers()
{
    return std::max(1, QThread::idealThreadCount());
}

// Runs job(i) once for every i below `parts`, on the calling thread and up to workers - 1 threads
// of `pool` (by default the global pool, and as many threads as partWorkers() answers). Each takes the next part in turn,
// so one slow part holds up no other; helpers the pool has not started by the time every part is
// taken are withdrawn, so a busy pool never leaves the caller waiting on queued work.
template <typename Job>
void runParts(qsizetype parts, const Job& job, int workers = 0, QThreadPool* pool = nullptr)
{
    if (parts <= 1) {
        if (parts == 1)
            job(0);
        return;
    }
    if (!pool)
        pool = QThreadPool::globalInstance();
    if (workers <= 0)
        workers = std::min(partWorkers(), std::max(1, pool->maxThreadCount()));
    std::atomic<qsizetype> next{0};
    auto take = [&next, &job, parts] {
        for (qsizetype i; (i = next.fetch_add(1, std::memory_order_relaxed)) < parts;)
            job(i);
    };
    const int helpers = int(std::min<qsizetype>(parts, workers)) - 1;
    std::latch done(helpers);
    std::vector<std::unique_ptr<QRunnable>> runnables;
    runnables.reserve(size_t(std::max(0, helpers)));
    for (int h = 0; h < helpers; ++h) {
        runnables.emplace_back(QRunnable::create([&take, &done] {
            take();
            done.count_down();
        }));
        runnables.back()->setAutoDelete(false);
        pool->start(runnables.back().get());
    }
    take();
    for (auto& runnable : runnables) {
        if (pool->tryTake(runnable.get()))
            done.count_down();
    }
    done.wait();
}
