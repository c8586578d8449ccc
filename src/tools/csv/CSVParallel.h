#pragma once

#include "formats/RunParts.h"

#include <QtGlobal>

#include <algorithm>

// Splits [0, count) into up to one slice per worker and runs `work(begin, end, slice)` on each,
// side by side through runParts, and waits.
namespace CSVParallel {

inline int sliceCount(qsizetype count, qsizetype minPerSlice)
{
    return WorkPool::workersFor(count, minPerSlice);
}

template <class Work>
void forSlices(qsizetype count, int slices, Work&& work)
{
    if (slices <= 1 || count <= 1) {
        work(qsizetype(0), count, 0);
        return;
    }
    const qsizetype step = (count + slices - 1) / slices;
    runParts(slices, [&work, count, step](qsizetype k) {
        const qsizetype begin = std::min(count, k * step);
        work(begin, std::min(count, begin + step), int(k));
    }, std::min(slices, WorkPool::workers()));
}

} // namespace CSVParallel
