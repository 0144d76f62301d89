// The local-mask rank filter's wide forms (AVX2).
#include "processing/local_rank_lanes.h"
#include "processing/row_bands.h"
#include "processing/simd_lanes.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <immintrin.h>
#include <limits>
#include <type_traits>

#define AVX2 __attribute__((target("avx2")))

// The smallest and largest of n values, eight lanes at a time.
AVX2 static void value_range(const int* v, size_t n, int& lo, int& hi)
{
    __m256i l = _mm256_set1_epi32(INT_MAX), u = _mm256_set1_epi32(INT_MIN);
    size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(v + i));
        l = _mm256_min_epi32(l, x);
        u = _mm256_max_epi32(u, x);
    }
    alignas(32) int a[8], b[8];
    _mm256_store_si256(reinterpret_cast<__m256i*>(a), l);
    _mm256_store_si256(reinterpret_cast<__m256i*>(b), u);
    lo = *std::min_element(a, a + 8);
    hi = *std::max_element(b, b + 8);
    for (; i < n; i++) {
        lo = std::min(lo, v[i]);
        hi = std::max(hi, v[i]);
    }
}

level_code choose_level_code(const int* plane, size_t count, int taps)
{
    level_code c;
    if (count == 0) return c;
    int smallest, largest;
    value_range(plane, count, smallest, largest);
    // Division by 16 toward zero keeps the order, so the levels' extremes are the samples'.
    const int lo = smallest / 16, hi = largest / 16;
    const long long span = (long long)hi - lo;
    // The code of the largest level must stay below the stand-in for neighbours that are
    // not admitted or equal it (a trial level never exceeds it), and the counts must fit.
    if (span <= 255 && taps <= 255)
        c.lane_bits = 8;
    else if (span <= 65535 && taps <= 65535)
        c.lane_bits = 16;
    else
        return c;
    c.low = lo;
    c.span_bits = span > 0 ? 64 - __builtin_clzll((unsigned long long)span) : 0;
    return c;
}

std::vector<int16_t> padded_grey16(const int* grey, int w, int h, int pad)
{
    int lo, hi;
    value_range(grey, (size_t)w * h, lo, hi);
    if (lo < -32767 || hi > 32767) return {};
    const size_t pw = (size_t)w + 2 * pad + 32;
    std::vector<int16_t> g(pw * (h + 2 * pad), INT16_MIN);
    over_row_bands(h, (long long)w * h, [&](int y0, int y1, yield_clock*) {
        for (int y = y0; y < y1; y++)
            for (int x = 0; x < w; x++) g[(y + pad) * pw + pad + x] = (int16_t)grey[(size_t)y * w + x];
    });
    return g;
}

