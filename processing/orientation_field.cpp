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

// out[x] = sum over j of k[j] rows[j][x] for x in [from, to), each sum starting from 0 and
// adding its terms in j order. The rows along a row are rows[j] = in + j - n; down the
// columns, the ring's rows.
void weighted_rows_plain(const double* const* rows, const double* k, int taps, int from, int to, double* out)
{
    for (int x = from; x < to; x++) out[x] = 0;
    for (int j = 0; j < taps; j++) {
        const double kj = k[j];
        const double* r = rows[j];
        for (int x = from; x < to; x++) out[x] += kj * r[x];
    }
}

// The same, sixteen values at a time with the sums held in registers over every term
// (separate multiplications and additions, in the same order).
__attribute__((target("avx2"))) void weighted_rows_avx2(const double* const* rows, const double* k, int taps, int from,
                                                        int to, double* out)
{
    int x = from;
    for (; x + 16 <= to; x += 16) {
        __m256d a0 = _mm256_setzero_pd(), a1 = a0, a2 = a0, a3 = a0;
        for (int j = 0; j < taps; j++) {
            const __m256d kj = _mm256_set1_pd(k[j]);
            const double* r = rows[j] + x;
            a0 = _mm256_add_pd(a0, _mm256_mul_pd(kj, _mm256_loadu_pd(r)));
            a1 = _mm256_add_pd(a1, _mm256_mul_pd(kj, _mm256_loadu_pd(r + 4)));
            a2 = _mm256_add_pd(a2, _mm256_mul_pd(kj, _mm256_loadu_pd(r + 8)));
            a3 = _mm256_add_pd(a3, _mm256_mul_pd(kj, _mm256_loadu_pd(r + 12)));
        }
        _mm256_storeu_pd(out + x, a0);
        _mm256_storeu_pd(out + x + 4, a1);
        _mm256_storeu_pd(out + x + 8, a2);
        _mm256_storeu_pd(out + x + 12, a3);
    }
    for (; x + 4 <= to; x += 4) {
        __m256d a = _mm256_setzero_pd();
        for (int j = 0; j < taps; j++) a = _mm256_add_pd(a, _mm256_mul_pd(_mm256_set1_pd(k[j]), _mm256_loadu_pd(rows[j] + x)));
        _mm256_storeu_pd(out + x, a);
    }
    weighted_rows_plain(rows, k, taps, x, to, out);
}

