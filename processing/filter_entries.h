// The whole-image filter entry points: each reads sampled_image and writes
// processed_image at proc_width x proc_height, channel by channel for colour images.
#pragma once

#include <vector>

#include "processing/planes.h"

// Applies `filter` to sampled_image into processed_image: directly for one plane, or
// for colour processing to each of `channels` channels extracted into a plane and
// written back interleaved.
void filter_each_channel(const plane_filter& filter);

// processed_image = sampled_image.
void copy_sampled_to_processed();

// The per-pixel mask of the varying family (mask indices of the record's family for
// radius r) from the orientation field of `plane`: thin ellipses along strong edges, the
// circle where the structure is isotropic. Rebuilds the family with create_mask_info.
std::vector<int> varying_mask_choice(const int* plane, int width, int height, int r);

void average_2d();
void gauss_2d();
void guided_2d(int level);
void grain_2d();
void anisotropic_2d();
void centile_2d(double centile);
void occo_2d(double centile);
void self_dual_2d(double centile, int kind);
void bitonic_2d(double centile);
