// The local-mask rank filter.
#include "processing/local_rank_filter.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <utility>
// GCC 12's AVX-512 headers pass an undefined vector as the unused merge operand of their
// unmasked forms, which -Wmaybe-uninitialized reports at every use.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <immintrin.h>
#include <vector>

#include "core/cpu_features.h"
#include "core/work_plane.h"
#include "processing/local_rank_lanes.h"
#include "processing/masks.h"
#include "processing/rank_select.h"
#include "processing/row_bands.h"

namespace {

struct local_setup {
    const int* in;
    int w, h, n, r;
    double half_width_scale;  // level x 16
    const int* guide;
    const int* grey;
};

// Minimum and maximum of the guide over each pixel's clipped (2r + 1)^2 window, a row at
// a time: the rows' own extremes enter a ring of the last 2r + 1 rows and the window's
// come from the ring's columns.
class window_extremes {
public:
    window_extremes(const local_setup& s, int y0) : s(s), d(2 * s.r + 1), ring_lo((size_t)d * s.w), ring_hi((size_t)d * s.w),
        lo(s.w), hi(s.w), padded_lo(s.w + 2 * s.r), padded_hi(s.w + 2 * s.r), ready(std::max(0, y0 - s.r) - 1)
    {
    }
    // Row y's extremes in lo and hi; rows in increasing order.
    void row(int y)
    {
        for (; ready < std::min(s.h - 1, y + s.r);) {
            const int r = ++ready;
            // The row padded with r values either side that no extreme takes, then every
            // shift of it met in turn, whole rows at a time.
            const int* g = s.guide + (size_t)r * s.w;
            std::fill(padded_lo.begin(), padded_lo.end(), INT_MAX);
            std::fill(padded_hi.begin(), padded_hi.end(), INT_MIN);
            std::copy_n(g, s.w, padded_lo.begin() + s.r);
            std::copy_n(g, s.w, padded_hi.begin() + s.r);
            int* a = &ring_lo[(size_t)(r % d) * s.w];
            int* b = &ring_hi[(size_t)(r % d) * s.w];
            std::copy_n(g, s.w, a);
            std::copy_n(g, s.w, b);
            for (int dx = 0; dx < d; dx++) meet_rows(simd, a, b, padded_lo.data() + dx, padded_hi.data() + dx, s.w);
        }
        const int top = std::max(0, y - s.r), bottom = std::min(s.h - 1, y + s.r);
        std::copy_n(&ring_lo[(size_t)(top % d) * s.w], s.w, lo.begin());
        std::copy_n(&ring_hi[(size_t)(top % d) * s.w], s.w, hi.begin());
        for (int yy = top + 1; yy <= bottom; yy++)
            meet_rows(simd, lo.data(), hi.data(), &ring_lo[(size_t)(yy % d) * s.w], &ring_hi[(size_t)(yy % d) * s.w], s.w);
    }
    const local_setup& s;
    const int d;
    std::vector<int> ring_lo, ring_hi, lo, hi, padded_lo, padded_hi;
    int ready;
    const bool simd = processing_simd.avx2;
};

// The window's taps in row order, and a row's local masks: for every tap, one bit per
// pixel of the row (bit x % 64 of word x / 64), with a spare word so 64 bits can be read
// from any pixel on. A neighbour is admitted when its grey value lies within level x 16 x f
// of the pixel's guide value, f from the guide's spread in the window and the pixel's place
// in it.
struct window_taps {
    int count = 0, stride = 0;  // taps; words per tap in a row's masks
    std::vector<int> dx, dy;
    std::vector<long long> offset;  // in a plane of the image's width
};

window_taps make_taps(const local_setup& s)
{
    window_taps t;
    for (int y = -s.r; y <= s.r; y++)
        for (int x = -s.r; x <= s.r; x++) {
            t.dx.push_back(x);
            t.dy.push_back(y);
            t.offset.push_back((long long)y * s.w + x);
        }
    t.count = (int)t.dx.size();
    t.stride = (s.w + 63) / 64 + 1;
    return t;
}

inline bool admitted(const uint64_t* masks, const window_taps& t, int k, int x)
{
    return (masks[(size_t)k * t.stride + (x >> 6)] >> (x & 63)) & 1;
}

// The bits of pixels x, x + 1, ... of one tap's row (at least 57 of them).
inline uint64_t bits_from(const uint64_t* tap_row, int x)
{
    uint64_t v;
    std::memcpy(&v, reinterpret_cast<const unsigned char*>(tap_row) + (x >> 3), sizeof v);
    return v >> (x & 7);
}

inline void set_bits(uint64_t* tap_row, int x, uint64_t bits, int n)
{
    tap_row[x >> 6] |= bits << (x & 63);
    if ((x & 63) + n > 64) tap_row[(x >> 6) + 1] |= bits >> (64 - (x & 63));
}

// Sixteen (AVX-512) or eight (AVX2) inner pixels from x whose limits are whole numbers
// (|grey - own| <= limit is then |grey - own| <= floor(limit) for integers): every tap's
// bits for all of them at once.
__attribute__((target("avx512f,avx512bw,avx512vl"))) void admit_sixteen(const local_setup& s, const window_taps& t,
                                                                      int y, int x, const int* limit,
                                                                      uint64_t* masks)
{
    const size_t p = (size_t)y * s.w + x;
    const __m512i own = _mm512_loadu_si512(s.guide + p), l = _mm512_loadu_si512(limit + x);
    for (int k = 0; k < t.count; k++) {
        const __m512i v = _mm512_loadu_si512(s.grey + (long long)p + t.offset[k]);
        const __mmask16 in = _mm512_cmple_epi32_mask(_mm512_abs_epi32(_mm512_sub_epi32(v, own)), l);
        set_bits(masks + (size_t)k * t.stride, x, in, 16);
    }
}

__attribute__((target("avx2"))) void admit_eight(const local_setup& s, const window_taps& t, int y, int x,
                                                 const int* limit, uint64_t* masks)
{
    const size_t p = (size_t)y * s.w + x;
    const __m256i own = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s.guide + p));
    const __m256i l = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(limit + x));
    for (int k = 0; k < t.count; k++) {
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s.grey + (long long)p + t.offset[k]));
        const __m256i far = _mm256_cmpgt_epi32(_mm256_abs_epi32(_mm256_sub_epi32(v, own)), l);
        set_bits(masks + (size_t)k * t.stride, x, (uint64_t)(~_mm256_movemask_ps(_mm256_castsi256_ps(far)) & 0xff), 8);
    }
}