// The limits four pixels at a time in doubles, each operation the plain form's own in the
// same order, so every bound is the plain form's to the last bit.
AVX2 static void admission_bounds_avx2(const int* guide, const int* lo, const int* hi, double scale, int w,
                                       int16_t* lo16, int16_t* hi16)
{
    const __m256d L = _mm256_set1_pd(scale), top = _mm256_set1_pd(INT16_MAX), bottom = _mm256_set1_pd(-INT16_MAX);
    const __m256d one = _mm256_set1_pd(1.0), c09 = _mm256_set1_pd(0.9), c16 = _mm256_set1_pd(1.6);
    const __m256d c157 = _mm256_set1_pd(1.57), c067 = _mm256_set1_pd(0.67), c07 = _mm256_set1_pd(0.7);
    int x = 0;
    for (; x + 4 <= w; x += 4) {
        const __m128i g = _mm_loadu_si128(reinterpret_cast<const __m128i*>(guide + x));
        const __m128i l = _mm_loadu_si128(reinterpret_cast<const __m128i*>(lo + x));
        const __m128i u = _mm_loadu_si128(reinterpret_cast<const __m128i*>(hi + x));
        const __m256d own = _mm256_cvtepi32_pd(g), ld = _mm256_cvtepi32_pd(l), ud = _mm256_cvtepi32_pd(u);
        const __m256d m1 = _mm256_div_pd(_mm256_cvtepi32_pd(_mm_sub_epi32(u, l)), L);
        const __m256d m2 = _mm256_div_pd(_mm256_min_pd(_mm256_sub_pd(ud, own), _mm256_sub_pd(own, ld)), L);
        const __m256d sloped =
            _mm256_sub_pd(c16, _mm256_div_pd(_mm256_mul_pd(_mm256_sub_pd(m1, c09), c09), c067));
        const __m256d middle = _mm256_blendv_pd(c07, sloped, _mm256_cmp_pd(m1, c157, _CMP_LE_OQ));
        const __m256d spread = _mm256_blendv_pd(middle, c16, _mm256_cmp_pd(m1, c09, _CMP_LT_OQ));
        const __m256d near_end =
            _mm256_sub_pd(one, _mm256_div_pd(_mm256_mul_pd(m2, _mm256_sub_pd(one, spread)), c07));
        const __m256d use_near =
            _mm256_and_pd(_mm256_cmp_pd(spread, one, _CMP_LT_OQ), _mm256_cmp_pd(m2, c07, _CMP_LT_OQ));
        const __m256d f = _mm256_blendv_pd(spread, near_end, use_near);
        const __m256d reach = _mm256_floor_pd(_mm256_mul_pd(L, f));
        const __m256d a = _mm256_sub_pd(own, reach), b = _mm256_add_pd(own, reach);
        const __m256d none = _mm256_or_pd(_mm256_cmp_pd(a, top, _CMP_GT_OQ), _mm256_cmp_pd(b, bottom, _CMP_LT_OQ));
        const __m256d from = _mm256_blendv_pd(_mm256_max_pd(a, bottom), top, none);
        const __m256d to = _mm256_blendv_pd(_mm256_min_pd(b, top), bottom, none);
        const __m128i from16 = _mm_packs_epi32(_mm256_cvttpd_epi32(from), _mm_setzero_si128());
        const __m128i to16 = _mm_packs_epi32(_mm256_cvttpd_epi32(to), _mm_setzero_si128());
        _mm_storel_epi64(reinterpret_cast<__m128i*>(lo16 + x), from16);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(hi16 + x), to16);
    }
    for (; x < w; x++) {
        // The same for the last few, in the plain form.
        const double own = guide[x];
        const double m1 = (hi[x] - lo[x]) / scale, m2 = std::min(own - lo[x], hi[x] - own) / scale;
        const double spread = m1 < 0.9 ? 1.6 : m1 <= 1.57 ? 1.6 - (m1 - 0.9) * 0.9 / 0.67 : 0.7;
        const double near_end = 1 - m2 * (1 - spread) / 0.7;
        const double f = spread < 1 && m2 < 0.7 ? near_end : spread;
        const double reach = std::floor(scale * f), a = own - reach, b = own + reach;
        const bool none = a > INT16_MAX || b < -INT16_MAX;
        lo16[x] = none ? INT16_MAX : (int16_t)std::max(a, (double)-INT16_MAX);
        hi16[x] = none ? -INT16_MAX : (int16_t)std::min(b, (double)INT16_MAX);
    }
}

void admission_bounds(const int* guide, const int* lo, const int* hi, double scale, int w, int16_t* lo16,
                      int16_t* hi16)
{
    const int lanes = (w + 31) / 32 * 32;
    std::fill(lo16 + w, lo16 + lanes, INT16_MAX);
    std::fill(hi16 + w, hi16 + lanes, -INT16_MAX);
    admission_bounds_avx2(guide, lo, hi, scale, w, lo16, hi16);
}

