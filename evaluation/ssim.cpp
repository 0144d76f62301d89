#include "evaluation/ssim.h"

#include <algorithm>
#include <cmath>
#include <thread>
#include <vector>

namespace {

constexpr int taps_half = 4;

struct gauss9 {
    double w[2 * taps_half + 1];
    gauss9()
    {
        double sum = 0;
        for (int j = -taps_half; j <= taps_half; j++) sum += w[j + taps_half] = std::exp(-j * j / (2 * 1.5 * 1.5));
        for (double& v : w) v /= sum;
    }
};

// Gaussian-filtered statistics of a block of rows: the planes are filtered row by row
// into a horizontally smoothed buffer (with the four rows above and below), then down the
// columns. Rows are independent, so blocks run on separate threads with identical results.
struct plane_stats {
    const int* const* planes;  // x, y[, z]
    int count;                 // 2 or 3
    int width, height;
};

void ssim_rows(const plane_stats& p, int y0, int y1, int* const* maps)
{
    static const gauss9 g;
    const int w = p.width, h = p.height;
    // Quantities: means of each plane, then x*x, y*y, x*y (and z*z, x*z).
    const int q = p.count == 3 ? 8 : 5;
    const int r0 = std::max(y0 - taps_half, 0), r1 = std::min(y1 + taps_half, h);
    const int rows = r1 - r0;
    std::vector<double> hs((size_t)q * rows * w);
    std::vector<double> line(w + 2 * taps_half);
    std::vector<int> product(w);
    for (int r = r0; r < r1; r++) {
        const int* x = p.planes[0] + (size_t)r * w;
        const int* y = p.planes[1] + (size_t)r * w;
        const int* z = p.count == 3 ? p.planes[2] + (size_t)r * w : nullptr;
        for (int k = 0; k < q; k++) {
            // The products are formed in 32-bit integers, as the planes are 8-bit.
            for (int i = 0; i < w; i++) {
                switch (k) {
                case 0: product[i] = x[i]; break;
                case 1: product[i] = y[i]; break;
                case 2: product[i] = x[i] * x[i]; break;
                case 3: product[i] = y[i] * y[i]; break;
                case 4: product[i] = x[i] * y[i]; break;
                case 5: product[i] = z[i]; break;
                case 6: product[i] = z[i] * z[i]; break;
                case 7: product[i] = x[i] * z[i]; break;
                }
            }
            for (int i = 0; i < taps_half; i++) {
                line[i] = product[0];
                line[w + taps_half + i] = product[w - 1];
            }
            for (int i = 0; i < w; i++) line[i + taps_half] = product[i];
            double* out = hs.data() + ((size_t)k * rows + (r - r0)) * w;
            for (int i = 0; i < w; i++) {
                const double* l = line.data() + i;
                double s = 0;
                for (int j = 0; j <= 2 * taps_half; j++) s += g.w[j] * l[j];
                out[i] = s;
            }
        }
    }
    const double k1 = 6.5025, k2 = 58.5225;
    std::vector<double> v((size_t)q * w);
    for (int r = y0; r < y1; r++) {
        for (int k = 0; k < q; k++) {
            double* out = v.data() + (size_t)k * w;
            std::fill(out, out + w, 0.0);
            for (int j = -taps_half; j <= taps_half; j++) {
                const int rr = std::clamp(r + j, 0, h - 1) - r0;
                const double* in = hs.data() + ((size_t)k * rows + rr) * w;
                const double c = g.w[j + taps_half];
                for (int i = 0; i < w; i++) out[i] += c * in[i];
            }
        }
        const double* mx = v.data();
        const double* my = v.data() + w;
        const double* xx = v.data() + 2 * (size_t)w;
        const double* yy = v.data() + 3 * (size_t)w;
        const double* xy = v.data() + 4 * (size_t)w;
        int* m1 = maps[0] + (size_t)r * w;
        for (int i = 0; i < w; i++) {
            const double vx = xx[i] - mx[i] * mx[i], vy = yy[i] - my[i] * my[i];
            const double cxy = xy[i] - mx[i] * my[i];
            m1[i] = (int)(4080.0 * (2 * mx[i] * my[i] + k1) * (2 * cxy + k2) /
                          ((mx[i] * mx[i] + my[i] * my[i] + k1) * (vx + vy + k2)));
        }
        if (q == 8) {
            const double* mz = v.data() + 5 * (size_t)w;
            const double* zz = v.data() + 6 * (size_t)w;
            const double* xz = v.data() + 7 * (size_t)w;
            int* m2 = maps[1] + (size_t)r * w;
            for (int i = 0; i < w; i++) {
                const double vx = xx[i] - mx[i] * mx[i], vz = zz[i] - mz[i] * mz[i];
                const double cxz = xz[i] - mx[i] * mz[i];
                m2[i] = (int)(4080.0 * (2 * mx[i] * mz[i] + k1) * (2 * cxz + k2) /
                              ((mx[i] * mx[i] + mz[i] * mz[i] + k1) * (vx + vz + k2)));
            }
        }
    }
}

}  // namespace

void ssim(int* x, int* y, int width, int height, int* map_xy, int* z, int* map_xz)
{
    if (!x || !y || !map_xy || width < 1 || height < 1) return;
    const bool both = z && map_xz;
    const int* planes[3] = {x, y, z};
    plane_stats p{planes, both ? 3 : 2, width, height};
    int* maps[2] = {map_xy, map_xz};
    // Large images are split into two row blocks, one per core.
    const int threads = (size_t)width * height >= (1u << 16) ? 2 : 1;
    if (threads == 1) {
        ssim_rows(p, 0, height, maps);
        return;
    }
    const int split = height / 2;
    std::thread worker([&] { ssim_rows(p, split, height, maps); });
    ssim_rows(p, 0, split, maps);
    worker.join();
}
