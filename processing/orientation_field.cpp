// The gradient and the structure tensor's orientation field.
#include "processing/orientation_field.h"

#include <algorithm>
#include <cmath>
#include <immintrin.h>
#include <vector>

#include "core/cpu_features.h"
#include "processing/gaussian_filter.h"
#include "processing/row_bands.h"
#include "processing/simd_rows.h"

namespace {

// The gradient at (x, y): central differences halved (truncated towards zero), one-sided at
// the first and last column and row.
inline void gradient_at(const int* in, int w, int h, int x, int y, int& gx, int& gy)
{
    const int* row = in + (size_t)y * w;
    gx = w < 2 ? 0 : x == 0 ? row[1] - row[0] : x == w - 1 ? row[x] - row[x - 1] : (row[x + 1] - row[x - 1]) / 2;
    gy = h < 2 ? 0 : y == 0 ? row[x + w] - row[x] : y == h - 1 ? row[x] - row[x - w] : (row[x + w] - row[x - w]) / 2;
}

}  // namespace

void grad_2d(int* in, int w, int h, int* gx, int* gy)
{
    if (!in || w < 1 || h < 1) return;
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            int a, b;
            gradient_at(in, w, h, x, y, a, b);
            const size_t i = (size_t)y * w + x;
            if (gx) gx[i] = a;
            if (gy) gy[i] = b;
        }
}

namespace {

// The row loops below in one order of operations per value, so the compiler's SIMD forms
// for each CPU (chosen at load time) give the plain form's results to the last bit.

// out[x] = sum over j of k[j + n] in[x + j] for x in [from, to), terms in j order.
__attribute__((target_clones("avx512f", "avx2", "default"))) void taps_along_row(const double* in, const double* k,
                                                                              int n, int from, int to, double* out)
{
    for (int x = from; x < to; x++) out[x] = 0;
    for (int j = -n; j <= n; j++) {
        const double kj = k[j + n];
        for (int x = from; x < to; x++) out[x] += kj * in[x + j];
    }
}

// acc[x] += kj r[x].
__attribute__((target_clones("avx512f", "avx2", "default"))) void add_scaled_row(double* acc, const double* r,
                                                                              double kj, int w)
{
    for (int x = 0; x < w; x++) acc[x] += kj * r[x];
}

// The Gaussian of filter_2d (same taps, edge replication, results rounded) on planes of
// doubles, a band of rows at a time: the structure tensor of strong 16-bit gradients does
// not fit in 32 bits. Rows enter a ring of the last 2n + 1 row-smoothed rows and leave it
// smoothed down the columns, so no plane-sized buffer is needed; every value is the same
// sum in the same order whatever the split.
class rolling_gaussian {
public:
    rolling_gaussian(double sigma, int w, int h, int components)
        : n((int)std::floor(sigma)), w(w), h(h), components(components)
    {
        if (n < 1) return;
        k.resize(2 * n + 1);
        gaussian_kernel(sigma, k.data());
    }
    int radius() const { return n; }
    // Scratch for one band: the ring and a row.
    struct band {
        std::vector<double> ring, row;
        int ready = -1;
    };
    void start(band& b, int y0) const
    {
        b.ring.assign((size_t)(2 * n + 1) * components * w, 0.0);
        b.row.assign(w, 0.0);
        b.ready = std::max(0, y0 - n) - 1;
    }
    // Smooths row y of every component into out[c] (w values each); source(r, c, row)
    // writes row r of component c. Rows must be asked for in increasing order.
    template <typename Source>
    void row(band& b, int y, Source&& source, double* const* out) const
    {
        for (; b.ready < std::min(h - 1, y + n); ) {
            const int r = ++b.ready;
            for (int c = 0; c < components; c++) {
                source(r, c, b.row.data());
                double* dst = slot(b, r, c);
                const int from = std::min(n, w), to = std::max(from, w - n);
                taps_along_row(b.row.data(), k.data(), n, from, to, dst);
                for (int x = 0; x < w; x++) {
                    if (x == from) x = to;
                    if (x >= w) break;
                    double sum = 0;
                    for (int j = -n; j <= n; j++) sum += k[j + n] * b.row[std::clamp(x + j, 0, w - 1)];
                    dst[x] = sum;
                }
            }
        }
        for (int c = 0; c < components; c++) {
            double* acc = out[c];
            std::fill(acc, acc + w, 0.0);
            for (int j = -n; j <= n; j++) add_scaled_row(acc, slot(b, std::clamp(y + j, 0, h - 1), c), k[j + n], w);
            round_row(acc, w);
        }
    }

private:
    double* slot(band& b, int r, int c) const
    {
        return &b.ring[((size_t)(r % (2 * n + 1)) * components + c) * w];
    }
    int n, w, h, components;
    std::vector<double> k;
};

// Row y of the structure tensor (gx^2, gy^2, 2 gx gy) in whole levels: the gradient of
// grad_2d divided by 16 with C's truncation.
void tensor_row(const int* in, int w, int h, int y, int c, double* out)
{
    for (int x = 0; x < w; x++) {
        int gx, gy;
        gradient_at(in, w, h, x, y, gx, gy);
        const double a = gx / 16, b = gy / 16;
        out[x] = c == 0 ? a * a : c == 1 ? b * b : 2 * a * b;
    }
}

}  // namespace

