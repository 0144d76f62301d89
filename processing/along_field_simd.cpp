// The SIMD forms of the along-field smoother's pair terms: AVX2 four pixels at a time,
// AVX-512 eight, adding the same terms in the same order as the plain form.
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

namespace {

__attribute__((target("avx512f,avx512vl"))) inline void interior_term(bool use_level, __m256i limit, __m512d radial,
                                                                     __m512d own, const double* fq, const int* q,
                                                                     __m256i vp, bool first, __m512d& S, __m512d& T)
{
    const __m512d other = _mm512_loadu_pd(fq);
    const __m512d g = first ? _mm512_mul_pd(_mm512_mul_pd(radial, other), own)
                            : _mm512_mul_pd(_mm512_mul_pd(radial, own), other);
    const __m256i vq = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(q));
    __m512d gk = g;
    if (use_level)
        gk = _mm512_maskz_mov_pd(_mm256_cmpgt_epi32_mask(limit, _mm256_abs_epi32(_mm256_sub_epi32(vp, vq))), g);
    S = _mm512_add_pd(S, _mm512_mul_pd(gk, _mm512_maskz_cvtepi32_pd(0xFF, vq)));
    T = _mm512_add_pd(T, gk);
}

// G groups of eight pixels from x: each pixel's sum is one long chain of additions, so
// several chains at once keep the adder busy.
template <int G>
__attribute__((target("avx512f,avx512vl"))) inline void interior_groups(const field_setup& f, const int* src,
                                                                      const row_terms& r, double* s, double* t,
                                                                      size_t row, int x, __m256i limit)
{
    __m512d S[G], T[G];
    __m256i vp[G];
    for (int i = 0; i < G; i++) {
        vp[i] = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + row + x + 8 * i));
        S[i] = _mm512_loadu_pd(s + x + 8 * i);
        T[i] = _mm512_loadu_pd(t + x + 8 * i);
    }
    for (int j = 0; j < r.offsets; j++) {
        const __m512d radial = _mm512_set1_pd(r.o[j].g);
        const double* own = r.own[j] + x;
        if (r.has_minus[j]) {
            const double* fq = r.minus[j] + x;
            const int* q = src + (long long)(row + x) - r.shift[j];
            for (int i = 0; i < G; i++)
                interior_term(f.use_level, limit, radial, _mm512_loadu_pd(own + 8 * i), fq + 8 * i, q + 8 * i, vp[i],
                              true, S[i], T[i]);
        }
        if (r.has_plus[j]) {
            const double* fq = r.plus[j] + x;
            const int* q = src + (long long)(row + x) + r.shift[j];
            for (int i = 0; i < G; i++)
                interior_term(f.use_level, limit, radial, _mm512_loadu_pd(own + 8 * i), fq + 8 * i, q + 8 * i, vp[i],
                              false, S[i], T[i]);
        }
    }
    for (int i = 0; i < G; i++) {
        _mm512_storeu_pd(s + x + 8 * i, S[i]);
        _mm512_storeu_pd(t + x + 8 * i, T[i]);
    }
}

}  // namespace

__attribute__((target("avx512f,avx512vl"))) int interior_eight_at_a_time(const field_setup& f, const int* src,
                                                                       const row_terms& r, double* s, double* t,
                                                                       size_t row, int xa, int xb)
{
    const __m256i limit = _mm256_set1_epi32((int)std::min<long long>(f.fixed, INT32_MAX));
    int x = xa;
    for (; x + 32 <= xb; x += 32) interior_groups<4>(f, src, r, s, t, row, x, limit);
    for (; x + 8 <= xb; x += 8) interior_groups<1>(f, src, r, s, t, row, x, limit);
    return x;
}
