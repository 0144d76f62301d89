// The level-thresholded Gaussian.
#include "processing/thresholded_filter.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <immintrin.h>
#include <vector>

#include "core/cpu_features.h"
#include "core/work_plane.h"
#include "processing/row_bands.h"


double smoothing_weight(double d, double sigma, int n)
{
    const double u = 2 * d / sigma, g = std::exp(-u * u);
    if (d > 0 && n == 1) return (1 - 0.75 / d) * g + 0.75 / d;
    if (d > 0 && n == 2) return (1 - 0.25 / d) * g + 0.25 / d;
    return g;
}

namespace {

struct thresholded_setup {
    const int* src;
    int w, h, n;
    const double* weight;  // (2n + 1)^2, row by row
    long long fixed;       // the threshold without a noise map
    const int* noise;      // the noise map, or null
    int level;

    // One pixel: the weighted mean of the window's samples nearer the centre than the
    // threshold, rows then columns, the window clamped to the image.
    int one_pixel(int x, int y) const
    {
        const int d = 2 * n + 1;
        const long long centre = src[(size_t)y * w + x];
        const long long centre_noise = noise ? noise[(size_t)y * w + x] : 0;
        double sum = 0.0, total = 0.0;
        for (int dy = -n; dy <= n; dy++) {
            const int yy = std::clamp(y + dy, 0, h - 1);
            for (int dx = -n; dx <= n; dx++) {
                const int xx = std::clamp(x + dx, 0, w - 1);
                const size_t at = (size_t)yy * w + xx;
                const long long v = src[at];
                const long long t = noise ? (noise[at] + centre_noise) * level / 8192 : fixed;
                if (std::llabs(v - centre) >= t) continue;
                const double g = weight[(size_t)(dy + n) * d + dx + n];
                sum += g * v;
                total += g;
            }
        }
        // The centre always counts unless the threshold is 0; then it stays as it is.
        return total > 0 ? (int)(sum / total + 0.5) : (int)centre;
    }
};

// The same pixels four at a time (AVX2, the fixed threshold, the window inside the image),
// reading the samples as doubles (`values`, the source converted once): the difference of
// two whole numbers below 2^31 and its test against the threshold are exact in doubles, so
// the same samples pass. The same terms are added in the same order, a sample beyond the
// threshold adding zero weight (and zero to the sum), which leaves both sums as skipping it
// does. Each pixel's sums are one long chain of additions, so G groups of four run side by
// side to keep the adder busy.
//
// With a noise map (Noisy) the threshold of a pair is (noise + centre's noise) x level / 8192
// in whole numbers, C's division truncating toward zero: in doubles the sum and product are
// exact below 2^53 (the caller checks), the division by 8192 is exact and truncation is a
// rounding toward zero, so the same threshold.
template <int G, bool Noisy>
__attribute__((target("avx2"))) inline void groups_of_four(const thresholded_setup& s, const double* values, int y,
                                                           int x, int* out)
{
    const int n = s.n, w = s.w, d = 2 * n + 1;
    const __m256d limit = _mm256_set1_pd((double)s.fixed), level = _mm256_set1_pd((double)s.level);
    const __m256d scale = _mm256_set1_pd(1.0 / 8192);
    const __m256d magnitude = _mm256_castsi256_pd(_mm256_set1_epi64x(0x7fffffffffffffffLL));
    const size_t at = (size_t)y * w + x;
    __m256d centre[G], centre_noise[G], sum[G], total[G];
    for (int i = 0; i < G; i++) {
        centre[i] = _mm256_loadu_pd(values + at + 4 * i);
        if (Noisy)
            centre_noise[i] =
                _mm256_cvtepi32_pd(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s.noise + at + 4 * i)));
        sum[i] = _mm256_setzero_pd();
        total[i] = _mm256_setzero_pd();
    }
    for (int dy = -n; dy <= n; dy++) {
        const double* r = values + at + (ptrdiff_t)dy * w;
        const int* noise_row = Noisy ? s.noise + at + (ptrdiff_t)dy * w : nullptr;
        const double* g = s.weight + (size_t)(dy + n) * d;
        for (int dx = -n; dx <= n; dx++) {
            const __m256d weight = _mm256_set1_pd(g[dx + n]);
            for (int i = 0; i < G; i++) {
                const __m256d v = _mm256_loadu_pd(r + dx + 4 * i);
                const __m256d distance = _mm256_and_pd(_mm256_sub_pd(v, centre[i]), magnitude);
                __m256d threshold = limit;
                if (Noisy) {
                    const __m256d noise = _mm256_cvtepi32_pd(
                        _mm_loadu_si128(reinterpret_cast<const __m128i*>(noise_row + dx + 4 * i)));
                    threshold = _mm256_round_pd(
                        _mm256_mul_pd(_mm256_mul_pd(_mm256_add_pd(noise, centre_noise[i]), level), scale),
                        _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC);
                }
                const __m256d gk = _mm256_and_pd(weight, _mm256_cmp_pd(distance, threshold, _CMP_LT_OQ));
                sum[i] = _mm256_add_pd(sum[i], _mm256_mul_pd(gk, v));
                total[i] = _mm256_add_pd(total[i], gk);
            }
        }
    }
    const int* row = s.src + at;
    for (int i = 0; i < G; i++) {
        double sums[4], totals[4];
        _mm256_storeu_pd(sums, sum[i]);
        _mm256_storeu_pd(totals, total[i]);
        for (int j = 0; j < 4; j++)
            out[x + 4 * i + j] = totals[j] > 0 ? (int)(sums[j] / totals[j] + 0.5) : row[4 * i + j];
    }
}

