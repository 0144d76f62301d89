// The orientation-following, level-thresholded smoother.
#pragma once

#include <functional>

#include "processing/filter_params.h"
#include "processing/orientation_field.h"


// With structure_only, computes the orientation field only: angle (radians, 0 .. pi,
// along edges), strength (0 isotropic .. 1 a clean edge) and, when given, extra (the
// normalised corner measure). Otherwise filters `in` into `out` along that field: the
// given one when angle and strength are passed, else one computed here. Pairs of pixels
// within the (2n + 1)^2 window (n = floor(sigma)) are weighted by the radial weight over
// their offsets across the orientation, and only count while their difference is below
// p.level while p.use_level (or the noise-map threshold with the automatic level).
void anisotropic_filter_2d(int* in, int width, int height, double sigma, double anisotropy,
                           int* out, double* angle, double* strength, double* extra,
                           bool structure_only, const filter_params& p);

// The filtering of anisotropic_filter_2d for several planes along one given field (the
// pair weights are computed once); each plane applies its own level test.
void anisotropic_filter_planes(int* const* ins, int* const* outs, int planes, int width, int height,
                               double sigma, double anisotropy, const double* angle, const double* strength,
                               const filter_params& p);

// The field as the smoother reads it, in place: angle and strength become the orientation
// vector (cos angle, sin angle) x min(strength / anisotropy^2, 1.2), pixel by pixel.
void field_vectors(double* angle, double* strength, int width, int height, double anisotropy);

// The filtering of anisotropic_filter_planes with the field already turned into vectors by
// field_vectors (so several filterings along one field convert it once); extra, when
// given, is the corner measure.
void anisotropic_filter_vectors(int* const* ins, int* const* outs, int planes, int width, int height,
                                double sigma, const double* vx, const double* vy, const double* extra,
                                const filter_params& p);

// The same, handing each row's results to `take` (row y, then one w-value row per plane)
// instead of writing planes; rows arrive once each, from either core, in no fixed order.
using filtered_rows = std::function<void(int y, int* const* rows)>;
void anisotropic_filter_rows(const int* const* ins, int planes, int width, int height, double sigma,
                             const double* vx, const double* vy, const filtered_rows& take,
                             const filter_params& p);
