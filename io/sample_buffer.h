// Sample buffers for large images that are filled completely right away.
#pragma once

#include <cstdint>
#include <new>
#include <sys/mman.h>

#include "core/checked_size.h"

// Allocates width x height x channels samples with new[] (so release_array frees them)
// without clearing them, when the size is sane; null otherwise. Large buffers ask the
// kernel for huge pages: first-touch page faults otherwise dominate reading a big image.
inline int* new_samples_unfilled(int64_t width, int64_t height, int64_t channels)
{
    if (width <= 0 || height <= 0 || channels <= 0) return nullptr;
    if (width > max_image_side || height > max_image_side) return nullptr;
    if (!mad3_sizes_valid(width, height, channels, 0)) return nullptr;
    const size_t bytes = (size_t)(width * height * channels) * sizeof(int);
    int* p = new (std::nothrow) int[bytes / sizeof(int)];
    if (p && bytes >= ((size_t)4 << 20)) {
        const uintptr_t start = ((uintptr_t)p + 4095) & ~(uintptr_t)4095;
        const uintptr_t end = ((uintptr_t)p + bytes) & ~(uintptr_t)4095;
        if (end > start) madvise((void*)start, end - start, MADV_HUGEPAGE);
    }
    return p;
}
