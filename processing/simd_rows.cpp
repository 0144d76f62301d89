// Row kernels shared by the orientation field and the smoother.
#include "processing/simd_rows.h"

#include <cmath>
#include <immintrin.h>

#include "core/cpu_features.h"

namespace {

// std::round (halves away from zero) of a row in place: the truncation, plus one away from
// zero where the exact remainder is at least a half.
__attribute__((target("avx2"))) int round_four_at_a_time(double* v, int w)
{
    const __m256d half = _mm256_set1_pd(0.5), one = _mm256_set1_pd(1.0), sign = _mm256_set1_pd(-0.0);
    int x = 0;
    for (; x + 4 <= w; x += 4) {
        const __m256d a = _mm256_loadu_pd(v + x);
        const __m256d t = _mm256_round_pd(a, _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC);
        const __m256d rest = _mm256_andnot_pd(sign, _mm256_sub_pd(a, t));
        const __m256d away = _mm256_add_pd(t, _mm256_or_pd(one, _mm256_and_pd(sign, a)));
        _mm256_storeu_pd(v + x, _mm256_blendv_pd(t, away, _mm256_cmp_pd(rest, half, _CMP_GE_OQ)));
    }
    return x;
}

}  // namespace

void round_row(double* v, int w)
{
    int x = processing_simd.avx2 ? round_four_at_a_time(v, w) : 0;
    for (; x < w; x++) v[x] = std::round(v[x]);
}
