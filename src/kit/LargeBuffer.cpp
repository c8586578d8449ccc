#include "kit/LargeBuffer.h"

#include <algorithm>
#include <cstdint>
#include <thread>
#include <vector>

#ifdef __linux__
#include <sys/mman.h>
#endif

namespace LargeBuffer {

void adviseHugePages(void* data, size_t bytes)
{
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    constexpr uintptr_t huge = uintptr_t(2) << 20;
    if (bytes < 4 * huge)
        return;
    const uintptr_t begin = (reinterpret_cast<uintptr_t>(data) + huge - 1) & ~(huge - 1);
    const uintptr_t end = (reinterpret_cast<uintptr_t>(data) + bytes) & ~(huge - 1);
    if (end > begin)
        (void)madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE); // advice only
#else
    (void)data;
    (void)bytes;
#endif
}

void populate(void* data, size_t bytes)
{
#if defined(__linux__) && defined(MADV_POPULATE_WRITE)
    constexpr uintptr_t page = 4096;
    const uintptr_t first = (reinterpret_cast<uintptr_t>(data) + page - 1) & ~(page - 1);
    const uintptr_t last = (reinterpret_cast<uintptr_t>(data) + bytes) & ~(page - 1);
    if (last > first)
        (void)madvise(reinterpret_cast<void*>(first), last - first, MADV_POPULATE_WRITE);
#else
    (void)data;
    (void)bytes;
#endif
}

void prefault(void* data, size_t bytes)
{
    constexpr size_t page = 4096;
    // Below this a thread costs more than the faults it takes over.
    constexpr size_t minimumSlice = size_t(256) << 10;
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    if (bytes < 16 * page)
        return;
    const size_t count = std::max<size_t>(1, std::min<size_t>({4, cores, bytes / minimumSlice}));
    char* const base = static_cast<char*>(data);
    const size_t slice = (bytes / count + page - 1) & ~(page - 1);
    auto touch = [base, bytes](size_t from, size_t to) {
        to = std::min(to, bytes);
        if (from >= to)
            return;
        // Populating the slice in one call spares the kernel a trap per page; the writes
        // after it still map each page for this process.
        populate(base + from, to - from);
        for (size_t at = from; at < to; at += page)
            reinterpret_cast<volatile char*>(base)[at] = 0;
        reinterpret_cast<volatile char*>(base)[to - 1] = 0;
    };
    std::vector<std::thread> helpers;
    helpers.reserve(count - 1);
    for (size_t i = 1; i < count; ++i)
        helpers.emplace_back(touch, i * slice, (i + 1) * slice);
    touch(0, slice);
    for (std::thread& t : helpers)
        t.join();
}

} // namespace LargeBuffer
