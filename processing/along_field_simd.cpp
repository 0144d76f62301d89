// The SIMD forms of the along-field smoother's pair terms: AVX2, four pixels at a time
// (one offset's term, both terms of an offset, the level test from a noise map), adding the
// same terms in the same order as the plain form. AVX-512 machines run these too.
#include <algorithm>
#include <climits>
#include <cstdint>
#include <immintrin.h>

#include "processing/along_field_terms.h"

__attribute__((target("avx2"))) int terms_four_at_a_time(const field_setup& f, const int* src, const field_offset& o,
                                                        const double* fp, const double* fq, double* s, double* t,
                                                        size_t row, long long shift, bool partner_first, int xa,
                                                        int xb)
{
    const __m256d radial = _mm256_set1_pd(o.g);
    const __m128i limit = _mm_set1_epi32((int)std::min<long long>(f.fixed, INT32_MAX));
    int x = xa;
    for (; x + 4 <= xb; x += 4) {
        const size_t p = row + x, q = (size_t)((long long)p + shift);
        const __m256d own = _mm256_loadu_pd(fp + x), other = _mm256_loadu_pd(fq + x);
        const __m256d g = partner_first ? _mm256_mul_pd(_mm256_mul_pd(radial, other), own)
                                        : _mm256_mul_pd(_mm256_mul_pd(radial, own), other);
        const __m128i vp = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + p));
        const __m128i vq = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + q));
        __m256d gk = g;
        if (f.use_level) {
            const __m128i near = _mm_cmpgt_epi32(limit, _mm_abs_epi32(_mm_sub_epi32(vp, vq)));
            gk = _mm256_and_pd(g, _mm256_castsi256_pd(_mm256_cvtepi32_epi64(near)));
        }
        _mm256_storeu_pd(s + x, _mm256_add_pd(_mm256_loadu_pd(s + x), _mm256_mul_pd(gk, _mm256_cvtepi32_pd(vq))));
        _mm256_storeu_pd(t + x, _mm256_add_pd(_mm256_loadu_pd(t + x), gk));
    }
    return x;
}

__attribute__((target("avx2"))) int pair_terms_four_at_a_time(const field_setup& f, const int* src,
                                                             const field_offset& o, const double* fp,
                                                             const double* fm, const double* fn, double* s,
                                                             double* t, size_t row, long long shift, int xa, int xb)
{
    const __m256d radial = _mm256_set1_pd(o.g);
    const __m128i limit = _mm_set1_epi32((int)std::min<long long>(f.fixed, INT32_MAX));
    int x = xa;
    for (; x + 4 <= xb; x += 4) {
        const size_t p = row + x;
        const __m256d own = _mm256_loadu_pd(fp + x);
        // The pair with the neighbour at -o, whose factor comes first, then the one at +o.
        __m256d gm = _mm256_mul_pd(_mm256_mul_pd(radial, _mm256_loadu_pd(fm + x)), own);
        __m256d gn = _mm256_mul_pd(_mm256_mul_pd(radial, own), _mm256_loadu_pd(fn + x));
        const __m128i vm = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + (p - shift)));
        const __m128i vn = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + (p + shift)));
        if (f.use_level) {
            const __m128i vp = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + p));
            const __m128i near_m = _mm_cmpgt_epi32(limit, _mm_abs_epi32(_mm_sub_epi32(vp, vm)));
            const __m128i near_n = _mm_cmpgt_epi32(limit, _mm_abs_epi32(_mm_sub_epi32(vp, vn)));
            gm = _mm256_and_pd(gm, _mm256_castsi256_pd(_mm256_cvtepi32_epi64(near_m)));
            gn = _mm256_and_pd(gn, _mm256_castsi256_pd(_mm256_cvtepi32_epi64(near_n)));
        }
        __m256d S = _mm256_add_pd(_mm256_loadu_pd(s + x), _mm256_mul_pd(gm, _mm256_cvtepi32_pd(vm)));
        __m256d T = _mm256_add_pd(_mm256_loadu_pd(t + x), gm);
        S = _mm256_add_pd(S, _mm256_mul_pd(gn, _mm256_cvtepi32_pd(vn)));
        T = _mm256_add_pd(T, gn);
        _mm256_storeu_pd(s + x, S);
        _mm256_storeu_pd(t + x, T);
    }
    return x;
}

__attribute__((target("avx2"))) int noise_terms_four_at_a_time(const field_setup& f, const int* src,
                                                              const field_offset& o, const double* fp,
                                                              const double* fq, double* s, double* t, size_t row,
                                                              long long shift, bool partner_first, int xa, int xb)
{
    // The bound (noise here + noise there) x level / 8192 in 64-bit lanes: with both noise
    // values and the level not negative the sum fits 32 bits, so the unsigned 32 x 32-bit
    // product is exact and the division a shift. Other values stop the form.
    if (f.level < 0) return xa;
    const __m256d radial = _mm256_set1_pd(o.g);
    const __m256i level = _mm256_set1_epi64x(f.level);
    int x = xa;
    for (; x + 4 <= xb; x += 4) {
        const size_t p = row + x, q = (size_t)((long long)p + shift);
        const __m128i np = _mm_loadu_si128(reinterpret_cast<const __m128i*>(f.noise + p));
        const __m128i nq = _mm_loadu_si128(reinterpret_cast<const __m128i*>(f.noise + q));
        if (_mm_movemask_ps(_mm_castsi128_ps(_mm_or_si128(np, nq)))) break;
        const __m256i sum = _mm256_add_epi64(_mm256_cvtepi32_epi64(np), _mm256_cvtepi32_epi64(nq));
        const __m256i bound = _mm256_srli_epi64(_mm256_mul_epu32(sum, level), 13);
        const __m128i vp = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + p));
        const __m128i vq = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + q));
        const __m256i d = _mm256_sub_epi64(_mm256_cvtepi32_epi64(vp), _mm256_cvtepi32_epi64(vq));
        // |d| < bound as d < bound and -d < bound.
        const __m256i near = _mm256_and_si256(_mm256_cmpgt_epi64(bound, d),
                                              _mm256_cmpgt_epi64(bound, _mm256_sub_epi64(_mm256_setzero_si256(), d)));
        const __m256d own = _mm256_loadu_pd(fp + x), other = _mm256_loadu_pd(fq + x);
        const __m256d g = partner_first ? _mm256_mul_pd(_mm256_mul_pd(radial, other), own)
                                        : _mm256_mul_pd(_mm256_mul_pd(radial, own), other);
        const __m256d gk = _mm256_and_pd(g, _mm256_castsi256_pd(near));
        _mm256_storeu_pd(s + x, _mm256_add_pd(_mm256_loadu_pd(s + x), _mm256_mul_pd(gk, _mm256_cvtepi32_pd(vq))));
        _mm256_storeu_pd(t + x, _mm256_add_pd(_mm256_loadu_pd(t + x), gk));
    }
    return x;
}