// Row y's limits: a neighbour is admitted when its grey value lies within limits[x] of the
// guide's value, or (whole[x] >= 0) within whole[x], its whole part; `window` holds row y's
// guide extremes.
void row_limits(const local_setup& s, const window_extremes& window, int y, std::vector<double>& limits,
                std::vector<int>& whole)
{
    const std::vector<int>&lo = window.lo, &hi = window.hi;
    const double L = s.half_width_scale;
    limits.resize(s.w);
    whole.resize(s.w);
    for (int x = 0; x < s.w; x++) {
        const double own = s.guide[(size_t)y * s.w + x];
        const double m1 = (hi[x] - lo[x]) / L, m2 = std::min(own - lo[x], hi[x] - own) / L;
        const double spread = m1 < 0.9 ? 1.6 : m1 <= 1.57 ? 1.6 - (m1 - 0.9) * 0.9 / 0.67 : 0.7;
        // Both forms computed and one chosen, without a branch on the data.
        const double near_end = 1 - m2 * (1 - spread) / 0.7;
        const double f = spread < 1 && m2 < 0.7 ? near_end : spread;
        limits[x] = L * f;
        // -1: not a limit the whole-number forms can take.
        whole[x] = limits[x] >= 0 && limits[x] < 2e9 ? (int)std::floor(limits[x]) : -1;
    }
}

