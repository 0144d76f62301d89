// The gradient and the orientation field of the structure tensor, which the anisotropic
// smoother and the varying masks follow.
#pragma once

// Central differences halved (truncated towards zero), one-sided at the first and last
// column and row.
void grad_2d(int* in, int width, int height, int* gx, int* gy);

// The orientation field of `in` at scale sigma: per pixel angle (radians, 0 .. pi, along
// edges), strength (0 isotropic .. 1 a clean edge) and, when extra is not null, the
// normalised corner measure. The structure tensor (gradients in whole levels) is smoothed
// by the Gaussian of sigma, its minor eigenvalue by the Gaussian of 2 sigma.
void orientation_field(int* in, int width, int height, double sigma, double* angle, double* strength,
                       double* extra);