void weighted_rows(const double* const* rows, const double* k, int taps, int from, int to, double* out)
{
    if (processing_simd.avx2)
        weighted_rows_avx2(rows, k, taps, from, to, out);
    else
        weighted_rows_plain(rows, k, taps, from, to, out);
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
        std::vector<const double*> taps;  // the rows of one smoothing step
        int ready = -1;
    };
    void start(band& b, int y0) const
    {
        b.ring.assign((size_t)(2 * n + 1) * components * w, 0.0);
        b.row.assign((size_t)components * w, 0.0);
        b.taps.assign(2 * n + 1, nullptr);
        b.ready = std::max(0, y0 - n) - 1;
    }
    // Smooths row y of every component into out[c] (w values each); source(r, rows) writes
    // row r of every component c into rows[c]. Rows must be asked for in increasing order.
    template <typename Source>
    void row(band& b, int y, Source&& source, double* const* out) const
    {
        std::vector<double*> fresh(components);
        for (int c = 0; c < components; c++) fresh[c] = &b.row[(size_t)c * w];
        for (; b.ready < std::min(h - 1, y + n); ) {
            const int r = ++b.ready;
            source(r, fresh.data());
            for (int c = 0; c < components; c++) {
                const double* in = fresh[c];
                double* dst = slot(b, r, c);
                const int from = std::min(n, w), to = std::max(from, w - n);
                std::vector<const double*>& along = b.taps;
                for (int j = -n; j <= n; j++) along[j + n] = in + j;
                weighted_rows(along.data(), k.data(), 2 * n + 1, from, to, dst);
                for (int x = 0; x < w; x++) {
                    if (x == from) x = to;
                    if (x >= w) break;
                    double sum = 0;
                    for (int j = -n; j <= n; j++) sum += k[j + n] * in[std::clamp(x + j, 0, w - 1)];
                    dst[x] = sum;
                }
            }
        }
        for (int c = 0; c < components; c++) {
            std::vector<const double*>& down = b.taps;
            for (int j = -n; j <= n; j++) down[j + n] = slot(b, std::clamp(y + j, 0, h - 1), c);
            weighted_rows(down.data(), k.data(), 2 * n + 1, 0, w, out[c]);
            round_row(out[c], w);
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

// The tensor of the gradient (a, b) in whole levels (the gradient divided by 16 with C's
// truncation): gx^2, gy^2, 2 gx gy.
inline void tensor_at(int gx, int gy, double& xx, double& yy, double& xy)
{
    const double a = gx / 16, b = gy / 16;
    xx = a * a;
    yy = b * b;
    xy = 2 * a * b;
}

// Columns [1, w - 1) of row y (not the first or last row) with central differences on
// both axes: a loop the compiler vectorises for each CPU (integer halving and the same
// products per value).
__attribute__((target_clones("avx2", "default"))) void tensor_inside(const int* row, int w, int from, int to,
                                                                     double* xx, double* yy, double* xy)
{
    const int *above = row - w, *below = row + w;
    for (int x = from; x < to; x++) {
        const int gx = (row[x + 1] - row[x - 1]) / 2, gy = (below[x] - above[x]) / 2;
        const double a = gx / 16, b = gy / 16;
        xx[x] = a * a;
        yy[x] = b * b;
        xy[x] = 2 * a * b;
    }
}

// Row y of the structure tensor (gx^2, gy^2, 2 gx gy) in whole levels, one row per
// component: the gradient of grad_2d divided by 16 with C's truncation.
void tensor_rows(const int* in, int w, int h, int y, double* const* out)
{
    int from = 0, to = 0;
    if (w >= 3 && y > 0 && y < h - 1) {
        from = 1;
        to = w - 1;
        tensor_inside(in + (size_t)y * w, w, from, to, out[0], out[1], out[2]);
    }
    for (int x = 0; x < w; x++) {
        if (x == from) x = to;
        if (x >= w) break;
        int gx, gy;
        gradient_at(in, w, h, x, y, gx, gy);
        tensor_at(gx, gy, out[0][x], out[1][x], out[2][x]);
    }
}

// A row's minor eigenvalues (rounded) of the smoothed tensor, and where `own` its major
// ones and corner measures (extra may be null): the loop without the angle, which the
// compiler vectorises for each CPU (square root and rounding are exact operations).
__attribute__((target_clones("avx2", "default"))) void eigen_values(const double* jxx, const double* jyy,
                                                                    const double* jxy, int w, double* minor,
                                                                    double* major, double* extra)
{
    for (int x = 0; x < w; x++) {
        const double s = jxx[x] + jyy[x], d = jxx[x] - jyy[x];
        const double r = std::sqrt(d * d + jxy[x] * jxy[x]);
        minor[x] = s == 0 ? 0 : std::floor(s - r + 0.5);
        if (major) major[x] = s == 0 ? 0 : s + r;
        if (extra) extra[x] = s == 0 ? 0 : (s - r) * (s + r) / 2;
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
                tensor.row(tensor_band, y, [&](int r, double* const* out) { tensor_rows(in, w, h, r, out); }, parts);
            else
                tensor_rows(in, w, h, y, parts);
            const bool own = y >= y0 && y < y1;
            const size_t row = (size_t)y * w;
            eigen_values(parts[0], parts[1], parts[2], w, minor, own ? strength + row : nullptr,
                         own && extra ? extra + row : nullptr);
            if (!own) return;
            for (int x = 0; x < w; x++) angle[row + x] = (std::atan2(parts[2][x], parts[0][x] - parts[1][x]) + M_PI) / 2;
        };
        for (int y = y0; y < y1; y++) {
            const size_t row = (size_t)y * w;
            if (wide.radius() >= 1)
                wide.row(wide_band, y, [&](int r, double* const* out) { eigen_row(r, out[0]); }, &part);
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
