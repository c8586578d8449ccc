#include "formats/LargeBuffer.h"

#include <QArrayDataPointer>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <new>
#include <optional>
#include <thread>
#include <vector>

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

// Array data whose elements start on a huge-page boundary, as Qt's own containers take it over
// (and free it); nothing when it cannot be had.
template <typename T>
std::optional<QArrayDataPointer<T>> hugeData(qsizetype size)
{
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    if (size < 0 || size > (std::numeric_limits<qsizetype>::max() - 2 * kHuge) / qsizetype(sizeof(T)))
        return std::nullopt;
    const qsizetype bytes = hugeRoom((size + 1) * qsizetype(sizeof(T))); // a whole number of elements
    QArrayData* header = nullptr;
    void* data = QArrayData::allocate(&header, sizeof(T), kHuge, bytes / qsizetype(sizeof(T)), QArrayData::KeepSize);
    if (!data || !header)
        return std::nullopt;
    adviseWhole(data, bytes);
    // The room is counted from where Qt's own arrays begin, so that their free space at either end
    // adds up.
    auto* const typed = static_cast<QTypedArrayData<T>*>(header);
    T* const first = static_cast<T*>(data);
    header->alloc = (first - QTypedArrayData<T>::dataStart(header, alignof(typename QTypedArrayData<T>::AlignmentDummy)))
        + bytes / qsizetype(sizeof(T));
    first[size] = T(0);
    return QArrayDataPointer<T>(typed, first, size);
#else
    (void)size;
    return std::nullopt;
#endif
}

} // namespace

namespace LargeBuffer {

QString uninitializedString(qsizetype units)
{
    if (units * qsizetype(sizeof(char16_t)) >= kHugeFrom) {
        if (auto data = hugeData<char16_t>(units))
            return QString(std::move(*data));
    }
    return QString(units, Qt::Uninitialized);
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
    if (size >= kHugeFrom) {
        if (auto data = hugeData<char>(size))
            return QByteArray(std::move(*data));
    }
    return QByteArray(size, Qt::Uninitialized);
}

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