AVX2 void admit_row16(const int16_t* grey_at_row, const long long* tap_at, int taps, int w, const int16_t* lo,
                      const int16_t* hi, int stride, uint64_t* masks)
{
    unsigned char* bytes = reinterpret_cast<unsigned char*>(masks);
    for (int x0 = 0; x0 < w; x0 += 32) {
        const __m256i lo0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(lo + x0));
        const __m256i lo1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(lo + x0 + 16));
        const __m256i hi0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(hi + x0));
        const __m256i hi1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(hi + x0 + 16));
        for (int k = 0; k < taps; k++) {
            const int16_t* g = grey_at_row + tap_at[k] + x0;
            const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(g));
            const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(g + 16));
            const __m256i out_a = _mm256_or_si256(_mm256_cmpgt_epi16(lo0, a), _mm256_cmpgt_epi16(a, hi0));
            const __m256i out_b = _mm256_or_si256(_mm256_cmpgt_epi16(lo1, b), _mm256_cmpgt_epi16(b, hi1));
            // Packing interleaves the two halves by 128-bit lane; the permute puts the 32
            // pixels back in order before their sign bits are gathered.
            const __m256i out = _mm256_permute4x64_epi64(_mm256_packs_epi16(out_a, out_b), 0xd8);
            const uint32_t in = ~(uint32_t)_mm256_movemask_epi8(out);
            std::memcpy(bytes + (size_t)k * stride * 8 + x0 / 8, &in, sizeof in);
        }
    }
}

AVX2 static void meet_rows_avx2(int* lo, int* hi, const int* a, const int* b, int n)
{
    int x = 0;
    for (; x + 8 <= n; x += 8) {
        __m256i* l = reinterpret_cast<__m256i*>(lo + x);
        __m256i* u = reinterpret_cast<__m256i*>(hi + x);
        _mm256_storeu_si256(l, _mm256_min_epi32(_mm256_loadu_si256(l),
                                                _mm256_loadu_si256(reinterpret_cast<const __m256i*>(a + x))));
        _mm256_storeu_si256(u, _mm256_max_epi32(_mm256_loadu_si256(u),
                                                _mm256_loadu_si256(reinterpret_cast<const __m256i*>(b + x))));
    }
    for (; x < n; x++) {
        lo[x] = std::min(lo[x], a[x]);
        hi[x] = std::max(hi[x], b[x]);
    }
}

void meet_rows(bool avx2, int* lo, int* hi, const int* a, const int* b, int n)
{
    if (avx2) {
        meet_rows_avx2(lo, hi, a, b, n);
        return;
    }
    for (int x = 0; x < n; x++) {
        lo[x] = std::min(lo[x], a[x]);
        hi[x] = std::max(hi[x], b[x]);
    }
}

namespace {

// The lane operations for 8-bit codes (32 pixels) and 16-bit codes (16 pixels).
template <typename T>
using lanes = simd_lanes<T>;

// The row chunk by chunk. Per chunk: each tap's codes, a stand-in where the neighbour is
// not admitted, and the lanes' admitted counts n; then the level of rank k = rank_of[n]
// among the admitted, in one of two ways (both equal to sorting them and taking the k-th):
// - Search (Extreme < 0): bit by bit from the top, a trial level t (the bits found so far
//   and the next one) is kept when at most k admitted levels lie below it, so the search
//   ends at the largest level with at most k below it, the k-th smallest (0-based). The
//   stand-in is the largest code, which no trial level exceeds.
// - Extremes (Extreme = K >= 0, for ranks within K of the low or high end): every value
//   bubbles through the K + 1 smallest (largest) held so far by min and max alone; the
//   stand-in is the code at the far end, so it is never taken before an admitted level.
// table[n] for the 32 byte lanes n (n <= 16 x segments - 1): each 16-entry segment looked up
// by the low four bits and kept where the high four bits name it.
AVX2 static __m256i byte_lookup(const uint8_t* table, int segments, __m256i n)
{
    const __m256i low_bits = _mm256_and_si256(n, _mm256_set1_epi8(15));
    const __m256i segment = _mm256_and_si256(_mm256_srli_epi16(n, 4), _mm256_set1_epi8(15));
    __m256i out = _mm256_setzero_si256();
    for (int s = 0; s < segments; s++) {
        const __m256i entries = _mm256_broadcastsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i*>(table + 16 * s)));
        out = _mm256_blendv_epi8(out, _mm256_shuffle_epi8(entries, low_bits), _mm256_cmpeq_epi8(segment, _mm256_set1_epi8((char)s)));
    }
    return out;
}

