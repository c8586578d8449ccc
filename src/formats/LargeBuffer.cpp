#include "formats/LargeBuffer.h"

#include "formats/RunParts.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <new>

#ifdef __linux__
#include <sys/mman.h>
#endif

namespace {

constexpr qsizetype kHuge = qsizetype(2) << 20;
constexpr qsizetype kHugeFrom = qsizetype(1) << 18; // bytes

// The room to take for `bytes` from a huge-page boundary on: whole huge pages, unless what lies
// past the last whole one is short enough that its small pages cost less than clearing one more
// huge page (then it stays on small pages).
qsizetype hugeRoom(qsizetype bytes)
{
    const qsizetype whole = bytes & ~(kHuge - 1);
    return bytes - whole >= kHugeFrom ? whole + kHuge : bytes;
}

void adviseWhole(void* data, qsizetype room)
{
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    const qsizetype whole = room & ~(kHuge - 1);
    if (whole > 0)
        (void)madvise(data, size_t(whole), MADV_HUGEPAGE); // advice only
#else
    (void)data;
    (void)room;
#endif
}

// Advises the huge pages that lie wholly inside a buffer that is about to be written whole. Qt
// places its containers' data where it likes, so only the pages between the buffer's first and
// last huge-page boundaries can be had; the stretches at either end stay on small pages.
void adviseInside(void* data, qsizetype bytes)
{
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    const uintptr_t huge = uintptr_t(kHuge);
    const uintptr_t begin = (reinterpret_cast<uintptr_t>(data) + huge - 1) & ~(huge - 1);
    const uintptr_t end = (reinterpret_cast<uintptr_t>(data) + uintptr_t(bytes)) & ~(huge - 1);
    if (end > begin)
        (void)madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE); // advice only
#else
    (void)data;
    (void)bytes;
#endif
}

// A container's allocation takes its header and the allocator's besides the data.
constexpr qsizetype kHeaderRoom = 64;

// A container of `count` elements of `size` bytes whose data begins on a huge-page boundary, all
// of its pages advised as huge ones. The allocators write their headers just before the data, and
// a sized container its terminator just after it, before any advice could be given: a huge page
// holding either would stay on small pages. So room is reserved for the data and a huge page
// more, whole huge pages in all (which the system places on a huge-page boundary); the pages from
// the first boundary in it are advised; the container is sized to reach past it and its elements
// before the boundary are removed (which moves no data). Only the header's page is touched
// before the boundary.
template <typename Container>
Container startingOnHugePage(qsizetype count, qsizetype size)
{
    const qsizetype bytes = count * size;
    Container out;
    out.reserve((((bytes + kHeaderRoom + kHuge - 1) & ~(kHuge - 1)) + kHuge - kHeaderRoom) / size);
    const uintptr_t at = reinterpret_cast<uintptr_t>(out.constData());
    const uintptr_t boundary = (at + uintptr_t(kHuge) - 1) & ~uintptr_t(kHuge - 1);
    adviseWhole(reinterpret_cast<void*>(boundary), hugeRoom(bytes));
    const qsizetype skip = qsizetype(boundary - at) / size;
    out.resize(skip + count);
    if (skip > 0)
        out.remove(0, skip);
    return out;
}

} // namespace

namespace LargeBuffer {

QString uninitializedString(qsizetype units)
{
    if (units * qsizetype(sizeof(char16_t)) < kHugeFrom)
        return QString(units, Qt::Uninitialized);
    return startingOnHugePage<QString>(units, qsizetype(sizeof(char16_t)));
}

void* allocate(size_t bytes)
{
    if (bytes < size_t(kHugeFrom))
        return ::operator new(bytes);
    // aligned_alloc wants a multiple of the alignment.
    const size_t room = size_t(hugeRoom(qsizetype(bytes)));
    void* data = std::aligned_alloc(size_t(kHuge), (room + size_t(kHuge) - 1) & ~size_t(kHuge - 1));
    if (!data)
        throw std::bad_alloc();
    adviseWhole(data, qsizetype(room));
    return data;
}

void deallocate(void* data, size_t bytes) noexcept
{
    if (bytes < size_t(kHugeFrom))
        ::operator delete(data);
    else
        std::free(data);
}

QByteArray uninitializedBytes(qsizetype size)
{
    if (size < kHugeFrom)
        return QByteArray(size, Qt::Uninitialized);
    return startingOnHugePage<QByteArray>(size, 1);
}

void adviseHugePages(void* data, size_t bytes)
{
    if (bytes >= size_t(4 * kHuge))
        adviseInside(data, qsizetype(bytes));
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
    if (bytes < 16 * page)
        return;
    const int count = int(std::max<size_t>(1, std::min<size_t>({4, size_t(partWorkers()), bytes / minimumSlice})));
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
    runParts(count, [&touch, slice](qsizetype k) { touch(size_t(k) * slice, size_t(k + 1) * slice); }, count);
}

} // namespace LargeBuffer
