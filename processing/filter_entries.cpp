// The whole-image filter entry points and their per-channel loop. Entries whose plane
// filters are not built yet copy their input; each filter replaces its entry here as it
// arrives.
#include "processing/filter_entries.h"

#include <algorithm>
#include <vector>

#include "core/record.h"
#include "processing/gaussian_filter.h"

void copy_sampled_to_processed()
{
    if (!info.sampled_image || !info.processed_image) return;
    const int n = info.colour_processing ? info.channels : 1;
    const size_t count = (size_t)info.proc_width * info.proc_height * n;
    if (info.sampled_image != info.processed_image)
        std::copy(info.sampled_image, info.sampled_image + count, info.processed_image);
}

void filter_each_channel(const plane_filter& filter)
{
    const int w = info.proc_width, h = info.proc_height;
    if (!info.sampled_image || !info.processed_image || w < 1 || h < 1) return;
    filter_planes(info.sampled_image, w, h, info.colour_processing ? info.channels : 1,
                  info.processed_image, filter);
}

void gauss_2d()
{
    const double sigma = info.filter_size * 1.3;
    filter_each_channel([sigma](int* in, int w, int h, int* out) { filter_2d(in, w, h, sigma, out); });
}

// Not built yet: these pass the image through.
void average_2d() { copy_sampled_to_processed(); }
void guided_2d(int level) { copy_sampled_to_processed(); }
void grain_2d() { copy_sampled_to_processed(); }
void anisotropic_2d() { copy_sampled_to_processed(); }
void centile_2d(double centile) { copy_sampled_to_processed(); }
void occo_2d(double centile) { copy_sampled_to_processed(); }
void self_dual_2d(double centile, int kind) { copy_sampled_to_processed(); }
void bitonic_2d(double centile) { copy_sampled_to_processed(); }
