// The pair terms of the along-field smoother, shared between its plain loop
// (anisotropic_filter.cpp) and its SIMD form (along_field_simd.cpp).
#pragma once

#include <cstddef>

// One offset of the half window: its radial weight and its distance / 0.65.
struct field_offset {
    int dx, dy;
    double g, d;
};

// What every pixel's sums read: the orientation vectors, the corner term and the level test.
struct field_setup {
    const double *vx, *vy, *ex;  // ex: the corner measure (read up to 0.65), or null
    int w, h;
    bool use_level;
    long long fixed;  // the level test's bound without a noise map
    const int* noise;
    int level;
};

// Adds to the sums s / t of row `row` (pixel x at row + x) the pair terms with the partner
// at `shift` from each pixel of [xa, xb), four pixels at a time; fp[x] holds pixel x's
// factor for the offset and fq[x] its partner's. A pair's weight is the radial weight times
// the first pixel's factor times the second's: `partner_first` says the partner is the
// pair's first pixel. Returns the first x not done. Only without a noise map (a fixed level
// test).
int terms_four_at_a_time(const field_setup& f, const int* src, const field_offset& o, const double* fp, const double* fq,
                         double* s, double* t, size_t row, long long shift, bool partner_first, int xa, int xb);

// terms_four_at_a_time with the noise map's level test (f.noise set, f.use_level); stops
// before four pixels with a negative noise value, and does nothing with a negative level.
int noise_terms_four_at_a_time(const field_setup& f, const int* src, const field_offset& o, const double* fp,
                               const double* fq, double* s, double* t, size_t row, long long shift, bool partner_first,
                               int xa, int xb);

// Both terms of one offset for pixels of [xa, xb) that have both partners, four at a time:
// first the pair with the neighbour at -shift (factors fm), then the one at +shift (factors
// fn), as terms_four_at_a_time twice but with the sums loaded and stored once. Returns the
// first x not done.
int pair_terms_four_at_a_time(const field_setup& f, const int* src, const field_offset& o, const double* fp,
                              const double* fm, const double* fn, double* s, double* t, size_t row, long long shift,
                              int xa, int xb);

// The one-pixel form of the same terms, also with a noise map (the level test's bound then
// comes from both pixels' noise).
void terms_one_at_a_time(const field_setup& f, const int* src, const field_offset& o, const double* fp, const double* fq,
                         double* s, double* t, size_t row, long long shift, bool partner_first, int xa, int xb);
