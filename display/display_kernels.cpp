// The inner loops of the display's fast path, plain and AVX2. The AVX2 forms do four
// columns per instruction, each lane doing the same multiplications and additions in the
// same order as the plain loops (no fused multiply-add), so the results are identical.
#include "display/display_kernels.h"

#include <cstdlib>

#include "core/cpu_features.h"
#include "display/interpolation.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define VOXMIRA_X86 1
#else
#define VOXMIRA_X86 0
#endif

namespace {

void horizontal_sums_plain(const int* base, int count, const int* index, const double* weights,
                           size_t width, int taps, double* values, double* out)
{
    // Each sample is converted once per row rather than once per tap.
    for (int i = 0; i < count; i++) values[i] = base[i];
    for (size_t k = 0; k < width; k++) {
        const double* p = values + index[k];
        double r = 0.0;
        for (int i = 0; i < taps; i++) r += p[i] * weights[i * width + k];
        out[k] = r;
    }
}

void vertical_sums_plain(const double* const* rows, const double* wy, int taps, size_t width,
                         double* sums, unsigned char* out)
{
    for (size_t k = 0; k < width; k++) {
        double v = 0.0;
        for (int j = 0; j < taps; j++) v += rows[j][k] * wy[j];
        sums[k] = v;
    }
    for (size_t k = 0; k < width; k++, out += 3) out[0] = out[1] = out[2] = display_level(sums[k]);
}

#if VOXMIRA_X86
__attribute__((target("avx2"))) void horizontal_sums_avx2(const int* base, int count,
                                                          const int* index, const double* weights,
                                                          size_t width, int taps, double* values,
                                                          double* out)
{
    int i = 0;
    for (; i + 4 <= count; i += 4)
        _mm256_storeu_pd(values + i, _mm256_cvtepi32_pd(_mm_loadu_si128((const __m128i*)(base + i))));
    for (; i < count; i++) values[i] = base[i];
    size_t k = 0;
    const __m256d all = _mm256_castsi256_pd(_mm256_set1_epi64x(-1));
    for (; k + 4 <= width; k += 4) {
        __m256d r = _mm256_setzero_pd();
        const int span = index[k + 3] - index[k];
        if (span == 3) {
            // Columns grow with display columns: a span of 3 means four neighbours in a
            // row, read with one load instead of a gather (the usual case near zoom 1).
            const double* p = values + index[k];
            for (int t = 0; t < taps; t++)
                r = _mm256_add_pd(r, _mm256_mul_pd(_mm256_loadu_pd(p + t), _mm256_loadu_pd(weights + t * width + k)));
        } else {
            const __m128i at = _mm_loadu_si128((const __m128i*)(index + k));
            for (int t = 0; t < taps; t++) {
                const __m256d p = _mm256_mask_i32gather_pd(_mm256_setzero_pd(), values + t, at, all, 8);
                r = _mm256_add_pd(r, _mm256_mul_pd(p, _mm256_loadu_pd(weights + t * width + k)));
            }
        }
        _mm256_storeu_pd(out + k, r);
    }
    for (; k < width; k++) {
        double r = 0.0;
        for (int t = 0; t < taps; t++) r += values[index[k] + t] * weights[t * width + k];
        out[k] = r;
    }
}

__attribute__((target("avx2"))) void vertical_sums_avx2(const double* const* rows, const double* wy,
                                                        int taps, size_t width, double* sums,
                                                        unsigned char* out)
{
    size_t k = 0;
    const __m256d sixteenth = _mm256_set1_pd(1.0 / 16), zero = _mm256_setzero_pd();
    const __m256d top = _mm256_set1_pd(255.0), half = _mm256_set1_pd(0.5);
    alignas(16) int levels[4];
    for (; k + 4 <= width; k += 4) {
        __m256d v = _mm256_setzero_pd();
        for (int j = 0; j < taps; j++)
            v = _mm256_add_pd(v, _mm256_mul_pd(_mm256_loadu_pd(rows[j] + k), _mm256_set1_pd(wy[j])));
        // display_level: v / 16 (exact as a product with 1/16), clamped to 0..255, then
        // (int)(level + 0.5); clamping first gives the same bytes.
        __m256d level = _mm256_mul_pd(v, sixteenth);
        level = _mm256_min_pd(_mm256_max_pd(level, zero), top);
        _mm_store_si128((__m128i*)levels, _mm256_cvttpd_epi32(_mm256_add_pd(level, half)));
        for (int l = 0; l < 4; l++, out += 3) out[0] = out[1] = out[2] = (unsigned char)levels[l];
    }
    for (; k < width; k++, out += 3) {
        double v = 0.0;
        for (int j = 0; j < taps; j++) v += rows[j][k] * wy[j];
        sums[k] = v;
        out[0] = out[1] = out[2] = display_level(v);
    }
}
#endif

// Chosen once: the CPU's support, unless VOXMIRA_NO_SIMD is set in the environment.
bool simd = avx2_allowed();

}  // namespace

bool display_simd_active() { return simd; }

bool use_display_simd(bool wanted)
{
    const bool before = simd;
    simd = wanted && cpu_has_avx2();
    return before;
}

void horizontal_sums(const int* base, int count, const int* index, const double* weights,
                     size_t width, int taps, double* values, double* out)
{
#if VOXMIRA_X86
    if (simd) return horizontal_sums_avx2(base, count, index, weights, width, taps, values, out);
#endif
    horizontal_sums_plain(base, count, index, weights, width, taps, values, out);
}

void vertical_sums(const double* const* rows, const double* wy, int taps, size_t width,
                   double* sums, unsigned char* out)
{
#if VOXMIRA_X86
    if (simd) return vertical_sums_avx2(rows, wy, taps, width, sums, out);
#endif
    vertical_sums_plain(rows, wy, taps, width, sums, out);
}
