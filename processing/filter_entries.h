// The whole-image filter entry points: each filters an image of p.planes() interleaved
// channels, channel by channel, steered by one plane (the scaled grey plane) where the
// filter follows the structure. filter_params_from_record is the one place a filter run
// reads the record; store_probe the one place it writes a result back.
#pragma once

#include <vector>

#include "processing/filter_params.h"
#include "processing/masks.h"
#include "processing/planes.h"

// The planes of one run: `in` is read, `out` written, width x height pixels.
struct filter_image {
    int* in = nullptr;
    int* out = nullptr;
    int width = 0, height = 0;
};

// The record's filter settings: filter, level, mask, sizes, colour, probe at the cursor,
// and the noise map (noise_image at proc_width x proc_height).
filter_params filter_params_from_record();
// The record's sampled_image into processed_image at proc_width x proc_height.
filter_image filter_image_from_record();
// Puts a run's probe window into the record (probe_values, probe_count); nothing when no
// kernel probed.
void store_probe(const probe_window& probe);

// Applies `filter` to each channel of img.in into the same channel of img.out.
void filter_each_channel(const filter_image& img, const filter_params& p, const plane_filter& filter);
// img.out = img.in.
void copy_input(const filter_image& img, const filter_params& p);

// The per-pixel mask of the varying family for radius r from the orientation field of
// `plane`: thin ellipses along strong edges, the circle where the structure is isotropic.
struct varying_masks {
    mask_family family;
    std::vector<int> index;  // one mask of the family per pixel
};
varying_masks varying_mask_choice(const int* plane, int width, int height, int r, const filter_params& p);

// The filter choices; c is the centile / 100 where the filter takes one.
void average_2d(const filter_image& img, const filter_params& p);
void gauss_2d(const filter_image& img, const filter_params& p);
void guided_2d(const filter_image& img, const filter_params& p);
void grain_2d(const filter_image& img, const filter_params& p);
void anisotropic_2d(const filter_image& img, const filter_params& p);
void centile_2d(const filter_image& img, const filter_params& p, double c);
void occo_2d(const filter_image& img, const filter_params& p, double c);
void self_dual_2d(const filter_image& img, const filter_params& p, double c, bool occo_marker);
void bitonic_2d(const filter_image& img, const filter_params& p, double c);
