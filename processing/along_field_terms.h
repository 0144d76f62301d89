// The pair terms of the along-field smoother, shared between its plain loop
// (anisotropic_filter.cpp) and its SIMD forms (along_field_simd.cpp).
#pragma once

#include <cstddef>

// One offset of the half window: its radial weight and its distance / 0.65.
struct field_offset {
    int dx, dy;
    double g, d;
};

// What every pixel's sums read: the orientation vectors, the corner term and the level test.
struct field_setup {
    const double *vx, *vy, *ex;
    int w, h;
    bool use_level;
    long long fixed;  // the level test's bound without a noise map
    const int* noise;
    int level;
};

// One row's terms where every offset's partners lie in the row range (x in [xa, xb)),
// eight pixels at a time with their sums held in registers over all the offsets: for each
// offset j the partner at -o (when the row has one, has_minus) then the one at +o
// (has_plus), in the order of the per-offset forms, so the sums are the same.
struct row_terms {
    const field_offset* o;
    const double *const *own, *const *minus, *const *plus;  // factor rows: the pixel's, partners'
    const long long* shift;
    const bool *has_minus, *has_plus;
    int offsets;
};

// Adds to the sums s / t of row `row` (pixel x at row + x) the pair terms with the partner
// at `shift` from each pixel of [xa, xb), four pixels at a time; fp[x] holds pixel x's
// factor for the offset and fq[x] its partner's. A pair's weight is the radial weight times
// the first pixel's factor times the second's: `partner_first` says the partner is the
// pair's first pixel. Returns the first x not done. Only without a noise map (a fixed level
// test).
int terms_four_at_a_time(const field_setup& f, const int* src, const field_offset& o, const double* fp, const double* fq,
                         double* s, double* t, size_t row, long long shift, bool partner_first, int xa, int xb);

// The same terms for every offset of one row, eight pixels at a time (AVX-512), where every
// partner lies in the row range [xa, xb); returns the first x not done.
int interior_eight_at_a_time(const field_setup& f, const int* src, const row_terms& r, double* s, double* t,
                             size_t row, int xa, int xb);

// The one-pixel form of the same terms, also with a noise map (the level test's bound then
// comes from both pixels' noise).
void terms_one_at_a_time(const field_setup& f, const int* src, const field_offset& o, const double* fp, const double* fq,
                         double* s, double* t, size_t row, long long shift, bool partner_first, int xa, int xb);
