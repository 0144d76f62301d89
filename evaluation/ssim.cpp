#include "evaluation/ssim.h"

#include <algorithm>
#include <cmath>
#include <thread>
#include <vector>

namespace {

constexpr int half = 4;  // taps at offsets -4 .. 4

struct gauss9 {
    double w[half + 1];  // w[j] for offset +-j
    gauss9()
    {
        double sum = 0;
        for (int j = -half; j <= half; j++) sum += std::exp(-j * j / (2 * 1.5 * 1.5));
        for (int j = 0; j <= half; j++) w[j] = std::exp(-j * j / (2 * 1.5 * 1.5)) / sum;
    }
};

const gauss9& kernel()
{
    static const gauss9 g;
    return g;
}

// SSIM x 4080 from the local statistics. The luminance and contrast terms are divided
// separately so that identical neighbourhoods give exactly 4080.
inline int ssim_value(double m1, double m2, double variances, double covariance)
{
    const double k1 = 6.5025, k2 = 58.5225;
    return (int)(4080.0 * ((2 * m1 * m2 + k1) / (m1 * m1 + m2 * m2 + k1)) *
                 ((2 * covariance + k2) / (variances + k2)));
}

// Horizontal pass of one row of integer values with edge replication.
void filter_row(const int* in, int w, double* padded, double* out)
{
    const double* g = kernel().w;
    for (int i = 0; i < half; i++) {
        padded[i] = in[0];
        padded[w + half + i] = in[w - 1];
    }
    for (int i = 0; i < w; i++) padded[half + i] = in[i];
    const double* p = padded + half;
    for (int i = 0; i < w; i++)
        out[i] = g[0] * p[i] + g[1] * (p[i - 1] + p[i + 1]) + g[2] * (p[i - 2] + p[i + 2]) +
                 g[3] * (p[i - 3] + p[i + 3]) + g[4] * (p[i - 4] + p[i + 4]);
}

// Rows y0 .. y1-1 of the maps. Local statistics (means of x, y, z and of the products
// x², y², xy, z², xz) are filtered along rows into a ring of the 9 rows a vertical
// window needs, then down the columns. Each output row depends only on the input, so
// row blocks may run on separate threads with identical results.
void ssim_rows(const int* const* planes, bool both, int w, int h, int y0, int y1, int* map_xy,
               int* map_xz)
{
    const int q = both ? 8 : 5;
    const int ring = 2 * half + 1;
    std::vector<double> rows((size_t)ring * q * w);
    std::vector<double> padded(w + 2 * half);
    std::vector<int> product((size_t)q * w);
    auto ring_row = [&](int r, int k) { return rows.data() + ((size_t)(r % ring) * q + k) * w; };
    auto load = [&](int r) {
        const int* x = planes[0] + (size_t)r * w;
        const int* y = planes[1] + (size_t)r * w;
        int* p = product.data();
        for (int i = 0; i < w; i++) {
            // The planes are 8-bit, so the products fit 32-bit integers.
            p[i] = x[i];
            p[w + i] = y[i];
            p[2 * w + i] = x[i] * x[i];
            p[3 * w + i] = y[i] * y[i];
            p[4 * w + i] = x[i] * y[i];
        }
        if (both) {
            const int* z = planes[2] + (size_t)r * w;
            for (int i = 0; i < w; i++) {
                p[5 * w + i] = z[i];
                p[6 * w + i] = z[i] * z[i];
                p[7 * w + i] = x[i] * z[i];
            }
        }
        for (int k = 0; k < q; k++) filter_row(p + (size_t)k * w, w, padded.data(), ring_row(r, k));
    };
    const double* g = kernel().w;
    std::vector<double> v((size_t)q * w);
    // Rows beyond the image repeat the border row: clamp the row index into the ring.
    const int first = std::max(y0 - half, 0), last = std::min(y1 + half, h) - 1;
    int loaded = first - 1;
    for (int r = y0; r < y1; r++) {
        while (loaded < std::min(r + half, last)) load(++loaded);
        const double* src[2 * half + 1];
        for (int k = 0; k < q; k++) {
            for (int j = -half; j <= half; j++) src[j + half] = ring_row(std::clamp(r + j, 0, h - 1), k);
            double* out = v.data() + (size_t)k * w;
            for (int i = 0; i < w; i++)
                out[i] = g[0] * src[4][i] + g[1] * (src[3][i] + src[5][i]) + g[2] * (src[2][i] + src[6][i]) +
                         g[3] * (src[1][i] + src[7][i]) + g[4] * (src[0][i] + src[8][i]);
        }
        const double* mx = v.data();
        const double* my = mx + w;
        const double* xx = mx + 2 * (size_t)w;
        const double* yy = mx + 3 * (size_t)w;
        const double* xy = mx + 4 * (size_t)w;
        int* m1 = map_xy + (size_t)r * w;
        for (int i = 0; i < w; i++)
            m1[i] = ssim_value(mx[i], my[i], (xx[i] - mx[i] * mx[i]) + (yy[i] - my[i] * my[i]),
                               xy[i] - mx[i] * my[i]);
        if (both) {
            const double* mz = mx + 5 * (size_t)w;
            const double* zz = mx + 6 * (size_t)w;
            const double* xz = mx + 7 * (size_t)w;
            int* m2 = map_xz + (size_t)r * w;
            for (int i = 0; i < w; i++)
                m2[i] = ssim_value(mx[i], mz[i], (xx[i] - mx[i] * mx[i]) + (zz[i] - mz[i] * mz[i]),
                                   xz[i] - mx[i] * mz[i]);
        }
    }
}

}  // namespace

void ssim(int* x, int* y, int width, int height, int* map_xy, int* z, int* map_xz)
{
    if (!x || !y || !map_xy || width < 1 || height < 1) return;
    const bool both = z && map_xz;
    const int* planes[3] = {x, y, z};
    // Large images are split into two row blocks, one per core.
    if ((size_t)width * height < (1u << 16) || height < 2 * (2 * half + 1)) {
        ssim_rows(planes, both, width, height, 0, height, map_xy, map_xz);
        return;
    }
    const int split = height / 2;
    std::thread worker([&] { ssim_rows(planes, both, width, height, split, height, map_xy, map_xz); });
    ssim_rows(planes, both, width, height, 0, split, map_xy, map_xz);
    worker.join();
}
