// Channel-by-channel filtering of interleaved images.
#include "processing/planes.h"

#include <vector>

void extract_plane(const int* in, size_t pixels, int n, int k, int* plane)
{
    for (size_t i = 0; i < pixels; i++) plane[i] = in[i * n + k];
}

void filter_planes(int* in, int w, int h, int n, int* out, const plane_filter& filter)
{
    if (w < 1 || h < 1) return;
    if (n == 1) {
        filter(in, w, h, out);
        return;
    }
    const size_t pixels = (size_t)w * h;
    std::vector<int> plane(pixels), result(pixels);
    for (int k = 0; k < n; k++) {
        extract_plane(in, pixels, n, k, plane.data());
        filter(plane.data(), w, h, result.data());
        for (size_t i = 0; i < pixels; i++) out[i * n + k] = result[i];
    }
}
