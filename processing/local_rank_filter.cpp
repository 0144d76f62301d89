// The local-mask rank filter.
#include "processing/local_rank_filter.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <immintrin.h>
#include <vector>

#include "core/record.h"
#include "core/work_plane.h"
#include "processing/masks.h"
#include "processing/row_bands.h"

namespace {

struct local_setup {
    const int* in;
    int w, h, n, r;
    double half_width_scale;  // level x 16
    const int* guide;
    const int* grey;
};

bool cpu_has_avx2()
{
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2");
}

bool simd_wanted = cpu_has_avx2() && !std::getenv("VOXMIRA_NO_SIMD");

// One inner pixel's admission bits, eight neighbours of a window row at a time: a
// neighbour is admitted when |grey - own| <= limit, which for integers is |grey - own| <=
// floor(limit). The last chunk of a row is loaded under a mask, so nothing past the
// window's row is read.
__attribute__((target("avx2"))) void admit_inner(const int* centre, int w, int r, int own, int limit,
                                                 uint64_t* b)
{
    const int d = 2 * r + 1;
    const __m256i o = _mm256_set1_epi32(own), l = _mm256_set1_epi32(limit);
    const __m256i lane = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    for (int dy = -r; dy <= r; dy++) {
        const int* row = centre + (long long)dy * w - r;
        for (int c = 0; c < d; c += 8) {
            const int n = std::min(8, d - c);
            const __m256i v = n == 8 ? _mm256_loadu_si256(reinterpret_cast<const __m256i*>(row + c))
                                     : _mm256_maskload_epi32(row + c, _mm256_cmpgt_epi32(_mm256_set1_epi32(n), lane));
            const __m256i far = _mm256_cmpgt_epi32(_mm256_abs_epi32(_mm256_sub_epi32(v, o)), l);
            uint64_t bits = (uint64_t)(~_mm256_movemask_ps(_mm256_castsi256_ps(far)) & ((1 << n) - 1));
            const int pos = (dy + r) * d + c;
            b[pos >> 6] |= bits << (pos & 63);
            if ((pos & 63) + n > 64) b[(pos >> 6) + 1] |= bits >> (64 - (pos & 63));
        }
    }
}

// Minimum and maximum of the guide over each pixel's clipped (2r + 1)^2 window, a row at
// a time: the rows' own extremes enter a ring of the last 2r + 1 rows and the window's
// come from the ring's columns.
class window_extremes {
public:
    window_extremes(const local_setup& s, int y0) : s(s), d(2 * s.r + 1), ring_lo((size_t)d * s.w), ring_hi((size_t)d * s.w),
        lo(s.w), hi(s.w), ready(std::max(0, y0 - s.r) - 1)
    {
    }
    // Row y's extremes in lo and hi; rows in increasing order.
    void row(int y)
    {
        for (; ready < std::min(s.h - 1, y + s.r);) {
            const int r = ++ready;
            const int* g = s.guide + (size_t)r * s.w;
            int* a = &ring_lo[(size_t)(r % d) * s.w];
            int* b = &ring_hi[(size_t)(r % d) * s.w];
            for (int x = 0; x < s.w; x++) {
                int mn = g[x], mx = mn;
                for (int xx = std::max(0, x - s.r); xx <= std::min(s.w - 1, x + s.r); xx++) {
                    mn = std::min(mn, g[xx]);
                    mx = std::max(mx, g[xx]);
                }
                a[x] = mn;
                b[x] = mx;
            }
        }
        const int top = std::max(0, y - s.r), bottom = std::min(s.h - 1, y + s.r);
        std::copy_n(&ring_lo[(size_t)(top % d) * s.w], s.w, lo.begin());
        std::copy_n(&ring_hi[(size_t)(top % d) * s.w], s.w, hi.begin());
        for (int yy = top + 1; yy <= bottom; yy++) {
            const int* a = &ring_lo[(size_t)(yy % d) * s.w];
            const int* b = &ring_hi[(size_t)(yy % d) * s.w];
            for (int x = 0; x < s.w; x++) {
                lo[x] = std::min(lo[x], a[x]);
                hi[x] = std::max(hi[x], b[x]);
            }
        }
    }
    const local_setup& s;
    const int d;
    std::vector<int> ring_lo, ring_hi, lo, hi;
    int ready;
};

// The window's taps in row order and each pixel's local mask as bits over them: a
// neighbour is admitted when its grey value lies within level x 16 x f of the pixel's guide
// value, f from the guide's spread in the window and the pixel's place in it.
struct window_taps {
    int words = 0;
    std::vector<int> dx, dy;
    std::vector<long long> offset;  // in a plane of the image's width
};

window_taps make_taps(const local_setup& s)
{
    window_taps t;
    const int d = 2 * s.r + 1;
    t.words = (d * d + 63) / 64;
    for (int y = -s.r; y <= s.r; y++)
        for (int x = -s.r; x <= s.r; x++) {
            t.dx.push_back(x);
            t.dy.push_back(y);
            t.offset.push_back((long long)y * s.w + x);
        }
    return t;
}

// Row y's masks into b (w x words words); `window` holds row y's guide extremes.
void admit_row(const local_setup& s, const window_taps& t, const window_extremes& window, int y, uint64_t* bits)
{
    const int d = 2 * s.r + 1;
    const std::vector<int>&lo = window.lo, &hi = window.hi;
    const double L = s.half_width_scale;
    std::fill(bits, bits + (size_t)s.w * t.words, 0);
    for (int x = 0; x < s.w; x++) {
        const size_t p = (size_t)y * s.w + x;
        const double own = s.guide[p];
        const double m1 = (hi[x] - lo[x]) / L, m2 = std::min(own - lo[x], hi[x] - own) / L;
        double f = m1 < 0.9 ? 1.6 : m1 <= 1.57 ? 1.6 - (m1 - 0.9) * 0.9 / 0.67 : 0.7;
        if (f < 1 && m2 < 0.7) f = 1 - m2 * (1 - f) / 0.7;
        const double limit = L * f;
        uint64_t* b = bits + (size_t)x * t.words;
        if (simd_wanted && x >= s.r && y >= s.r && x < s.w - s.r && y < s.h - s.r && limit >= 0 && limit < 2e9) {
            admit_inner(s.grey + p, s.w, s.r, s.guide[p], (int)std::floor(limit), b);
            continue;
        }
        if (x >= s.r && y >= s.r && x < s.w - s.r && y < s.h - s.r) {
            // Inside: every position exists; the bits are set without a branch.
            const int* centre = s.grey + p;
            for (int k = 0; k < d * d; k++) {
                const bool in = std::fabs(centre[t.offset[k]] - own) <= limit;
                b[k >> 6] |= (uint64_t)in << (k & 63);
            }
            continue;
        }
        for (int k = 0; k < d * d; k++) {
            const int xx = x + t.dx[k], yy = y + t.dy[k];
            if (xx < 0 || yy < 0 || xx >= s.w || yy >= s.h) continue;
            if (std::fabs(s.grey[(size_t)yy * s.w + xx] - own) <= limit) b[k >> 6] |= 1ull << (k & 63);
        }
    }
}

// The (K + 1)-th smallest (Low) or largest of the n values: each value bubbles through
// the K + 1 extremes held so far by min and max alone, without a branch on the data.
template <int K, bool Low>
int extreme_rank(const int* v, int n)
{
    int best[K + 1];
    for (int i = 0; i <= K; i++) best[i] = Low ? INT_MAX : INT_MIN;
    for (int j = 0; j < n; j++) {
        int x = v[j];
        for (int i = 0; i <= K; i++) {
            const int keep = Low ? std::min(best[i], x) : std::max(best[i], x);
            x = Low ? std::max(best[i], x) : std::min(best[i], x);
            best[i] = keep;
        }
    }
    return best[K];
}

template <bool Low>
int extreme_rank(const int* v, int n, int k)
{
    switch (k) {
    case 0: return extreme_rank<0, Low>(v, n);
    case 1: return extreme_rank<1, Low>(v, n);
    case 2: return extreme_rank<2, Low>(v, n);
    case 3: return extreme_rank<3, Low>(v, n);
    case 4: return extreme_rank<4, Low>(v, n);
    case 5: return extreme_rank<5, Low>(v, n);
    case 6: return extreme_rank<6, Low>(v, n);
    default: return extreme_rank<7, Low>(v, n);
    }
}

// The value of rank k (0-based) among the n values of v (reordered); ranks near the ends,
// which openings and closings ask for, without sorting.
int select_rank(int* v, int n, int k)
{
    if (k < 8) return extreme_rank<true>(v, n, k);
    if (n - 1 - k < 8) return extreme_rank<false>(v, n, n - 1 - k);
    std::nth_element(v, v + k, v + n);
    return v[k];
}

// Which end of the admitted values a pass's ranks lie near, and how far in at most: the
// K + 1 extremes are then all a pixel needs. None when some count's rank lies deeper.
struct rank_end {
    bool usable = false, low = true;
    int K = 0;
};

rank_end pass_end(const std::vector<int>& rank_of)
{
    int low = 0, high = 0;
    for (int n = 1; n < (int)rank_of.size(); n++) {
        low = std::max(low, rank_of[n]);
        high = std::max(high, n - 1 - rank_of[n]);
    }
    rank_end e;
    if (low <= 7) {
        e = {true, true, low};
    } else if (high <= 7) {
        e = {true, false, high};
    }
    return e;
}

// Eight neighbouring pixels of one grey row at once: per offset, their eight admission bits
// become a lane mask, their eight neighbour values (divided by 16 with C's truncation)
// bubble through the K + 1 extremes of each lane, non-admitted ones standing in as the
// far end so they are never chosen. Writes dst for the lanes whose rank lies within the
// extremes and returns, as bits, the lanes left to the plain form.
template <int K, bool Low>
__attribute__((target("avx2"))) unsigned eight_pixels(const int* src, const uint64_t* bits, int words,
                                                      const long long* offset, int taps,
                                                      const int* rank_of, int* dst)
{
    const __m256i far_end = _mm256_set1_epi32(Low ? INT_MAX : INT_MIN);
    const __m256i one64 = _mm256_set1_epi64x(1), one32 = _mm256_set1_epi32(1);
    const __m256i order = _mm256_setr_epi32(0, 1, 4, 5, 2, 3, 6, 7);
    __m256i best[K + 1];
    for (int i = 0; i <= K; i++) best[i] = far_end;
    __m256i count = _mm256_setzero_si256();
    __m256i w0 = _mm256_setzero_si256(), w1 = w0;
    for (int k = 0; k < taps; k++) {
        if ((k & 63) == 0) {
            const int wi = k >> 6;
            w0 = _mm256_setr_epi64x((long long)bits[0 * words + wi], (long long)bits[1 * words + wi],
                                    (long long)bits[2 * words + wi], (long long)bits[3 * words + wi]);
            w1 = _mm256_setr_epi64x((long long)bits[4 * words + wi], (long long)bits[5 * words + wi],
                                    (long long)bits[6 * words + wi], (long long)bits[7 * words + wi]);
        }
        const __m256i b0 = _mm256_and_si256(w0, one64), b1 = _mm256_and_si256(w1, one64);
        w0 = _mm256_srli_epi64(w0, 1);
        w1 = _mm256_srli_epi64(w1, 1);
        const __m256i packed = _mm256_permutevar8x32_epi32(
            _mm256_castps_si256(_mm256_shuffle_ps(_mm256_castsi256_ps(b0), _mm256_castsi256_ps(b1),
                                                  _MM_SHUFFLE(2, 0, 2, 0))),
            order);
        const __m256i admitted = _mm256_cmpeq_epi32(packed, one32);
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + offset[k]));
        // v / 16 as C divides: toward zero.
        const __m256i level = _mm256_srai_epi32(
            _mm256_add_epi32(v, _mm256_and_si256(_mm256_srai_epi32(v, 31), _mm256_set1_epi32(15))), 4);
        __m256i x = _mm256_blendv_epi8(far_end, level, admitted);
        count = _mm256_sub_epi32(count, admitted);
        for (int i = 0; i <= K; i++) {
            const __m256i keep = Low ? _mm256_min_epi32(best[i], x) : _mm256_max_epi32(best[i], x);
            x = Low ? _mm256_max_epi32(best[i], x) : _mm256_min_epi32(best[i], x);
            best[i] = keep;
        }
    }
    alignas(32) int n[8], value[K + 1][8];
    _mm256_store_si256(reinterpret_cast<__m256i*>(n), count);
    for (int i = 0; i <= K; i++) _mm256_store_si256(reinterpret_cast<__m256i*>(value[i]), best[i]);
    unsigned rest = 0;
    for (int j = 0; j < 8; j++) {
        if (n[j] == 0) {
            dst[j] = src[j];
            continue;
        }
        const int rank = Low ? rank_of[n[j]] : n[j] - 1 - rank_of[n[j]];
        if (rank > K) {
            rest |= 1u << j;
            continue;
        }
        dst[j] = value[rank][j] * 16;
    }
    return rest;
}