void orientation_field(int* in, int w, int h, double sigma, double* angle, double* strength, double* extra)
{
    const size_t count = (size_t)w * h;
    // Row by row, in one pass: the smoothed tensor gives a row's angle, major eigenvalue
    // (kept in strength until the row is finished), minor one and corner measure; the
    // minor eigenvalues, smoothed twice as wide, then give the strength of the row that
    // far above. A band makes the rows of minor eigenvalues it needs beyond its own
    // itself (writing nothing else for them), so no plane of them is needed.
    const rolling_gaussian tensor(sigma, w, h, 3), wide(2 * sigma, w, h, 1);
    const int reach = std::max(wide.radius(), 0);
    over_row_bands(h, (long long)count * (2 * tensor.radius() + 2 * reach + 2) * 6, [&](int y0, int y1, yield_clock*) {
        rolling_gaussian::band tensor_band, wide_band;
        std::vector<double> j(3 * (size_t)w), smoothed(w);
        double* parts[3] = {j.data(), j.data() + w, j.data() + 2 * w};
        double* part = smoothed.data();
        if (tensor.radius() >= 1) tensor.start(tensor_band, y0 - reach);
        if (wide.radius() >= 1) wide.start(wide_band, y0);
        // Row y's minor eigenvalues into out, and for the band's own rows its angle,
        // major eigenvalue and corner measure.
        auto eigen_row = [&](int y, double* minor) {
            if (tensor.radius() >= 1)
                tensor.row(tensor_band, y, [&](int r, int c, double* out) { tensor_row(in, w, h, r, c, out); }, parts);
            else
                for (int c = 0; c < 3; c++) tensor_row(in, w, h, y, c, parts[c]);
            const bool own = y >= y0 && y < y1;
            for (int x = 0; x < w; x++) {
                const size_t i = (size_t)y * w + x;
                const double jxx = parts[0][x], jyy = parts[1][x], jxy = parts[2][x];
                const double s = jxx + jyy, d = jxx - jyy;
                const double r = std::sqrt(d * d + jxy * jxy);
                minor[x] = s == 0 ? 0 : std::floor(s - r + 0.5);
                if (!own) continue;
                angle[i] = (std::atan2(jxy, d) + M_PI) / 2;
                strength[i] = s == 0 ? 0 : s + r;
                if (extra) extra[i] = s == 0 ? 0 : (s - r) * (s + r) / 2;
            }
        };
        for (int y = y0; y < y1; y++) {
            const size_t row = (size_t)y * w;
            if (wide.radius() >= 1)
                wide.row(wide_band, y, [&](int r, int, double* out) { eigen_row(r, out); }, &part);
            else
                eigen_row(y, part);
            for (int x = 0; x < w; x++) {
                const double major = strength[row + x];
                if (major > 0) {
                    const double q = 1 - part[x] / major;
                    strength[row + x] = q < 0 ? 0.0 : std::min(q * q, 1.0);
                } else {
                    strength[row + x] = 0.0;
                }
            }
        }
    });
    if (extra) {
        // Normalise by the mean of the lowest 90 %: a flat image (maximum 0) stays at 0.
        const double top = *std::max_element(extra, extra + count);
        if (top > 0) {
            std::vector<long long> bins(256, 0), sums(256, 0);
            for (size_t i = 0; i < count; i++) {
                const int b = std::clamp((int)(extra[i] * 256 / top), 0, 255);
                bins[b]++;
                sums[b] += (long long)extra[i];
            }
            long long n = 0, sum = 0;
            const long long limit = (long long)(0.9 * count);
            double m = 0.0;
            for (int b = 0; b < 256; b++) {
                n += bins[b];
                sum += sums[b];
                if (n > limit) {
                    m = (double)sum / n;
                    break;
                }
            }
            const double t = 2 * m;
            for (size_t i = 0; i < count; i++) extra[i] = t > 0 ? std::max(0.0, (extra[i] - t) / (40 * t - t)) : 0.0;
        } else {
            std::fill(extra, extra + count, 0.0);
        }
    }
}
