#pragma once

#include <cstddef>

// Large fresh buffers cost one page fault per 4 KiB when first written, which dominates
// formatting of big documents. Asking for huge pages over such a buffer cuts that by 512.
namespace JSONLargeBuffer {

void adviseHugePages(void* data, size_t bytes);

} // namespace JSONLargeBuffer
