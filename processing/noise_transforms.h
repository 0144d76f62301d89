// Gamma removal and the generalised Anscombe transform, which turn signal-dependent
// sensor noise into roughly unit-variance Gaussian noise, and back.
#pragma once

#include "processing/colour.h"

// In place, per sample (value / 16 levels): grey and RGB data are gamma-decoded when
// gamma > 1 (the sRGB curve for 2.4, its continuous generalisation otherwise, on the
// 0..255 scale); then with gain a > 0, noise sigma and offset g every value x becomes
// the Anscombe-stabilised value scaled back onto 0..full scale. Results are stored x 16,
// rounded. False for an empty image.
bool inverse_gamma_and_apply_anscombe(int* image, int width, int height, colour_t space,
                                      double gamma, double gain, double sigma, double offset);

// The algebraic inverse: the inverse Anscombe transform, then the gamma encoding.
bool inverse_anscombe_and_apply_gamma(int* image, int width, int height, colour_t space,
                                      double gamma, double gain, double sigma, double offset);

// Rescales each non-zero threshold T at value v by the slope of the gamma decoding over
// [v - T, v + T] (clamped to 0..255 levels), so that a level threshold stays proportionate
// once the data are linear. Unchanged (true) for gamma <= 1; false for an empty image.
bool threshold_for_inverse_gamma(int* image, int* threshold, int width, int height, double gamma);