// Row y's masks (t.count x t.stride words) from its limits.
void admit_row(const local_setup& s, const window_taps& t, int y, uint64_t* masks, const std::vector<double>& limits,
               const std::vector<int>& whole)
{
    std::fill(masks, masks + (size_t)t.count * t.stride, 0);
    const bool inner_row = y >= s.r && y < s.h - s.r;
    // A chunk of inner pixels whose limits all are whole-number limits.
    auto whole_limits = [&](int x, int n) {
        for (int i = 0; i < n; i++)
            if (whole[x + i] < 0) return false;
        return true;
    };
    int x = 0;
    while (x < s.w) {
        if (processing_simd.avx2 && inner_row && x >= s.r) {
            if (processing_simd.avx512 && x + 16 <= s.w - s.r && whole_limits(x, 16)) {
                admit_sixteen(s, t, y, x, whole.data(), masks);
                x += 16;
                continue;
            }
            if (x + 8 <= s.w - s.r && whole_limits(x, 8)) {
                admit_eight(s, t, y, x, whole.data(), masks);
                x += 8;
                continue;
            }
        }
        const double own = s.guide[(size_t)y * s.w + x], limit = limits[x];
        for (int k = 0; k < t.count; k++) {
            const int xx = x + t.dx[k], yy = y + t.dy[k];
            if (xx < 0 || yy < 0 || xx >= s.w || yy >= s.h) continue;
            if (std::fabs(s.grey[(size_t)yy * s.w + xx] - own) <= limit) set_bits(masks + (size_t)k * t.stride, x, 1, 1);
        }
        x++;
    }
}

// Which end of the admitted values a pass's ranks lie near, and how far in at most: the
// K + 1 extremes are then all a pixel needs. None when some count's rank lies deeper.
struct rank_end {
    bool usable = false, low = true;
    int K = 0;
};

// The deepest rank from either end that the SIMD forms keep.
constexpr int deepest_simd_rank = 31;

rank_end pass_end(const std::vector<int>& rank_of)
{
    int low = 0, high = 0;
    for (int n = 1; n < (int)rank_of.size(); n++) {
        low = std::max(low, rank_of[n]);
        high = std::max(high, n - 1 - rank_of[n]);
    }
    // The nearer end: either gives the same ranks, the nearer keeps fewer extremes.
    rank_end e;
    if (std::min(low, high) <= deepest_simd_rank) e = low <= high ? rank_end{true, true, low} : rank_end{true, false, high};
    return e;
}

// The lanes' results from their admitted counts n and their K + 1 extremes (chosen[i x
// lanes + j], the i-th of lane j): a lane that admits none keeps its value, one whose rank
// lies deeper than the extremes is left, as a bit of the result, to the plain form.
template <int K, bool Low>
unsigned finish_lanes(int lanes, const int* n, const int* chosen, const int* src, const int* rank_of, int* dst)
{
    unsigned rest = 0;
    for (int j = 0; j < lanes; j++) {
        if (n[j] == 0) {
            dst[j] = src[j];
            continue;
        }
        const int rank = Low ? rank_of[n[j]] : n[j] - 1 - rank_of[n[j]];
        if (rank > K) {
            rest |= 1u << j;
            continue;
        }
        dst[j] = chosen[rank * lanes + j] * 16;
    }
    return rest;
}

