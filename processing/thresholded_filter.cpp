// The level-thresholded Gaussian. Until it is built with the other smoothing filters it
// passes the plane through unchanged, so that the "Gaussian filter" with the level in
// force is a safe no-op.
#include "processing/thresholded_filter.h"

#include <algorithm>

void thresholded_filter_2d(int* in, int width, int height, double sigma, int* out)
{
    if (width < 1 || height < 1 || in == out) return;
    std::copy(in, in + (size_t)width * height, out);
}
