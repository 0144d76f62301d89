// The local-mask rank filter's wide forms (AVX2): the admission of a row's neighbours
// sixteen pixels at a time on 16-bit grey values, and the ranks of 32 (8-bit levels) or 16
// (16-bit levels) pixels at a time, by a binary search on the level that counts, for every
// pixel at once, how many of its admitted neighbours lie below a trial level.
//
// Both work on padded planes of short codes: a row of a padded plane holds `pad` codes
// before the image's first column and at least pad + 32 after its last, and the rows of
// the image are preceded and followed by `pad` rows of padding, so every window reads
// inside it and no pixel needs a form of its own near the border.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// How the levels (sample / 16, truncated toward zero, the values a local rank is taken
// over) of a plane are coded: level - low - 2^(bits_per_lane - 1), in int8_t or int16_t.
// The largest code stands in for neighbours that are not admitted: a trial level never
// exceeds low + 2^span_bits - 1, so it never counts them.
struct level_code {
    int lane_bits = 0;  // 8 or 16; 0: the levels need wider lanes, no wide form
    int low = 0;        // the smallest level
    int span_bits = 0;  // bits of the largest level - low
    int bias() const { return 1 << (lane_bits - 1); }
    int code(int sample) const { return sample / 16 - low - bias(); }
};

// The narrowest code for the samples of `plane` and windows of `taps` neighbours (the
// counts must fit a lane too).
level_code choose_level_code(const int* plane, size_t count, int taps);

// The grey plane in 16-bit lanes when every grey value lies within +-32767 (-32768 is the
// padding, which no pixel admits): the padded plane, else empty.
std::vector<int16_t> padded_grey16(const int* grey, int w, int h, int pad);

// A row's 16-bit admission bounds (w rounded up to 32 entries, an empty pair past w): a
// neighbour's whole grey value g lies within the limit L x f of the guide value own (f from
// the window's guide extremes lo and hi, as the plain form computes it) exactly when
// own - floor(L x f) <= g <= own + floor(L x f); the bounds are clipped to the grey values'
// range (+-32767), an empty pair (lo > hi) where none can be admitted. AVX2 only.
void admission_bounds(const int* guide, const int* lo, const int* hi, double scale, int w, int16_t* lo16,
                      int16_t* hi16);

// Row y's admission bits (mask layout of the local rank filter: per tap `stride` words, bit
// x % 64 of word x / 64) from the padded 16-bit grey plane: a neighbour is admitted when
// lo[x] <= grey <= hi[x]. lo and hi hold w rounded up to 32 entries (beyond w: lo > hi).
// tap_at[k] is the tap's offset in the padded plane from pixel (0, y)'s padded place.
void admit_row16(const int16_t* grey_at_row, const long long* tap_at, int taps, int w, const int16_t* lo,
                 const int16_t* hi, int stride, uint64_t* masks);

// lo[x] = min(lo[x], a[x]) and hi[x] = max(hi[x], b[x]) for x < n, eight at a time with avx2.
void meet_rows(bool avx2, int* lo, int* hi, const int* a, const int* b, int n);

// One pass over row y with levels coded in `code`: per pixel, the level of rank
// rank_of[n] among its n admitted neighbours, times 16, into dst (w values), or its own
// sample `own[x]` when it admits none. src[k] points at tap k's code for pixel 0 (in a
// padded plane or row); the codes of dst go to dst_codes (pad codes of padding before
// them) when that is not null. Lanes of 8 or 16 bits as `code` says. With `extreme` 0..7
// every rank lies within `extreme` of the low (low_end) or high end of the admitted, and a
// shorter form keeps only those extremes; -1 searches for any rank.
void rank_row_lanes(const level_code& code, const void* const* src, int taps, const uint64_t* masks, int stride,
                    int w, const int* rank_of, int extreme, bool low_end, const int* own, int* dst, void* dst_codes);
