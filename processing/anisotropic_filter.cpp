// The gradient, the structure tensor's orientation field and the anisotropic smoother.
#include "processing/anisotropic_filter.h"

#include <algorithm>
#include <cmath>
#include <climits>
#include <cstdlib>
#include <immintrin.h>
#include <vector>

#include "core/record.h"
#include "core/work_plane.h"
#include "processing/row_bands.h"
#include "processing/gaussian_filter.h"
#include "processing/thresholded_filter.h"

void grad_2d(int* in, int w, int h, int* gx, int* gy)
{
    if (!in || w < 1 || h < 1) return;
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            const size_t i = (size_t)y * w + x;
            if (gx) {
                if (w < 2) gx[i] = 0;
                else if (x == 0) gx[i] = in[i + 1] - in[i];
                else if (x == w - 1) gx[i] = in[i] - in[i - 1];
                else gx[i] = (in[i + 1] - in[i - 1]) / 2;
            }
            if (gy) {
                if (h < 2) gy[i] = 0;
                else if (y == 0) gy[i] = in[i + w] - in[i];
                else if (y == h - 1) gy[i] = in[i] - in[i - w];
                else gy[i] = (in[i + w] - in[i - w]) / 2;
            }
        }
}

namespace {

// The Gaussian of filter_2d (same taps, edge replication, results rounded) on a plane of
// doubles: the structure tensor of strong 16-bit gradients does not fit in 32 bits.
void smooth_wide(std::vector<double>& plane, int w, int h, double sigma)
{
    const int n = (int)std::floor(sigma);
    if (n < 1) return;
    std::vector<double> k(2 * n + 1), rows(plane.size());
    gaussian_kernel(sigma, k.data());
    // Both passes split their rows over the cores; every value is the same sum in the same
    // order whatever the split.
    over_row_bands(h, (long long)plane.size() * (2 * n + 1), [&](int y0, int y1, yield_clock*) {
        for (int y = y0; y < y1; y++) {
            const double* in = &plane[(size_t)y * w];
            double* out = &rows[(size_t)y * w];
            for (int x = 0; x < w; x++) {
                double s = 0;
                if (x >= n && x + n < w) {
                    for (int j = -n; j <= n; j++) s += k[j + n] * in[x + j];
                } else {
                    for (int j = -n; j <= n; j++) s += k[j + n] * in[std::clamp(x + j, 0, w - 1)];
                }
                out[x] = s;
            }
        }
    });
    // Columns a whole row at a time, in the same order of terms.
    over_row_bands(h, (long long)plane.size() * (2 * n + 1), [&](int y0, int y1, yield_clock*) {
        std::vector<double> acc(w);
        for (int y = y0; y < y1; y++) {
            std::fill(acc.begin(), acc.end(), 0.0);
            for (int j = -n; j <= n; j++) {
                const double kj = k[j + n];
                const double* r = &rows[(size_t)std::clamp(y + j, 0, h - 1) * w];
                for (int x = 0; x < w; x++) acc[x] += kj * r[x];
            }
            double* out = &plane[(size_t)y * w];
            for (int x = 0; x < w; x++) out[x] = std::round(acc[x]);
        }
    });
}

void orientation_field(int* in, int w, int h, double sigma, double* angle, double* strength, double* extra)
{
    const size_t count = (size_t)w * h;
    work_plane<int> gx(count), gy(count);
    grad_2d(in, w, h, gx.data(), gy.data());
    std::vector<double> jxx(count), jyy(count), jxy(count);
    for (size_t i = 0; i < count; i++) {
        const double a = gx[i] / 16, b = gy[i] / 16;  // whole levels, truncated
        jxx[i] = a * a;
        jyy[i] = b * b;
        jxy[i] = 2 * a * b;
    }
    for (std::vector<double>* p : {&jxx, &jyy, &jxy}) smooth_wide(*p, w, h, sigma);
    std::vector<double> minor(count);
    std::vector<double> major(count);
    over_row_bands(h, (long long)count * 8, [&](int y0, int y1, yield_clock*) {
        for (size_t i = (size_t)y0 * w; i < (size_t)y1 * w; i++) {
            const double s = jxx[i] + jyy[i], d = jxx[i] - jyy[i];
            const double r = std::sqrt(d * d + jxy[i] * jxy[i]);
            angle[i] = (std::atan2(jxy[i], d) + M_PI) / 2;
            if (s == 0) {
                major[i] = 0;
                minor[i] = 0;
                if (extra) extra[i] = 0;
            } else {
                major[i] = s + r;
                minor[i] = std::floor(s - r + 0.5);
                if (extra) extra[i] = (s - r) * (s + r) / 2;
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
    smooth_wide(minor, w, h, 2 * sigma);
    for (size_t i = 0; i < count; i++) {
        if (major[i] > 0) {
            const double q = 1 - minor[i] / major[i];
            strength[i] = q < 0 ? 0.0 : std::min(q * q, 1.0);
        } else {
            strength[i] = 0.0;
        }
    }
}

}  // namespace

namespace {

bool cpu_has_avx2()
{
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2");
}

const bool pairs_in_fours = cpu_has_avx2() && !std::getenv("VOXMIRA_NO_SIMD");

// Four pairs of one row at once, for a fixed level test (|vp - vq| < t, or none): the same
// products and sums per pair as the one-pair loop, each rounded alike (no fused
// multiply-add), so the planes come out identical. Returns the first x not done.
__attribute__((target("avx2"))) int pairs_four_at_a_time(const int* src, double* sum, double* total,
                                                         const double* factor, size_t row, int x0, int x1,
                                                         size_t shift, double og, bool use_level, long long t)
{
    const __m256d radial = _mm256_set1_pd(og);
    const __m128i limit = _mm_set1_epi32((int)std::min<long long>(t, INT32_MAX));
    int x = x0;
    for (; x + 4 <= x1; x += 4) {
        const size_t p = row + x, q = p + shift;
        const __m256d g = _mm256_mul_pd(_mm256_mul_pd(radial, _mm256_loadu_pd(factor + p)), _mm256_loadu_pd(factor + q));
        const __m128i vp = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + p));
        const __m128i vq = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + q));
        __m256d gk = g;
        if (use_level) {
            const __m128i near = _mm_cmpgt_epi32(limit, _mm_abs_epi32(_mm_sub_epi32(vp, vq)));
            gk = _mm256_and_pd(g, _mm256_castsi256_pd(_mm256_cvtepi32_epi64(near)));
        }
        const __m256d dp = _mm256_cvtepi32_pd(vp), dq = _mm256_cvtepi32_pd(vq);
        _mm256_storeu_pd(sum + p, _mm256_add_pd(_mm256_loadu_pd(sum + p), _mm256_mul_pd(gk, dq)));
        _mm256_storeu_pd(total + p, _mm256_add_pd(_mm256_loadu_pd(total + p), gk));
        _mm256_storeu_pd(sum + q, _mm256_add_pd(_mm256_loadu_pd(sum + q), _mm256_mul_pd(gk, dp)));
        _mm256_storeu_pd(total + q, _mm256_add_pd(_mm256_loadu_pd(total + q), gk));
    }
    return x;
}

// Filters `planes` planes along one field: the pair weights depend only on the field and
// the offsets, so they are computed once for all the planes; each plane applies its own
// level test.
void filter_along_field(int* const* ins, int* const* outs, int planes, int w, int h, double sigma,
                        double anisotropy, const double* angle, const double* strength, const double* extra)
{
    const size_t count = (size_t)w * h;
    const int n = (int)std::floor(sigma);
    if (n < 1) {
        for (int k = 0; k < planes; k++)
            if (ins[k] != outs[k]) std::copy(ins[k], ins[k] + count, outs[k]);
        return;
    }
    std::vector<std::vector<int>> copies(planes);
    std::vector<const int*> src(planes);
    for (int k = 0; k < planes; k++) {
        src[k] = ins[k];
        if (ins[k] == outs[k]) {
            copies[k].assign(ins[k], ins[k] + count);
            src[k] = copies[k].data();
        }
    }
    // Orientation vectors scaled by the anisotropy.
    const double a2 = anisotropy * anisotropy;
    work_plane<double> vx(count), vy(count), ex;
    over_row_bands(h, (long long)count * 8, [&](int y0, int y1, yield_clock*) {
        for (size_t i = (size_t)y0 * w; i < (size_t)y1 * w; i++) {
            const double f = a2 > 0 ? std::min(strength[i] / a2, 1.2) : 1.2;
            vx[i] = std::cos(angle[i]) * f;
            vy[i] = std::sin(angle[i]) * f;
        }
    });
    if (extra) {
        ex.resize(count);
        for (size_t i = 0; i < count; i++) ex[i] = std::min(extra[i], 0.65);
    }
    // Half the window: each unordered pair is visited once.
    struct offset {
        int dx, dy;
        double g, d;
    };
    std::vector<offset> half;
    // Offsets that reach past the image pair no pixels: a huge sigma costs no more than
    // the image's own size.
    for (int dy = 0; dy <= std::min(n, h - 1); dy++)
        for (int dx = -std::min(n, w - 1); dx <= std::min(n, w - 1); dx++) {
            if (dy == 0 && dx <= 0) continue;
            const double d = std::sqrt((double)dx * dx + dy * dy);
            half.push_back({dx, dy, smoothing_weight(d, sigma, n), d / 0.65});
        }
    const long long fixed = (long long)info.level * 16;
    const bool use_level = info.use_level != 0;
    const int level = info.level;
    const int* noise = info.levelling && info.noise_image && use_level && w == info.proc_width &&
                               h == info.proc_height
                           ? info.noise_image
                           : nullptr;
    std::vector<std::vector<double>> sum(planes, std::vector<double>(count)), total(planes, std::vector<double>(count, 1.0));
    for (int k = 0; k < planes; k++)
        for (size_t i = 0; i < count; i++) sum[k][i] = src[k][i];
    // Offset by offset, so both pixels of every pair are read and written in memory order.
    // Each pixel's factor 1 / (|v x o| + extra d / 0.65 + 1) for the offset is computed once
    // for the plane, and a pair's weight is the offset's radial weight times both factors.
    // The factors are split over the cores by rows; the pairs by plane (a pair writes two
    // rows, so rows cannot be split), each plane summed in the same order as on one core.
    work_plane<double> factor(count);
    for (const offset& o : half) {
        over_row_bands(h, (long long)count, [&](int y0, int y1, yield_clock*) {
            for (size_t i = (size_t)y0 * w; i < (size_t)y1 * w; i++) {
                double across = std::fabs(vx[i] * o.dy - vy[i] * o.dx);
                if (extra) across += ex[i] * o.d;
                factor[i] = 1.0 / (across + 1);
            }
        });
        const int x0 = std::max(0, -o.dx), x1 = std::min(w, w - o.dx);
        const size_t shift = (size_t)((long long)o.dy * w + o.dx);
        // Four pairs at a time when a pair's second pixel lies at least four further on
        // (so no sum is read before an earlier pair of the row has added to it) and the
        // level test does not depend on the noise map.
        const bool fours = pairs_in_fours && !noise && (o.dy > 0 || o.dx >= 4) && (long long)shift >= 4;
        // Plane by plane (each plane's sums see the pairs in the same order either way);
        // the four-at-a-time form takes each row's head, the one-pair loop the rest.
        auto pairs = [&](int k0, int k1) {
            for (int k = k0; k < k1; k++)
                for (int y = 0; y + o.dy < h; y++) {
                    const size_t row = (size_t)y * w;
                    const int done = fours ? pairs_four_at_a_time(src[k], sum[k].data(), total[k].data(),
                                                                  factor.data(), row, x0, x1, shift, o.g,
                                                                  use_level, fixed)
                                           : x0;
                    for (int x = done; x < x1; x++) {
                        const size_t p = row + x, q = p + shift;
                        const double g = o.g * factor[p] * factor[q];
                        const long long t =
                            use_level ? (noise ? ((long long)noise[p] + noise[q]) * level / 8192 : fixed) : 0;
                        const int vp = src[k][p], vq = src[k][q];
                        // Branch-free: with noise the level test is a coin toss.
                        const double gk = !use_level || std::llabs((long long)vp - vq) < t ? g : 0.0;
                        sum[k][p] += gk * vq;
                        total[k][p] += gk;
                        sum[k][q] += gk * vp;
                        total[k][q] += gk;
                    }
                }
        };
        if (planes > 1)
            over_items(planes, (long long)count * planes * 4, [&](int k0, int k1, yield_clock*) { pairs(k0, k1); });
        else
            pairs(0, planes);
    }
    for (int k = 0; k < planes; k++)
        for (size_t i = 0; i < count; i++)
            outs[k][i] = total[k][i] > 0 ? (int)std::round(sum[k][i] / total[k][i]) : 0;
}

}  // namespace

void anisotropic_filter_2d(int* in, int w, int h, double sigma, double anisotropy, int* out,
                           double* angle, double* strength, double* extra, bool structure_only)
{
    if (!in || w < 1 || h < 1) return;
    const size_t count = (size_t)w * h;
    std::vector<double> own_angle, own_strength;
    if (structure_only || !angle || !strength) {
        if (!angle) {
            own_angle.resize(count);
            angle = own_angle.data();
        }
        if (!strength) {
            own_strength.resize(count);
            strength = own_strength.data();
        }
        orientation_field(in, w, h, sigma, angle, strength, extra);
        if (structure_only) return;
    }
    if (!out) return;
    filter_along_field(&in, &out, 1, w, h, sigma, anisotropy, angle, strength, extra);
}

void anisotropic_filter_planes(int* const* ins, int* const* outs, int planes, int w, int h, double sigma,
                               double anisotropy, const double* angle, const double* strength)
{
    if (!ins || !outs || planes < 1 || w < 1 || h < 1 || !angle || !strength) return;
    filter_along_field(ins, outs, planes, w, h, sigma, anisotropy, angle, strength, nullptr);
}
