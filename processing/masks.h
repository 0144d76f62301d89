// The structuring masks of the rank filters: the mask family of the record, single masks
// as row and column runs, and the rank-index rules.
#pragma once

#include <vector>

// A mask of radius r as runs: for each row offset dy = -r..r the first and last column
// offset (row_first[dy + r] .. row_last[dy + r]), and likewise per column. An empty row
// or column has first > last. `pixels` is the number of mask pixels.
struct mask_runs {
    int r = 0;
    std::vector<int> col_first, col_last, row_first, row_last;
    int pixels = 0;
};

// Fills the record's mask description (mask_shapes ... mask_varied) for radius r and the
// current mask choice, replacing the previous one: the varying family for mask 1 (thin
// ellipses in several orientations, then the circle), one shape otherwise.
void create_mask_info(int r);

// The mask of radius (size - 1) / 2 for the current mask, angle, mask_a, mask_b: the
// runs into the four arrays of 2r + 1 entries; returns the pixel count.
long create_mask(long size, int* col_first, int* col_last, int* row_first, int* row_last);

// The same as a value: mask kind `kind` (0..7) of radius r at angle `theta` (radians)
// with semi-axes a, b.
mask_runs make_mask(int kind, int r, double theta, double a, double b);

// The mask of the record's family with index m (0 .. mask_count - 1) for radius r.
mask_runs family_mask(int m, int r);

// The mask of the record's varying family (create_mask_info done) for one pixel of an
// orientation field: the thinnest ellipse along a strong edge, the circle where the
// structure is isotropic; its orientation the nearest to `angle` (radians).
int family_mask_for(double angle, double strength);

// The rank (0 .. n - 1) that centile p takes among n sorted samples: the nearest rank,
// counted from the low end below the median and from the high end above it; with four or
// more samples a centile strictly inside (0, 1) never takes an extreme sample.
int rank_index(double p, int n);

// The rank index for centile p in mask m (n pixels) of the varying family, corrected for
// the mask's thinness; circle_area = (int)(pi (r + 0.5)^2 + 0.5), thin_count the mean
// pixel count of the thinnest shape. Stays strictly on its side of the median.
int calculate_centile(double p, int m, int n, double circle_area, double thin_count, int width,
                      bool flag_a, bool flag_b, bool flag_c);