template <bool Low>
unsigned eight_pixels_at(int K, const int* src, const uint64_t* bits, int words, const long long* offset,
                         int taps, const int* rank_of, int* dst)
{
    switch (K) {
    case 0: return eight_pixels<0, Low>(src, bits, words, offset, taps, rank_of, dst);
    case 1: return eight_pixels<1, Low>(src, bits, words, offset, taps, rank_of, dst);
    case 2: return eight_pixels<2, Low>(src, bits, words, offset, taps, rank_of, dst);
    case 3: return eight_pixels<3, Low>(src, bits, words, offset, taps, rank_of, dst);
    case 4: return eight_pixels<4, Low>(src, bits, words, offset, taps, rank_of, dst);
    case 5: return eight_pixels<5, Low>(src, bits, words, offset, taps, rank_of, dst);
    case 6: return eight_pixels<6, Low>(src, bits, words, offset, taps, rank_of, dst);
    default: return eight_pixels<7, Low>(src, bits, words, offset, taps, rank_of, dst);
    }
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
void pass_row(const local_setup& s, const window_taps& t, const uint64_t* bits, const int* const* rows, int y,
              const pass_ranks& ranks, int* dst)
{
    const int d = 2 * s.r + 1, taps = d * d;
    const int* rank_of = ranks.rank_of.data();
    const int* own = rows[s.r];
    // Grey rows whose whole windows lie in the image go eight pixels at a time where the
    // pass's ranks lie near one end.
    const bool inner_row = y >= s.r && y < s.h - s.r;
    const bool eight = simd_wanted && s.n == 1 && ranks.end.usable && inner_row;
    std::vector<long long> offset(eight ? taps : 0);
    std::vector<int> levels(taps), at(taps);
    if (eight)
        for (int k = 0; k < taps; k++) offset[k] = (rows[s.r + t.dy[k]] - own) + t.dx[k];
    auto value = [&](int x, int k, int ch) { return rows[s.r + t.dy[k]][(x + t.dx[k]) * s.n + ch]; };
    for (int x = 0; x < s.w; x++) {
        const uint64_t* b = bits + (size_t)x * t.words;
        if (eight && x >= s.r && x + 8 <= s.w - s.r) {
            unsigned rest = ranks.end.low
                                ? eight_pixels_at<true>(ranks.end.K, own + x, b, t.words, offset.data(), taps, rank_of, dst + x)
                                : eight_pixels_at<false>(ranks.end.K, own + x, b, t.words, offset.data(), taps, rank_of,
                                                         dst + x);
            for (; rest; rest &= rest - 1) {
                const int j = __builtin_ctz(rest);
                const uint64_t* bj = b + (size_t)j * t.words;
                int n = 0;
                for (int wi = 0; wi < t.words; wi++)
                    for (uint64_t word = bj[wi]; word; word &= word - 1)
                        levels[n++] = value(x + j, wi * 64 + __builtin_ctzll(word), 0) / 16;
                dst[x + j] = select_rank(levels.data(), n, rank_of[n]) * 16;
            }
            x += 7;
            continue;
        }
        int n = 0;
        for (int wi = 0; wi < t.words; wi++)
            for (uint64_t word = b[wi]; word; word &= word - 1) at[n++] = wi * 64 + __builtin_ctzll(word);
        for (int ch = 0; ch < s.n; ch++) {
            if (n == 0) {
                dst[x * s.n + ch] = own[x * s.n + ch];
                continue;
            }
            for (int i = 0; i < n; i++) levels[i] = value(x, at[i], ch) / 16;
            dst[x * s.n + ch] = select_rank(levels.data(), n, rank_of[n]) * 16;
        }
    }
}

// The probe display: the window at the probe pixel, its admitted samples as they are
// (the one the first pass chose flagged + 160000), the others bit-inverted (drawn inset),
// -160000 outside the image. First channel only.
void record_local_probe(const local_setup& s, const window_taps& t, const int* in, const uint64_t* b, int first)
{
    const int px = info.cursor.x, py = info.cursor.y, d = 2 * s.r + 1;
    release_array(info.probe_values);
    info.probe_values = new int[(size_t)d * d];
    info.probe_count = d;
    const int chosen = first / 16;
    for (int k = 0; k < d * d; k++) {
        const int x = px + t.dx[k], y = py + t.dy[k];
        int& cell = info.probe_values[k];
        if (x < 0 || y < 0 || x >= s.w || y >= s.h) {
            cell = -160000;
            continue;
        }
        const int v = in[((size_t)y * s.w + x) * s.n];
        if ((b[k >> 6] >> (k & 63)) & 1)
            cell = v >= 0 && v / 16 == chosen ? v + 160000 : v;
        else
            cell = ~std::max(v, 0);
    }
}

}  // namespace