// Sixteen neighbouring pixels of one grey row at once (AVX-512): per tap, their sixteen
// admission bits are a lane mask, their sixteen neighbour values (divided by 16 with C's
// truncation) bubble through the K + 1 extremes of each lane, non-admitted ones standing in
// as the far end so they are never chosen.
template <int K, bool Low>
__attribute__((target("avx512f,avx512bw,avx512vl"))) unsigned sixteen_pixels(const int* src, const uint64_t* masks,
                                                                           const window_taps& t, int x,
                                                                           const long long* offset,
                                                                           const int* rank_of, int* dst)
{
    const __m512i far_end = _mm512_set1_epi32(Low ? INT_MAX : INT_MIN), one = _mm512_set1_epi32(1);
    __m512i best[K + 1];
    for (int i = 0; i <= K; i++) best[i] = far_end;
    __m512i count = _mm512_setzero_si512();
    for (int k = 0; k < t.count; k++) {
        const __mmask16 in = (__mmask16)bits_from(masks + (size_t)k * t.stride, x);
        const __m512i v = _mm512_loadu_si512(src + offset[k]);
        // v / 16 as C divides: toward zero.
        const __m512i level = _mm512_srai_epi32(
            _mm512_add_epi32(v, _mm512_and_si512(_mm512_srai_epi32(v, 31), _mm512_set1_epi32(15))), 4);
        __m512i value = _mm512_mask_mov_epi32(far_end, in, level);
        count = _mm512_mask_add_epi32(count, in, count, one);
        for (int i = 0; i <= K; i++) {
            const __m512i keep = Low ? _mm512_min_epi32(best[i], value) : _mm512_max_epi32(best[i], value);
            value = Low ? _mm512_max_epi32(best[i], value) : _mm512_min_epi32(best[i], value);
            best[i] = keep;
        }
    }
    alignas(64) int n[16], chosen[K + 1][16];
    _mm512_store_si512(n, count);
    for (int i = 0; i <= K; i++) _mm512_store_si512(chosen[i], best[i]);
    return finish_lanes<K, Low>(16, n, &chosen[0][0], src, rank_of, dst);
}

// The same for eight pixels (AVX2).
template <int K, bool Low>
__attribute__((target("avx2"))) unsigned eight_pixels(const int* src, const uint64_t* masks, const window_taps& t,
                                                      int x, const long long* offset, const int* rank_of, int* dst)
{
    const __m256i far_end = _mm256_set1_epi32(Low ? INT_MAX : INT_MIN);
    const __m256i lane_bit = _mm256_setr_epi32(1, 2, 4, 8, 16, 32, 64, 128);
    __m256i best[K + 1];
    for (int i = 0; i <= K; i++) best[i] = far_end;
    __m256i count = _mm256_setzero_si256();
    for (int k = 0; k < t.count; k++) {
        const int bits = (int)(bits_from(masks + (size_t)k * t.stride, x) & 0xff);
        const __m256i in = _mm256_cmpeq_epi32(_mm256_and_si256(_mm256_set1_epi32(bits), lane_bit), lane_bit);
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + offset[k]));
        const __m256i level = _mm256_srai_epi32(
            _mm256_add_epi32(v, _mm256_and_si256(_mm256_srai_epi32(v, 31), _mm256_set1_epi32(15))), 4);
        __m256i value = _mm256_blendv_epi8(far_end, level, in);
        count = _mm256_sub_epi32(count, in);
        for (int i = 0; i <= K; i++) {
            const __m256i keep = Low ? _mm256_min_epi32(best[i], value) : _mm256_max_epi32(best[i], value);
            value = Low ? _mm256_max_epi32(best[i], value) : _mm256_min_epi32(best[i], value);
            best[i] = keep;
        }
    }
    alignas(32) int n[8], chosen[K + 1][8];
    _mm256_store_si256(reinterpret_cast<__m256i*>(n), count);
    for (int i = 0; i <= K; i++) _mm256_store_si256(reinterpret_cast<__m256i*>(chosen[i]), best[i]);
    return finish_lanes<K, Low>(8, n, &chosen[0][0], src, rank_of, dst);
}

// The pixels at x of one row, sixteen or eight at a time, keeping at least the pass's K + 1
// extremes (K rounded up to the next form built: any rank within the kept ones is exact).
template <bool Low, int K>
unsigned pixels_with(bool sixteen, const int* src, const uint64_t* masks, const window_taps& t, int x,
                     const long long* offset, const int* rank_of, int* dst)
{
    return sixteen ? sixteen_pixels<K, Low>(src, masks, t, x, offset, rank_of, dst)
                   : eight_pixels<K, Low>(src, masks, t, x, offset, rank_of, dst);
}