// Pixels x0 .. x1 - 1 of row y as far as groups of four go; returns the first pixel left for
// one_pixel.
template <bool Noisy>
__attribute__((target("avx2"))) int four_at_a_time(const thresholded_setup& s, const double* values, int y, int x0,
                                                   int x1, int* out)
{
    int x = x0;
    for (; x + 12 <= x1; x += 12) groups_of_four<3, Noisy>(s, values, y, x, out);
    for (; x + 4 <= x1; x += 4) groups_of_four<1, Noisy>(s, values, y, x, out);
    return x;
}

// Whether every pair's threshold (noise + noise) x level is exact in doubles.
bool noise_thresholds_exact(const int* noise, size_t count, int level)
{
    long long most = 0;
    for (size_t i = 0; i < count; i++) most = std::max(most, std::llabs((long long)noise[i]));
    return (double)most * 2 * std::abs((double)level) < 9007199254740992.0;  // 2^53
}

}  // namespace

void thresholded_filter_2d(int* in, int w, int h, double sigma, int* out, const filter_params& p)
{
    if (!in || !out || w < 1 || h < 1) return;
    const size_t count = (size_t)w * h;
    const int n0 = (int)std::floor(sigma);
    if (n0 < 1) {
        if (in != out) std::copy(in, in + count, out);
        return;
    }
    // A window wider than the image only repeats its border rows and columns; it is held
    // to the image's size so a huge sigma cannot take hours.
    const int n = std::min(n0, std::max(w, h));
    std::vector<int> copy;
    const int* src = in;
    if (in == out) {
        copy.assign(in, in + count);
        src = copy.data();
    }
    const int d = 2 * n + 1;
    std::vector<double> weight((size_t)d * d);
    for (int dy = -n; dy <= n; dy++)
        for (int dx = -n; dx <= n; dx++)
            weight[(size_t)(dy + n) * d + dx + n] = smoothing_weight(std::sqrt((double)dx * dx + dy * dy), sigma, n0);
    const thresholded_setup s{src, w, h, n, weight.data(), (long long)p.level * 16, p.noise_for(w, h), p.level};
    // Rows are independent: bands of them on the cores, the inner part of an inner row
    // four pixels at a time where the CPU has AVX2.
    const bool fours = processing_simd.avx2 && (!s.noise || noise_thresholds_exact(s.noise, count, s.level));
    work_plane<double> values(fours ? count : 0);
    if (fours)
        over_row_bands(h, (long long)count, [&](int y0, int y1, yield_clock*) {
            for (size_t i = (size_t)y0 * w; i < (size_t)y1 * w; i++) values[i] = src[i];
        });
    over_row_bands(h, (long long)count * d * d, [&](int y0, int y1, yield_clock* clock) {
        for (int y = y0; y < y1; y++) {
            int* o = out + (size_t)y * w;
            const bool inner_row = fours && y >= n && y + n < h;
            int x = 0;
            if (inner_row) {
                for (; x < std::min(n, w); x++) o[x] = s.one_pixel(x, y);
                x = s.noise ? four_at_a_time<true>(s, values.data(), y, n, w - n, o)
                            : four_at_a_time<false>(s, values.data(), y, n, w - n, o);
            }
            for (; x < w; x++) o[x] = s.one_pixel(x, y);
            clock->maybe_yield();
        }
    });
}
