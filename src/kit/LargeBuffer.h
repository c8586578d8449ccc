#pragma once

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

} // namespace LargeBuffer
