#pragma once

#include <QtGlobal>

#include <algorithm>
#include <thread>
#include <vector>

// Splits [0, count) into up to one slice per core and runs `work(begin, end, slice)` on each, on
// threads of its own (not the shared pool, whose threads may be the caller's), and waits.
namespace CSVParallel {

inline int sliceCount(qsizetype count, qsizetype minPerSlice)
{
    // One core is left to the GUI thread, which keeps painting and taking keys meanwhile.
    const qsizetype cores = std::max(1u, std::thread::hardware_concurrency() - 1);
    return int(std::clamp<qsizetype>(count / std::max<qsizetype>(1, minPerSlice), 1, std::min<qsizetype>(cores, 16)));
}

template <class Work>
void forSlices(qsizetype count, int slices, Work&& work)
{
    if (slices <= 1 || count <= 1) {
        work(qsizetype(0), count, 0);
        return;
    }
    std::vector<std::thread> threads;
    threads.reserve(slices - 1);
    const qsizetype step = (count + slices - 1) / slices;
    for (int k = 1; k < slices; ++k) {
        const qsizetype begin = std::min(count, k * step);
        const qsizetype end = std::min(count, begin + step);
        threads.emplace_back([&work, begin, end, k] { work(begin, end, k); });
    }
    work(qsizetype(0), std::min(count, step), 0);
    for (std::thread& t : threads)
        t.join();
}

} // namespace CSVParallel
