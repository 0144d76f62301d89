// The two inner loops of the display's fast path (separable kernels on grey images), each
// behind one dispatch point: AVX2 where the CPU has it, else plain C++, with identical
// results. Setting VOXMIRA_NO_SIMD in the environment, or use_display_simd(false), forces
// the plain forms, so tests and users can compare both.
#pragma once

#include <cstddef>

// Converts the `count` samples at `base` into `values`, then for each of `width` output
// columns k sums values[index[k] + t] x weights[t x width + k] over t < taps into out[k].
void horizontal_sums(const int* base, int count, const int* index, const double* weights,
                     size_t width, int taps, double* values, double* out);

// For each of `width` columns k sums rows[j][k] x wy[j] over j < taps (into sums[k] where
// the plain form keeps it) and writes display_level of the sum as a grey RGB pixel.
void vertical_sums(const double* const* rows, const double* wy, int taps, size_t width,
                   double* sums, unsigned char* out);

// Whether the AVX2 forms run; use_display_simd chooses (false forces the plain forms,
// true takes them where the CPU has AVX2) and returns the previous choice.
bool display_simd_active();
bool use_display_simd(bool wanted);
