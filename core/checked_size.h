// Size checks for every loader: sizes read from a file never drive an allocation, a
// seek or a loop before they are known to be sane.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>

// Largest image side any loader accepts; larger headers are treated as corrupt.
constexpr int64_t max_image_side = 1 << 16;

// True when a * b * c + add has no negative factor and fits in size_t (and in the 32-bit
// index range the images use for sample counts).
inline bool mad3_sizes_valid(int64_t a, int64_t b, int64_t c, int64_t add)
{
    if (a < 0 || b < 0 || c < 0 || add < 0) return false;
    const int64_t limit = std::numeric_limits<int32_t>::max();
    if (a != 0 && b > limit / a) return false;
    const int64_t ab = a * b;
    if (ab != 0 && c > limit / ab) return false;
    const int64_t abc = ab * c;
    return abc <= limit - add;
}

// True when an image of width x height x channels samples of `bytes_per_sample` bytes
// (after `offset` bytes) fits in `available` bytes and in memory's index range.
inline bool image_fits(int64_t width, int64_t height, int64_t channels, int64_t bytes_per_sample,
                       int64_t offset, int64_t available)
{
    if (width <= 0 || height <= 0 || channels <= 0 || bytes_per_sample <= 0) return false;
    if (width > max_image_side || height > max_image_side) return false;
    if (!mad3_sizes_valid(width, height, channels, 0)) return false;
    const int64_t samples = width * height * channels;
    if (bytes_per_sample > (std::numeric_limits<int64_t>::max() - offset) / samples) return false;
    return offset >= 0 && samples * bytes_per_sample + offset <= available;
}

// Allocates width x height x channels samples (zeroed) only when the size is sane;
// null otherwise. Never throws for a hostile size.
inline int* new_samples_checked(int64_t width, int64_t height, int64_t channels)
{
    if (width <= 0 || height <= 0 || channels <= 0) return nullptr;
    if (width > max_image_side || height > max_image_side) return nullptr;
    if (!mad3_sizes_valid(width, height, channels, 0)) return nullptr;
    return new (std::nothrow) int[(size_t)(width * height * channels)]();
}