template <bool Low>
unsigned pixels_at(bool sixteen, int K, const int* src, const uint64_t* masks, const window_taps& t, int x,
                   const long long* offset, const int* rank_of, int* dst)
{
    using form = unsigned (*)(bool, const int*, const uint64_t*, const window_taps&, int, const long long*,
                              const int*, int*);
    static const form forms[] = {pixels_with<Low, 0>, pixels_with<Low, 1>, pixels_with<Low, 2>,
                                 pixels_with<Low, 3>, pixels_with<Low, 4>, pixels_with<Low, 5>,
                                 pixels_with<Low, 6>, pixels_with<Low, 7>, pixels_with<Low, 11>,
                                 pixels_with<Low, 15>, pixels_with<Low, 23>, pixels_with<Low, deepest_simd_rank>};
    const int tier = K <= 7 ? K : K <= 11 ? 8 : K <= 15 ? 9 : K <= 23 ? 10 : 11;
    return forms[tier](sixteen, src, masks, t, x, offset, rank_of, dst);
}

// One pass's ranks: the rank of its centile for every admitted count, and whether they
// lie near enough one end for the eight-pixel form.
struct pass_ranks {
    std::vector<int> rank_of;
    rank_end end;
};

pass_ranks make_ranks(int r, double p)
{
    const int d = 2 * r + 1;
    pass_ranks k;
    k.rank_of.resize(d * d + 1);
    for (int n = 0; n <= d * d; n++) k.rank_of[n] = rank_index(p, n);
    k.end = pass_end(k.rank_of);
    return k;
}

// One pass over row y: per pixel and channel, the sample of the pass's centile among the
// admitted neighbours, written to dst (the row's w x channels values); a pixel that admits
// none keeps its value. rows[r + dy] points at row y + dy of the source (null outside the
// image), so the source may be a plane or a ring of rows.
void pass_row(const local_setup& s, const window_taps& t, const uint64_t* masks, const int* const* rows, int y,
              const pass_ranks& ranks, int* dst)
{
    const int* rank_of = ranks.rank_of.data();
    const int* own = rows[s.r];
    // Grey rows whose whole windows lie in the image go sixteen or eight pixels at a time
    // where the pass's ranks lie near one end.
    const bool inner_row = y >= s.r && y < s.h - s.r;
    const bool simd = processing_simd.avx2 && s.n == 1 && ranks.end.usable && inner_row;
    std::vector<long long> offset(simd ? t.count : 0);
    std::vector<int> levels(t.count), at(t.count);
    if (simd)
        for (int k = 0; k < t.count; k++) offset[k] = (rows[s.r + t.dy[k]] - own) + t.dx[k];
    auto value = [&](int x, int k, int ch) { return rows[s.r + t.dy[k]][(x + t.dx[k]) * s.n + ch]; };
    // One pixel by the plain form.
    auto plain = [&](int x) {
        int n = 0;
        for (int k = 0; k < t.count; k++)
            if (admitted(masks, t, k, x)) at[n++] = k;
        for (int ch = 0; ch < s.n; ch++) {
            if (n == 0) {
                dst[x * s.n + ch] = own[x * s.n + ch];
                continue;
            }
            for (int i = 0; i < n; i++) levels[i] = value(x, at[i], ch) / 16;
            dst[x * s.n + ch] = select_rank(levels.data(), n, rank_of[n]) * 16;
        }
    };
    for (int x = 0; x < s.w;) {
        const int lanes = simd && x >= s.r ? (processing_simd.avx512 && x + 16 <= s.w - s.r ? 16 : x + 8 <= s.w - s.r ? 8 : 0) : 0;
        if (!lanes) {
            plain(x++);
            continue;
        }
        unsigned rest = ranks.end.low
                            ? pixels_at<true>(lanes == 16, ranks.end.K, own + x, masks, t, x, offset.data(), rank_of, dst + x)
                            : pixels_at<false>(lanes == 16, ranks.end.K, own + x, masks, t, x, offset.data(), rank_of,
                                               dst + x);
        for (; rest; rest &= rest - 1) plain(x + __builtin_ctz(rest));
        x += lanes;
    }
}

