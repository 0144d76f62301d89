// The structuring masks of the rank filters: the mask families, single masks
// as row and column runs, and the rank-index rules.
#pragma once

#include <vector>

#include "processing/filter_params.h"

// A mask of radius r as runs: for each row offset dy = -r..r the first and last column
// offset (row_first[dy + r] .. row_last[dy + r]), and likewise per column. An empty row
// or column has first > last. `pixels` is the number of mask pixels.
struct mask_runs {
    int r = 0;
    std::vector<int> col_first, col_last, row_first, row_last;
    int pixels = 0;
};

// The mask family for radius r and mask kind `mask`: the varying family for MASK_VARYING
// (thin ellipses in several orientations, then the circle), one shape otherwise.
mask_family make_family(int mask, int r);
// The single mask a rank filter of mask kind `mask` uses at radius r, the line and ellipse
// masks at `angle` degrees: the first shape of make_family(mask, r).
mask_runs filter_mask(int mask, int r, double angle);
// The same as a value: mask kind `kind` (0..7) of radius r at angle `theta` (radians)
// with semi-axes a, b.
mask_runs make_mask(int kind, int r, double theta, double a, double b);
// Mask m (0 .. count - 1) of family f for radius r; a family that is not varied draws
// kind `mask` at `angle` degrees.
mask_runs family_mask(const mask_family& f, int m, int r, int mask, double angle);
// The mask of the varying family f for one pixel of an orientation field: the thinnest
// ellipse along a strong edge, the circle where the structure is isotropic; its
// orientation the nearest to `angle` (radians).
int family_mask_for(const mask_family& f, double angle, double strength);
// The rank (0 .. n - 1) that centile p takes among n sorted samples: the nearest rank,
// counted from the low end below the median and from the high end above it; with four or
// more samples a centile strictly inside (0, 1) never takes an extreme sample.
int rank_index(double p, int n);

// The rank index for centile p in mask m (n pixels) of the varying family, corrected for
// the mask's thinness; circle_area = (int)(pi (r + 0.5)^2 + 0.5), thin_count the mean
// pixel count of the thinnest shape. Stays strictly on its side of the median.
int calculate_centile(const mask_family& f, double p, int m, int n, double circle_area, double thin_count,
                      int width, bool flag_a, bool flag_b, bool flag_c);