template <typename T, int Extreme, bool Low>
AVX2 void rank_row(const level_code& code, const T* const* src, int taps, const uint64_t* masks, int stride, int w,
                   const int* rank_of, const int* own, int* dst, T* dst_codes, __m256i* values)
{
    using V = lanes<T>;
    using U = std::make_unsigned_t<T>;
    constexpr int L = V::count;
    constexpr bool search = Extreme < 0;
    constexpr int K = search ? 0 : Extreme;
    const __m256i stand_in = V::set1(search || Low ? std::numeric_limits<T>::max() : std::numeric_limits<T>::min());
    const __m256i sign = V::set1(std::numeric_limits<T>::min());
    const unsigned char* mask_bytes = reinterpret_cast<const unsigned char*>(masks);
    alignas(32) U n_of[L], k_of[L], found[L];
    // With 8-bit lanes the ranks by count as a table of bytes, looked up 32 lanes at once.
    alignas(32) uint8_t table[256] = {};
    if constexpr (sizeof(T) == 1)
        for (int m = 0; m <= taps; m++) table[m] = (uint8_t)(search || Low ? rank_of[m] : m ? m - 1 - rank_of[m] : 0);
    for (int x0 = 0; x0 < w; x0 += L) {
        __m256i n = _mm256_setzero_si256();
        __m256i best[K + 1];
        for (int i = 0; i <= K; i++) best[i] = stand_in;
        for (int k = 0; k < taps; k++) {
            typename V::bits_t bits;
            std::memcpy(&bits, mask_bytes + (size_t)k * stride * 8 + x0 / 8, sizeof bits);
            const __m256i in = V::expand(bits);
            __m256i v = _mm256_blendv_epi8(stand_in, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src[k] + x0)), in);
            n = V::sub(n, in);
            if constexpr (search) {
                values[k] = v;
            } else {
                for (int i = 0; i <= K; i++) {
                    const __m256i keep = Low ? V::min(best[i], v) : V::max(best[i], v);
                    v = Low ? V::max(best[i], v) : V::min(best[i], v);
                    best[i] = keep;
                }
            }
        }
        _mm256_store_si256(reinterpret_cast<__m256i*>(n_of), n);
        // Each lane's rank (from the end the form works from) for its count.
        __m256i rank;
        if constexpr (sizeof(T) == 1) {
            rank = byte_lookup(table, (taps + 16) / 16, n);
        } else {
            for (int j = 0; j < L; j++) {
                const int m = n_of[j];
                k_of[j] = (U)(search || Low ? rank_of[m] : m ? m - 1 - rank_of[m] : 0);
            }
            rank = _mm256_load_si256(reinterpret_cast<const __m256i*>(k_of));
        }
        if constexpr (search) {
            __m256i level = _mm256_setzero_si256();  // found so far, above code.low
            for (int b = code.span_bits - 1; b >= 0; b--) {
                const __m256i trial = _mm256_or_si256(level, V::set1(1 << b));
                const __m256i trial_code = _mm256_xor_si256(trial, sign);
                __m256i below0 = _mm256_setzero_si256(), below1 = _mm256_setzero_si256();
                int k = 0;
                for (; k + 1 < taps; k += 2) {
                    below0 = V::sub(below0, V::gt(trial_code, values[k]));
                    below1 = V::sub(below1, V::gt(trial_code, values[k + 1]));
                }
                if (k < taps) below0 = V::sub(below0, V::gt(trial_code, values[k]));
                level = _mm256_blendv_epi8(level, trial, V::le_unsigned(V::add(below0, below1), rank));
            }
            _mm256_store_si256(reinterpret_cast<__m256i*>(found), level);
        } else {
            // The kept extreme of each lane's rank.
            __m256i pick = best[0];
            for (int i = 1; i <= K; i++) pick = _mm256_blendv_epi8(pick, best[i], V::eq(rank, V::set1(i)));
            _mm256_store_si256(reinterpret_cast<__m256i*>(found), _mm256_xor_si256(pick, sign));
        }
        if (x0 + L > w) {
            for (int j = 0, x = x0; x < w; j++, x++) {
                dst[x] = n_of[j] ? (found[j] + code.low) * 16 : own[x];
                if (dst_codes) dst_codes[x] = (T)code.code(dst[x]);
            }
            continue;
        }
        // A whole chunk: (found + low) x 16 eight lanes at a time and the codes (found -
        // bias) all at once; then the rare pixels that admit none take their own samples.
        const __m256i low = _mm256_set1_epi32(code.low);
        for (int g = 0; g < L; g += 8) {
            const __m256i f = sizeof(T) == 1
                                  ? _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(found + g)))
                                  : _mm256_cvtepu16_epi32(_mm_load_si128(reinterpret_cast<const __m128i*>(found + g)));
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + x0 + g), _mm256_slli_epi32(_mm256_add_epi32(f, low), 4));
        }
        if (dst_codes)
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst_codes + x0),
                                _mm256_xor_si256(_mm256_load_si256(reinterpret_cast<const __m256i*>(found)), sign));
        if (_mm256_movemask_epi8(V::eq(n, _mm256_setzero_si256())))
            for (int j = 0; j < L; j++)
                if (!n_of[j]) {
                    dst[x0 + j] = own[x0 + j];
                    if (dst_codes) dst_codes[x0 + j] = (T)code.code(own[x0 + j]);
                }
    }
}