// The probe display: the window at probe pixel (px, py) into `cells` (d x d), its
// admitted samples as they are (the one the first pass chose flagged + 160000), the others
// bit-inverted (drawn inset), -160000 outside the image. First channel only.
void local_probe(const local_setup& s, const window_taps& t, const int* in, const uint64_t* masks, int px,
                 int py, int first, int* cells)
{
    const int d = 2 * s.r + 1;
    const int chosen = first / 16;
    for (int k = 0; k < d * d; k++) {
        const int x = px + t.dx[k], y = py + t.dy[k];
        int& cell = cells[k];
        if (x < 0 || y < 0 || x >= s.w || y >= s.h) {
            cell = -160000;
            continue;
        }
        const int v = in[((size_t)y * s.w + x) * s.n];
        if (admitted(masks, t, k, px))
            cell = v >= 0 && v / 16 == chosen ? v + 160000 : v;
        else
            cell = ~std::max(v, 0);
    }
}

}  // namespace


void rank_2d_x(int* in, int w, int h, int n_channels, int r, double c, int* open, int* close, int* guide,
               int* grey, const filter_params& p)
{
    if (!in || w < 1 || h < 1 || n_channels < 1 || n_channels > 4) return;
    const size_t count = (size_t)w * h * n_channels;
    if (r < 1 || r > w / 2 || r > h / 2 || !(c >= 0 && c <= 0.5) || (!open && !close) || !guide) {
        if (open && open != in) std::copy(in, in + count, open);
        if (close && close != in) std::copy(in, in + count, close);
        return;
    }
    local_setup s{in, w, h, n_channels, r, std::max(p.level, 1) * 16.0, guide, grey ? grey : in};
    if (!grey && n_channels != 1) s.grey = guide;
    const window_taps taps = make_taps(s);
    const pass_ranks low = make_ranks(r, c), high = make_ranks(r, 1 - c);
    const int d = 2 * r + 1, row_words = taps.count * taps.stride, row_values = w * n_channels;
    const int px = p.probe_x, py = p.probe_y;
    const bool probe = p.probes(w, h);
    // The probe's window is made by the band that holds its row and handed out after the
    // bands: the canvas may paint while the first band yields.
    std::vector<int> probe_cells(probe ? (size_t)d * d : 0);
    // The median and any centile whose two ranks agree: the closing's passes are the
    // opening's, made once. An output not asked for (null) is not made.
    const bool same_ranks = low.rank_of == high.rank_of;
    int* const open_to = open ? open : same_ranks ? close : nullptr;
    int* const close_to = same_ranks ? nullptr : close;
    const bool opening = open_to || probe, closing = close_to != nullptr;
    // The wide forms: admission on 16-bit grey values, ranks on 8- or 16-bit level codes,
    // in padded planes (one a channel) so the border rows and columns go the same way.
    // Every channel's ranks are taken over the same admitted neighbours, a channel plane at
    // a time: a row of first passes then holds its channels one after the other (w values
    // each), and the results of the second passes are put back among the channels.
    const bool wide = processing_simd.avx2;
    const level_code code = wide ? choose_level_code(in, count, taps.count) : level_code{};
    const std::vector<int16_t> grey16 = wide ? padded_grey16(s.grey, w, h, r) : std::vector<int16_t>{};
    const size_t padded_w = (size_t)w + 2 * r + 32, lane_bytes = code.lane_bits / 8;
    const size_t plane_bytes = padded_w * (h + 2 * r) * lane_bytes, ring_bytes = (size_t)d * padded_w * lane_bytes;
    // The extremes form where a pass's ranks lie within 7 of one end and it costs less than
    // the search (two operations per kept extreme against two per bit of the levels' span).
    auto extreme_of = [&](const pass_ranks& k) {
        return k.end.usable && k.end.K <= 7 && k.end.K < code.span_bits ? k.end.K : -1;
    };
    std::vector<unsigned char> in_codes;
    std::vector<long long> grey_tap(taps.count);
    for (int k = 0; k < taps.count; k++) grey_tap[k] = (long long)taps.dy[k] * (long long)padded_w + taps.dx[k];
    if (code.lane_bits) {
        in_codes.assign(plane_bytes * n_channels, 0);
        over_row_bands(h, (long long)w * h * n_channels, [&](int y0, int y1, yield_clock*) {
            for (int ch = 0; ch < n_channels; ch++)
                for (int y = y0; y < y1; y++) {
                    unsigned char* row = &in_codes[ch * plane_bytes + ((y + r) * padded_w + r) * lane_bytes];
                    const int* samples = in + (size_t)y * row_values + ch;
                    if (lane_bytes == 1)
                        for (int x = 0; x < w; x++) row[x] = (unsigned char)(int8_t)code.code(samples[x * n_channels]);
                    else
                        for (int x = 0; x < w; x++) {
                            const int16_t v16 = (int16_t)code.code(samples[x * n_channels]);
                            std::memcpy(row + 2 * x, &v16, 2);
                        }
                }
        });
    }
    // Row by row: each row's masks and its two first passes (rank c for the opening, rank
    // 1 - c for the closing) enter rings of the last 2r + 1 rows, from which the second
    // passes make the row r above. A band makes the r rows above its first once more
    // itself, so no plane of masks or first passes is needed and any split gives the same
    // rows.
    over_row_bands(h, (long long)w * h * d * d * 5, [&](int y0, int y1, yield_clock* clock) {
        std::vector<uint64_t> masks((size_t)d * row_words);
        std::vector<double> limits;
        std::vector<int> whole;
        std::vector<int16_t> lo16, hi16;
        std::vector<int> first_open((size_t)d * row_values), first_close((size_t)d * row_values);
        // The first passes' codes for the wide second passes, and a row of padding for the
        // rows outside the image (never admitted, so any codes do).
        std::vector<unsigned char> codes_open(ring_bytes * n_channels), codes_close,
            padding_row(code.lane_bits ? padded_w * lane_bytes : 0);
        if (closing) codes_close.resize(codes_open.size());
        std::vector<const void*> src(taps.count);
        // A channel's own samples, and its second pass's results, as a row of their own.
        std::vector<int> channel_row(n_channels > 1 ? w : 0), channel_out(n_channels > 1 ? w : 0);
        auto own_row = [&](const int* row, int ch) {
            if (n_channels == 1) return row;
            for (int x = 0; x < w; x++) channel_row[x] = row[(size_t)x * n_channels + ch];
            return static_cast<const int*>(channel_row.data());
        };
        auto slot = [&](int y) { return y % d; };
        const int start = std::max(0, y0 - r);
        window_extremes window(s, start);
        std::vector<const int*> rows(d);
        auto plane_rows = [&](const int* plane, int y) {
            for (int dy = -r; dy <= r; dy++)
                rows[r + dy] = y + dy >= 0 && y + dy < h ? plane + (size_t)(y + dy) * row_values : nullptr;
            return rows.data();
        };
        auto ring_rows = [&](const std::vector<int>& ring, int y) {
            for (int dy = -r; dy <= r; dy++)
                rows[r + dy] = y + dy >= 0 && y + dy < h ? &ring[(size_t)slot(y + dy) * row_values] : nullptr;
            return rows.data();
        };
        // Tap k's code for pixel 0 of row y: in the padded plane of the input, or in a ring
        // of first-pass codes.
        auto plane_codes = [&](int y, int ch) {
            for (int k = 0; k < taps.count; k++)
                src[k] = &in_codes[ch * plane_bytes + ((y + taps.dy[k] + r) * padded_w + r + taps.dx[k]) * lane_bytes];
            return src.data();
        };
        auto ring_codes = [&](const std::vector<unsigned char>& ring, int y, int ch) {
            for (int k = 0; k < taps.count; k++) {
                const int yy = y + taps.dy[k];
                const unsigned char* row =
                    yy >= 0 && yy < h ? &ring[ch * ring_bytes + slot(yy) * padded_w * lane_bytes] : padding_row.data();
                src[k] = row + (r + taps.dx[k]) * lane_bytes;
            }
            return src.data();
        };
        auto ring_code_row = [&](std::vector<unsigned char>& ring, int y, int ch) {
            return &ring[ch * ring_bytes + (slot(y) * padded_w + r) * lane_bytes];
        };
        // A second pass of channel ch into row y of `plane`.
        auto second_pass = [&](const std::vector<unsigned char>& ring, int y, int ch, const pass_ranks& k,
                               const int* first, int* plane) {
            int* row = plane + (size_t)y * row_values;
            rank_row_lanes(code, ring_codes(ring, y, ch), taps.count, &masks[(size_t)slot(y) * row_words], taps.stride,
                           w, k.rank_of.data(), extreme_of(k), k.end.low, first + (size_t)ch * w,
                           n_channels == 1 ? row : channel_out.data(), nullptr);
            if (n_channels > 1)
                for (int x = 0; x < w; x++) row[(size_t)x * n_channels + ch] = channel_out[x];
        };
        int next = start;
        for (int y = y0; y < y1; y++) {
            for (; next <= std::min(h - 1, y + r); next++) {
                window.row(next);
                uint64_t* b = &masks[(size_t)slot(next) * row_words];
                if (!grey16.empty()) {
                    lo16.resize((w + 31) / 32 * 32);
                    hi16.resize(lo16.size());
                    admission_bounds(guide + (size_t)next * w, window.lo.data(), window.hi.data(), s.half_width_scale,
                                     w, lo16.data(), hi16.data());
                    admit_row16(&grey16[(next + r) * padded_w + r], grey_tap.data(), taps.count, w, lo16.data(),
                                hi16.data(), taps.stride, b);
                } else {
                    row_limits(s, window, next, limits, whole);
                    admit_row(s, taps, next, b, limits, whole);
                }
                int* fo = &first_open[(size_t)slot(next) * row_values];
                int* fc = &first_close[(size_t)slot(next) * row_values];
                if (code.lane_bits) {
                    for (int ch = 0; ch < n_channels; ch++) {
                        const int* own = own_row(in + (size_t)next * row_values, ch);
                        if (opening)
                            rank_row_lanes(code, plane_codes(next, ch), taps.count, b, taps.stride, w,
                                           low.rank_of.data(), extreme_of(low), low.end.low, own, fo + (size_t)ch * w,
                                           ring_code_row(codes_open, next, ch));
                        if (closing)
                            rank_row_lanes(code, plane_codes(next, ch), taps.count, b, taps.stride, w,
                                           high.rank_of.data(), extreme_of(high), high.end.low, own,
                                           fc + (size_t)ch * w, ring_code_row(codes_close, next, ch));
                    }
                } else {
                    if (opening) pass_row(s, taps, b, plane_rows(in, next), next, low, fo);
                    if (closing) pass_row(s, taps, b, plane_rows(in, next), next, high, fc);
                }
            }
            const uint64_t* b = &masks[(size_t)slot(y) * row_words];
            if (probe && y == py)
                local_probe(s, taps, in, b, px, py,
                            first_open[(size_t)slot(y) * row_values + (size_t)px * (code.lane_bits ? 1 : n_channels)],
                            probe_cells.data());
            const int* fo = &first_open[(size_t)slot(y) * row_values];
            const int* fc = &first_close[(size_t)slot(y) * row_values];
            if (code.lane_bits) {
                for (int ch = 0; ch < n_channels; ch++) {
                    if (open_to) second_pass(codes_open, y, ch, high, fo, open_to);
                    if (closing) second_pass(codes_close, y, ch, low, fc, close_to);
                }
            } else {
                if (open_to) pass_row(s, taps, b, ring_rows(first_open, y), y, high, open_to + (size_t)y * row_values);
                if (closing) pass_row(s, taps, b, ring_rows(first_close, y), y, low, close_to + (size_t)y * row_values);
            }
            if (clock) clock->maybe_yield();
        }
    });
    if (same_ranks && open && close && close != open) std::copy(open, open + count, close);
    if (probe) {
        p.probe_out->cells = std::move(probe_cells);
        p.probe_out->size = d;
    }
}
