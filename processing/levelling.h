// The OCCO filter and the self-dual morphological levellings, one plane at a time.
#pragma once

#include "processing/filter_params.h"

// OCCO of one plane: the mean (truncated) of the closing of the opening and the opening
// of the closing at centile c, with the mask p.mask: the local mask steered by `guide` and
// `grey` for MASK_LOCAL, the masks of `family` chosen per pixel by `mask_of_pixel` for
// MASK_VARYING (null pointers elsewhere).
void occo_plane(int* in, int width, int height, int r, double c, int* out, int* guide, int* grey,
                const mask_family* family, const int* mask_of_pixel, const filter_params& p);
// Self-dual levelling of `in` towards `marker` (in place): repeatedly
// marker = min(max(in, rank c of marker), rank 1 - c of marker) over the radius-1 mask,
// at most (width + height) / 4 times, until nothing changes. `progress` reports the
// iterations after two seconds (cancellable); the marker at that point is the result.
// Returns false when cancelled.
bool self_dual_levelling(int* in, int width, int height, double c, int* marker, int channel_offset,
                         int iterations_total, const filter_params& p);
