// Filtered back-projection of one detector line of a micro-CT scan: fan-to-parallel
// rebinning, the ramp filter with its cosine window, the cone-beam record table of
// "Parallel-FDK" and the back-projection into the inscribed disc.
#pragma once

#include <cstdint>
#include <vector>

// The rebinning geometry of a record of `views` data rows of `samples` used samples, fan
// width F views and margin E views.
struct rsq_geometry {
    int views = 0, samples = 0, fan = 0, margin = 0;
    int P = 0;                // parallel sinogram size: 2 ((Y - 2) - 2E - F)
    double dtheta = 0.0;      // pi / (P div 2)
    double D = 0.0;           // source distance in samples
    double gamma_max = 0.0;   // central fan limit
    double u0 = 0.0;          // detector centre
};
rsq_geometry make_rsq_geometry(int views, int samples, int fan, int margin);

// Rebins the converted fan plane A (views rows of `samples` values) into the P x P
// parallel sinogram `out` (row = parallel view, column = lateral position).
void rebin_fan_to_parallel(const int* A, const rsq_geometry& g, int* out);

// The P x P sinogram reduced by k (1, 2 or 4) to W x W, W = P / k: each value the integer
// mean of a k x k block.
std::vector<int> reduce_sinogram(const int* in, int P, int k);

// The ramp filter of the slice's width W with window parameter `window` (1 .. 100; 100
// none, below that cos(pi n / L)^((100 - window) x per_step): 1/25 for raw projection
// data, 0.25 on the CT pages): L real coefficients, L twice the smallest power of two
// >= W (at least 4), mirrored about L / 2.
std::vector<double> make_ramp_filter(int W, int64_t window, double per_step = 1 / 25.0);

// Filters the first W div 2 rows of the W x W reduced sinogram into `out` ((W div 2) x W
// doubles) with the ramp filter of window `window` (recon_filter), scaled by pi x weight /
// ((W div 2) x pixel_width x 0.1).
void fft_rsq(const int* sinogram, int W, int64_t window, double pixel_width, double weight, double* out);

// The cone-beam record table of "Parallel-FDK": W x W cache slots (0 .. 2N) by lateral
// offset (row) and position along the ray (column), for reduction k, source distance D
// and line offset z. Rays with no real geometry (|u k| >= D) take the centre slot N.
void build_cone_table(int* table, int W, int k, double D, double z, int N);

// The filtered sinograms a back-projection reads: `slots` (2N + 1 pointers, slot N the
// centre record), each (W div 2) x W, the cone table as bytes (null for planar; slots
// never exceed 2N <= 36), the weight every value is scaled by.
struct backprojection_input {
    int W = 0;
    int N = 0;
    double* const* slots = nullptr;
    const uint8_t* table = nullptr;
    double weight = 1.0;
};

// Angle i of the back-projection of a W x W slice: its direction (cos, sin) and the start
// of the line through the slice that the canvas shows for it.
struct angle_frame {
    double ca, sa, ox, oy;
};
angle_frame frame_of_angle(int W, int i);

// Adds angles i0 .. i1 - 1 (within 0 .. W div 2 - 1) of the back-projection to the W x W
// plane `image` (rows y0 .. y1 - 1 only), truncating every pixel after each angle's
// addition. Pixels outside the inscribed disc, and row 0, are not touched.
void back_project_angles(const backprojection_input& in, int i0, int i1, int* image, int y0, int y1);
