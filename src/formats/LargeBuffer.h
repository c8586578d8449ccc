#pragma once

#include <QByteArray>
#include <QString>

#include <cstddef>

// Large fresh buffers cost one page fault per 4 KiB when first written, which dominates
// producing big outputs (formatted JSON, rendered HTML). Asking for huge pages over such a buffer cuts that by 512.
namespace LargeBuffer {

void adviseHugePages(void* data, size_t bytes);

// Touches every page of a large buffer that is about to be written, from a few threads at once:
// the kernel's page-fault work is then spread over several cores instead of stalling the writer.
// The buffer's bytes are undefined afterwards.
void prefault(void* data, size_t bytes);

// Maps the whole pages of a stretch about to be written, on this thread, in one call instead of a
// fault each. The stretch's bytes are kept.
void populate(void* data, size_t bytes);

// An uninitialised string of `units` units (a byte array of `size` bytes) to be written whole.
// From a quarter of a megabyte on, its data begins on a huge-page boundary and its pages are
// advised as huge ones: where first writes to fresh pages are dear (under some virtual machines a
// 4 KiB page costs tens of microseconds) a huge page costs little more than one small one. Its
// allocation may exceed its size by up to two huge pages, never touched. It is an ordinary Qt
// container in every other way.
QString uninitializedString(qsizetype units);
QByteArray uninitializedBytes(qsizetype size);

// Memory the same way for a std::vector that grows large.
void* allocate(size_t bytes);
void deallocate(void* data, size_t bytes) noexcept;

template <typename T>
struct Allocator {
    using value_type = T;
    Allocator() noexcept = default;
    template <typename U>
    Allocator(const Allocator<U>&) noexcept
    {
    }
    T* allocate(size_t n) { return static_cast<T*>(LargeBuffer::allocate(n * sizeof(T))); }
    void deallocate(T* data, size_t n) noexcept { LargeBuffer::deallocate(data, n * sizeof(T)); }
    template <typename U>
    bool operator==(const Allocator<U>&) const noexcept
    {
        return true;
    }
};

} // namespace LargeBuffer
