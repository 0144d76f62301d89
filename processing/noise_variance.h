// The block-PCA estimator of the variance of additive white noise: the smallest
// eigenvalue of the covariance of 5 x 5 blocks, taken over the lowest-variance blocks
// where the image's own structure no longer shows.
#pragma once

// Noise variance in the units of the values (one per pixel; 0 and 255 count as clipped).
// 0 when no block qualifies (images under 6 x 6, or fully clipped ones).
double EstimateNoiseVariance(int* image, int width, int height);

// Eigenvalues of a symmetric n x n matrix (row major, n <= 25), ascending: Householder
// reduction to tridiagonal form, then QL with implicit shifts (30 iterations at most per
// eigenvalue). `a` is overwritten.
void ComputeEigenvalues(double* a, int n, double* eigenvalues);
void ReduceToTridiagonalMatrix(double* a, int n, double* diagonal, double* off_diagonal);
void ComputeEigenValuesUsingQL(double* diagonal, double* off_diagonal, int n);
