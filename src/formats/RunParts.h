#pragma once
// Work cut into parts and run side by side, the one way the converters and readers of large
// texts spread their work over the cores.
#include "formats/WorkPool.h"

#include <QRunnable>
#include <QThreadPool>

#include <algorithm>
#include <atomic>
#include <latch>
#include <memory>
#include <vector>

// Runs job(i) once for every i below `parts`, on the calling thread and up to workers - 1 threads
// of `pool` (by default the program's own, and as many threads as WorkPool::workers() answers). Each takes
// the next part in turn, so one slow part holds up no other. Starting a thread in a fresh process
// costs its starter about a millisecond here, so the caller starts one helper and every helper
// two more before it takes a part; the caller waits only for parts taken, never for a helper to
// begin, and one that begins after every part is taken touches nothing of the caller's.
template <typename Job>
void runParts(qsizetype parts, const Job& job, int workers = 0, QThreadPool* pool = nullptr)
{
    if (parts <= 1) {
        if (parts == 1)
            job(0);
        return;
    }
    if (!pool)
        pool = WorkPool::instance();
    if (workers <= 0)
        workers = std::min(WorkPool::workers(), std::max(1, pool->maxThreadCount()));
    // Outlives the call for helpers that begin late; `job` is reached only through a part taken.
    struct Shared : std::enable_shared_from_this<Shared> {
        std::atomic<qsizetype> next{0};
        std::atomic<int> unstarted;
        std::latch finished;
        const Job* job;
        qsizetype parts;
        QThreadPool* pool;
        Shared(qsizetype n, int helpers, const Job* j, QThreadPool* p) : unstarted(helpers), finished(n), job(j), parts(n), pool(p) {}
        void startHelpers(int count)
        {
            for (int k = 0; k < count && next.load(std::memory_order_relaxed) < parts
                            && unstarted.fetch_sub(1, std::memory_order_relaxed) > 0; ++k) {
                pool->start([self = this->shared_from_this()] {
                    self->startHelpers(2);
                    self->take();
                });
            }
        }
        void take()
        {
            for (qsizetype i; (i = next.fetch_add(1, std::memory_order_relaxed)) < parts;) {
                (*job)(i);
                finished.count_down();
            }
        }
    };
    const int helpers = int(std::min<qsizetype>(parts, workers)) - 1;
    const auto shared = std::make_shared<Shared>(parts, helpers, &job, pool);
    shared->startHelpers(1);
    shared->take();
    shared->finished.wait();
}

// Runs job(begin, end) over [0, size) cut into WorkPool::parts(size, minimumPart) even stretches.
template <typename Job>
void runStretches(qsizetype size, qsizetype minimumPart, const Job& job)
{
    const qsizetype parts = WorkPool::parts(size, minimumPart);
    runParts(parts, [&](qsizetype k) {
        job(size / parts * k, k + 1 == parts ? size : size / parts * (k + 1));
    });
}