bool use_local_rank_simd(bool wanted)
{
    const bool before = simd_wanted;
    simd_wanted = wanted && cpu_has_avx2();
    return before;
}

void rank_2d_x(int* in, int w, int h, int n_channels, int r, int level, double c, int, int* open,
               int* close, int* guide, int* grey)
{
    if (!in || w < 1 || h < 1 || n_channels < 1 || n_channels > 4) return;
    const size_t count = (size_t)w * h * n_channels;
    if (r < 1 || r > w / 2 || r > h / 2 || !(c >= 0 && c <= 0.5) || !open || !close || !guide) {
        if (open && open != in) std::copy(in, in + count, open);
        if (close && close != in) std::copy(in, in + count, close);
        return;
    }
    local_setup s{in, w, h, n_channels, r, std::max(level, 1) * 16.0, guide, grey ? grey : in};
    if (!grey && n_channels != 1) s.grey = guide;
    const window_taps taps = make_taps(s);
    const pass_ranks low = make_ranks(r, c), high = make_ranks(r, 1 - c);
    const int d = 2 * r + 1, words = taps.words, row_values = w * n_channels;
    const bool probe = info.probe_mode && info.cursor.x >= 0 && info.cursor.y >= 0 && info.cursor.x < w &&
                       info.cursor.y < h;
    // Row by row: each row's masks and its two first passes (rank c for the opening, rank
    // 1 - c for the closing) enter rings of the last 2r + 1 rows, from which the second
    // passes make the row r above. A band makes the r rows above its first once more
    // itself, so no plane of masks or first passes is needed and any split gives the same
    // rows.
    over_row_bands(h, (long long)w * h * d * d * 5, [&](int y0, int y1, yield_clock* clock) {
        std::vector<uint64_t> masks((size_t)d * w * words);
        std::vector<int> first_open((size_t)d * row_values), first_close((size_t)d * row_values);
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
        int next = start;
        for (int y = y0; y < y1; y++) {
            for (; next <= std::min(h - 1, y + r); next++) {
                window.row(next);
                uint64_t* b = &masks[(size_t)slot(next) * w * words];
                admit_row(s, taps, window, next, b);
                pass_row(s, taps, b, plane_rows(in, next), next, low, &first_open[(size_t)slot(next) * row_values]);
                pass_row(s, taps, b, plane_rows(in, next), next, high, &first_close[(size_t)slot(next) * row_values]);
            }
            const uint64_t* b = &masks[(size_t)slot(y) * w * words];
            if (probe && y == info.cursor.y)
                record_local_probe(s, taps, in, b + (size_t)info.cursor.x * words,
                                   first_open[(size_t)slot(y) * row_values + (size_t)info.cursor.x * n_channels]);
            pass_row(s, taps, b, ring_rows(first_open, y), y, high, open + (size_t)y * row_values);
            pass_row(s, taps, b, ring_rows(first_close, y), y, low, close + (size_t)y * row_values);
            if (clock) clock->maybe_yield();
        }
    });
}
