// The OCCO filter and the self-dual morphological levellings, one plane at a time.
#pragma once

// OCCO of one plane: the mean (truncated) of the closing of the opening and the opening
// of the closing at centile c, with the mask of the current choice (the local mask steered
// by `guide` and `grey` when mask 2 is chosen; both may be null otherwise).
void occo_plane(int* in, int width, int height, int r, double c, int* out, int* guide, int* grey,
                const int* mask_of_pixel);

// Self-dual levelling of `in` towards `marker` (in place): repeatedly
// marker = min(max(in, rank c of marker), rank 1 - c of marker) over the radius-1 mask,
// at most (width + height) / 4 times, until nothing changes. `progress` reports the
// iterations after two seconds (cancellable); the marker at that point is the result.
// Returns false when cancelled.
bool self_dual_levelling(int* in, int width, int height, double c, int* marker, int channel_offset,
                         int iterations_total);