template <typename T>
using row_form = void (*)(const level_code&, const T* const*, int, const uint64_t*, int, int, const int*, const int*,
                          int*, T*, __m256i*);

// The search, or the extremes form for ranks within `extreme` (0..7) of one end.
template <typename T>
row_form<T> form_for(int extreme, bool low)
{
    static const row_form<T> lows[] = {rank_row<T, 0, true>, rank_row<T, 1, true>, rank_row<T, 2, true>,
                                       rank_row<T, 3, true>, rank_row<T, 4, true>, rank_row<T, 5, true>,
                                       rank_row<T, 6, true>, rank_row<T, 7, true>};
    static const row_form<T> highs[] = {rank_row<T, 0, false>, rank_row<T, 1, false>, rank_row<T, 2, false>,
                                        rank_row<T, 3, false>, rank_row<T, 4, false>, rank_row<T, 5, false>,
                                        rank_row<T, 6, false>, rank_row<T, 7, false>};
    if (extreme < 0 || extreme > 7) return rank_row<T, -1, true>;
    return low ? lows[extreme] : highs[extreme];
}

}  // namespace

void rank_row_lanes(const level_code& code, const void* const* src, int taps, const uint64_t* masks, int stride,
                    int w, const int* rank_of, int extreme, bool low_end, const int* own, int* dst, void* dst_codes)
{
    struct alignas(32) lane_block {
        unsigned char bytes[32];
    };
    thread_local std::vector<lane_block> blocks;
    if ((int)blocks.size() < taps) blocks.resize(taps);
    __m256i* values = reinterpret_cast<__m256i*>(blocks.data());
    if (code.lane_bits == 8)
        form_for<int8_t>(extreme, low_end)(code, reinterpret_cast<const int8_t* const*>(src), taps, masks, stride, w,
                                           rank_of, own, dst, static_cast<int8_t*>(dst_codes), values);
    else
        form_for<int16_t>(extreme, low_end)(code, reinterpret_cast<const int16_t* const*>(src), taps, masks, stride, w,
                                            rank_of, own, dst, static_cast<int16_t*>(dst_codes), values);
}
