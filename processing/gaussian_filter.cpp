// The separable Gaussian filter.
#include "processing/gaussian_filter.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "processing/row_bands.h"
#include "processing/thresholded_filter.h"

void gaussian_kernel(double sigma, double* taps)
{
    const int n = (int)std::floor(sigma);
    if (n < 1) return;
    double sum = 0.0;
    for (int j = -n; j <= n; j++) {
        const double u = 2.0 * j / sigma;
        double t = std::exp(-u * u);
        // Narrow kernels are lifted so they still smooth noticeably.
        if (n == 1 && j != 0) t = 0.25 * t + 0.75;
        if (n == 2 && (j == 2 || j == -2)) t = 0.9 * t + 0.1;
        if (n == 2 && (j == 1 || j == -1)) t = 0.75 * t + 0.25;
        taps[j + n] = t;
        sum += t;
    }
    for (int j = 0; j <= 2 * n; j++) taps[j] /= sum;
}

// One-dimensional convolution of `count` values spaced `stride` apart, edge replicated.
template <typename In>
static void convolve_line(const In* in, size_t stride, int count, const double* k, int n,
                          double* out, size_t out_stride)
{
    for (int i = 0; i < count; i++) {
        double s = 0.0;
        if (i >= n && i + n < count) {
            const In* p = in + (i - n) * stride;
            for (int j = 0; j <= 2 * n; j++, p += stride) s += k[j] * p[0];
        } else {
            for (int j = -n; j <= n; j++) {
                const int at = std::clamp(i + j, 0, count - 1);
                s += k[j + n] * in[at * stride];
            }
        }
        out[i * out_stride] = s;
    }
}

void filter_2d(int* in, int width, int height, double sigma, int* out, const filter_params& p)
{
    if (width >= 1 && height >= 1 && std::floor(sigma) >= 1 && p.filter == FILTER_GAUSSIAN && p.use_level) {
        thresholded_filter_2d(in, width, height, sigma, out, p);
        return;
    }
    gaussian_blur_2d(in, width, height, sigma, out);
}

void gaussian_blur_2d(int* in, int width, int height, double sigma, int* out)
{
    if (width < 1 || height < 1) return;
    const size_t count = (size_t)width * height;
    const int n = (int)std::floor(sigma);
    if (n < 1) {
        if (in != out) std::copy(in, in + count, out);
        return;
    }
    std::vector<double> taps(2 * n + 1);
    gaussian_kernel(sigma, taps.data());
    const double* k = taps.data();
    std::vector<double> rows(count);
    // Rows, then columns a whole row at a time so memory is read in order; each output row
    // is computed as on its own, so bands of rows on the cores give the same result.
    over_row_bands(height, (long long)count * (2 * n + 1), [&](int y0, int y1, yield_clock*) {
        for (int y = y0; y < y1; y++)
            convolve_line(in + (size_t)y * width, 1, width, k, n, rows.data() + (size_t)y * width, 1);
    });
    over_row_bands(height, (long long)count * (2 * n + 1), [&](int y0, int y1, yield_clock*) {
        std::vector<double> acc(width);
        for (int y = y0; y < y1; y++) {
            std::fill(acc.begin(), acc.end(), 0.0);
            for (int j = -n; j <= n; j++) {
                const double kj = k[j + n];
                const double* r = rows.data() + (size_t)std::clamp(y + j, 0, height - 1) * width;
                for (int x = 0; x < width; x++) acc[x] += kj * r[x];
            }
            int* o = out + (size_t)y * width;
            for (int x = 0; x < width; x++) o[x] = (int)std::round(acc[x]);
        }
    });
}
