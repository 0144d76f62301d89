// Colour images are filtered channel by channel: each interleaved channel is taken out
// into a plane, filtered, and put back.
#pragma once

#include <cstddef>
#include <functional>

// A one-plane filter: (input plane, width, height, output plane).
using plane_filter = std::function<void(int* in, int width, int height, int* out)>;

// Runs `filter` on each of the n interleaved channels of `in` (w x h pixels) into the
// same channel of `out`; with n = 1 on the images themselves.
void filter_planes(int* in, int w, int h, int n, int* out, const plane_filter& filter);

// Copies channel k of n interleaved channels of `pixels` pixels into `plane`.
void extract_plane(const int* in, size_t pixels, int n, int k, int* plane);
