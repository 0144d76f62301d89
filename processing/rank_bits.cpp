// Rank filters by a bitwise search over 32 or 16 pixels at once (see rank_bits.h).
#include "processing/rank_bits.h"

#include <algorithm>
#include <cstdint>

#include "core/cpu_features.h"
#include "processing/row_bands.h"
#include "processing/simd_lanes.h"

#ifdef VOXMIRA_SIMD_LANES
#define RANK_BITS_SIMD 1
#define AVX2_FORM __attribute__((target("avx2")))
#endif

namespace {

inline int level_of(int v) { return v / 16; }

// The samples of mask m at (x, y) that lie inside the w x h image.
int inside_count(const mask_runs& m, int w, int h, int x, int y)
{
    int n = 0;
    for (int dy = -m.r; dy <= m.r; dy++) {
        const int yy = y + dy;
        if (yy < 0 || yy >= h) continue;
        const int a = std::max(0, x + m.row_first[dy + m.r]), b = std::min(w - 1, x + m.row_last[dy + m.r]);
        n += std::max(b - a + 1, 0);
    }
    return n;
}

// The padded plane of codes: level - lo, stored with the top bit flipped so that the
// signed compares of AVX2 order them as unsigned; padding holds the highest code. Rows are
// a whole number of blocks wide, so the last block of a row reads inside the plane.
template <typename Code>
struct padded_codes {
    int r, stride;
    std::vector<Code> v;
    static constexpr unsigned flip = Code(~Code(0)) / 2 + 1;  // 0x80 or 0x8000
    padded_codes(const int* in, int w, int h, int r, int lanes, int lo) : r(r)
    {
        stride = (w + lanes - 1) / lanes * lanes + 2 * r;
        v.assign((size_t)stride * (h + 2 * r), Code(Code(~Code(0)) ^ flip));
        over_row_bands(h, (long long)w * h, [&](int y0, int y1, yield_clock*) {
            for (int y = y0; y < y1; y++) fill_row(in + (size_t)y * w, v.data() + (size_t)(y + r) * stride + r, w, lo);
        });
    }
    static void fill_row(const int* __restrict src, Code* __restrict dst, int w, int lo)
    {
        for (int x = 0; x < w; x++) dst[x] = Code((level_of(src[x]) - lo) ^ flip);
    }
    // The code of pixel (x, y), as stored.
    const Code* at(int x, int y) const { return v.data() + (size_t)(y + r) * stride + x + r; }
};

#ifdef RANK_BITS_SIMD

// The two lane widths: 32 codes of 8 bits (levels within 256, windows under 256 samples) or
// 16 codes of 16 bits.
using lanes8 = simd_lanes<int8_t>;
using lanes16 = simd_lanes<int16_t>;

// The search for NP ranks k[j] at once over the samples centre + offsets[i] (with Masked,
// sample i counts only in the lanes where member[i] is set). A candidate is kept when the
// samples below it number at most k: the count of the largest kept candidate is the level
// of rank k. Two counters per rank keep the adds from waiting on each other.
template <class L, bool Masked>
AVX2_FORM inline __m256i below(__m256i cand_flipped, __m256i v, const __m256i* member, int i)
{
    const __m256i lt = L::gt(cand_flipped, v);
    return Masked ? _mm256_and_si256(lt, member[i]) : lt;
}

template <class L, int NP, bool Masked>
AVX2_FORM void search(const typename L::code* centre, const int* offsets, int count, const __m256i* member,
                      int bits, const __m256i* k, __m256i* result)
{
    constexpr unsigned flip = padded_codes<typename L::code>::flip;
    const __m256i flip_v = L::set1(flip);
    __m256i found0 = _mm256_setzero_si256(), found1 = _mm256_setzero_si256();
    for (int b = bits - 1; b >= 0; b--) {
        const __m256i bit = L::set1(1u << b);
        const __m256i cand0 = _mm256_or_si256(found0, bit), cand1 = _mm256_or_si256(found1, bit);
        const __m256i t0 = _mm256_xor_si256(cand0, flip_v), t1 = _mm256_xor_si256(cand1, flip_v);
        __m256i a0 = _mm256_setzero_si256(), a1 = a0, b0 = a0, b1 = a0;
        int i = 0;
        for (; i + 4 <= count; i += 4) {
            const __m256i v0 = _mm256_loadu_si256((const __m256i*)(centre + offsets[i]));
            const __m256i v1 = _mm256_loadu_si256((const __m256i*)(centre + offsets[i + 1]));
            const __m256i v2 = _mm256_loadu_si256((const __m256i*)(centre + offsets[i + 2]));
            const __m256i v3 = _mm256_loadu_si256((const __m256i*)(centre + offsets[i + 3]));
            a0 = L::sub(a0, below<L, Masked>(t0, v0, member, i));
            a1 = L::sub(a1, below<L, Masked>(t0, v1, member, i + 1));
            a0 = L::sub(a0, below<L, Masked>(t0, v2, member, i + 2));
            a1 = L::sub(a1, below<L, Masked>(t0, v3, member, i + 3));
            if (NP == 2) {
                b0 = L::sub(b0, below<L, Masked>(t1, v0, member, i));
                b1 = L::sub(b1, below<L, Masked>(t1, v1, member, i + 1));
                b0 = L::sub(b0, below<L, Masked>(t1, v2, member, i + 2));
                b1 = L::sub(b1, below<L, Masked>(t1, v3, member, i + 3));
            }
        }
        for (; i < count; i++) {
            const __m256i v0 = _mm256_loadu_si256((const __m256i*)(centre + offsets[i]));
            a0 = L::sub(a0, below<L, Masked>(t0, v0, member, i));
            if (NP == 2) b0 = L::sub(b0, below<L, Masked>(t1, v0, member, i));
        }
        found0 = _mm256_blendv_epi8(found0, cand0, L::le_unsigned(L::add(a0, a1), k[0]));
        if (NP == 2) found1 = _mm256_blendv_epi8(found1, cand1, L::le_unsigned(L::add(b0, b1), k[1]));
    }
    result[0] = found0;
    if (NP == 2) result[1] = found1;
}

// A mask's samples in a padded plane of the stride: as runs along the rows, (offset of the
// first sample, length) pairs, and as the offsets of every sample; `flat` where the runs
// are short (under four samples on average) and the offsets are the faster to count,
// `long_runs` where they hold eight or more on average.
struct mask_taps {
    std::vector<int> runs, offsets;
    bool flat = false, long_runs = false;
    mask_taps(const mask_runs& m, int stride)
    {
        for (int dy = -m.r; dy <= m.r; dy++)
            if (m.row_first[dy + m.r] <= m.row_last[dy + m.r]) {
                runs.push_back(dy * stride + m.row_first[dy + m.r]);
                runs.push_back(m.row_last[dy + m.r] - m.row_first[dy + m.r] + 1);
                for (int dx = m.row_first[dy + m.r]; dx <= m.row_last[dy + m.r]; dx++) offsets.push_back(dy * stride + dx);
            }
        flat = offsets.size() < 2 * runs.size();
        long_runs = offsets.size() * 2 >= 8 * runs.size();
    }
};

// The samples of a whole mask below each of NT thresholds (flipped codes, per lane), the
// samples given as runs along the rows (pairs of the first sample's offset and the run's
// length): the loads step along a row from one pointer, without reading an offset per
// sample; a mask of short runs (the cross, the line, thin ellipses) goes by its samples'
// offsets instead, without a loop per run. The form of each was chosen by measurement.
// Several counters per threshold keep the subtractions from waiting on each other.
template <class L, int NT>
AVX2_FORM inline __attribute__((always_inline)) void count_below(const typename L::code* centre, const mask_taps& taps, const __m256i* t, __m256i* below)
{
    using code = typename L::code;
    __m256i a[NT][4];
    for (int j = 0; j < NT; j++)
        for (int i = 0; i < 4; i++) a[j][i] = _mm256_setzero_si256();
    if (taps.flat) {
        // Short runs: the samples' offsets one after another, four at a time.
        const int* o = taps.offsets.data();
        const int n = (int)taps.offsets.size();
        int i = 0;
        for (; i + 4 <= n; i += 4)
            for (int u = 0; u < 4; u++) {
                const __m256i v = _mm256_loadu_si256((const __m256i*)(centre + o[i + u]));
                for (int j = 0; j < NT; j++) a[j][u] = L::sub(a[j][u], L::gt(t[j], v));
            }
        for (; i < n; i++) {
            const __m256i v = _mm256_loadu_si256((const __m256i*)(centre + o[i]));
            for (int j = 0; j < NT; j++) a[j][0] = L::sub(a[j][0], L::gt(t[j], v));
        }
        for (int j = 0; j < NT; j++) below[j] = L::add(L::add(a[j][0], a[j][1]), L::add(a[j][2], a[j][3]));
        return;
    }
    const int* runs = taps.runs.data();
    const int n_runs = (int)taps.runs.size() / 2;
    if (taps.long_runs) {
        // Long runs: sixteen samples at a time, and the rest by jumping into a straight
        // sequence of sample steps (one jump per run, no loop count to mispredict).
#define RANK_BITS_TAP(i)                                                                      \
    {                                                                                        \
        const __m256i v = _mm256_loadu_si256((const __m256i*)(q + (i)));                     \
        for (int j = 0; j < NT; j++) a[j][(i) & 3] = L::sub(a[j][(i) & 3], L::gt(t[j], v)); \
    }
        for (int u = 0; u < n_runs; u++) {
            const code* q = centre + runs[2 * u];
            int len = runs[2 * u + 1];
            for (; len > 16; len -= 16, q += 16) {
                RANK_BITS_TAP(0) RANK_BITS_TAP(1) RANK_BITS_TAP(2) RANK_BITS_TAP(3)
                RANK_BITS_TAP(4) RANK_BITS_TAP(5) RANK_BITS_TAP(6) RANK_BITS_TAP(7)
                RANK_BITS_TAP(8) RANK_BITS_TAP(9) RANK_BITS_TAP(10) RANK_BITS_TAP(11)
                RANK_BITS_TAP(12) RANK_BITS_TAP(13) RANK_BITS_TAP(14) RANK_BITS_TAP(15)
            }
            switch (len) {
            case 16: RANK_BITS_TAP(15) [[fallthrough]];
            case 15: RANK_BITS_TAP(14) [[fallthrough]];
            case 14: RANK_BITS_TAP(13) [[fallthrough]];
            case 13: RANK_BITS_TAP(12) [[fallthrough]];
            case 12: RANK_BITS_TAP(11) [[fallthrough]];
            case 11: RANK_BITS_TAP(10) [[fallthrough]];
            case 10: RANK_BITS_TAP(9) [[fallthrough]];
            case 9: RANK_BITS_TAP(8) [[fallthrough]];
            case 8: RANK_BITS_TAP(7) [[fallthrough]];
            case 7: RANK_BITS_TAP(6) [[fallthrough]];
            case 6: RANK_BITS_TAP(5) [[fallthrough]];
            case 5: RANK_BITS_TAP(4) [[fallthrough]];
            case 4: RANK_BITS_TAP(3) [[fallthrough]];
            case 3: RANK_BITS_TAP(2) [[fallthrough]];
            case 2: RANK_BITS_TAP(1) [[fallthrough]];
            case 1: RANK_BITS_TAP(0) [[fallthrough]];
            default: break;
            }
        }
#undef RANK_BITS_TAP
        for (int j = 0; j < NT; j++) below[j] = L::add(L::add(a[j][0], a[j][1]), L::add(a[j][2], a[j][3]));
        return;
    }
    for (int u = 0; u < n_runs; u++) {
        const code* q = centre + runs[2 * u];
        const int len = runs[2 * u + 1];
        int i = 0;
        for (; i + 2 <= len; i += 2) {
            const __m256i v0 = _mm256_loadu_si256((const __m256i*)(q + i));
            const __m256i v1 = _mm256_loadu_si256((const __m256i*)(q + i + 1));
            for (int j = 0; j < NT; j++) {
                a[j][0] = L::sub(a[j][0], L::gt(t[j], v0));
                a[j][1] = L::sub(a[j][1], L::gt(t[j], v1));
            }
        }
        if (i < len) {
            const __m256i v0 = _mm256_loadu_si256((const __m256i*)(q + i));
            for (int j = 0; j < NT; j++) a[j][2] = L::sub(a[j][2], L::gt(t[j], v0));
        }
    }
    for (int j = 0; j < NT; j++) below[j] = L::add(L::add(a[j][0], a[j][1]), L::add(a[j][2], a[j][3]));
}

// The search of count_below's masks for NP ranks k[j] at once. The candidates are offsets
// above base[j] (each lane's own): every lane's level is taken to lie in base .. base +
// 2^bits - 1, and base + 2^bits - 1 stays within the codes. A candidate is kept when the
// samples below base + candidate number at most k, so the search ends at the largest
// offset that does; when the level does lie in the range, base plus that offset is the
// level of rank k (the largest level with at most k samples below it).
template <class L, int NP>
AVX2_FORM void search_runs(const typename L::code* centre, const mask_taps& taps, int bits, const __m256i* base,
                           const __m256i* k, __m256i* result)
{
    constexpr unsigned flip = padded_codes<typename L::code>::flip;
    const __m256i flip_v = L::set1(flip);
    __m256i found[NP];
    for (int j = 0; j < NP; j++) found[j] = _mm256_setzero_si256();
    for (int b = bits - 1; b >= 0; b--) {
        const __m256i bit = L::set1(1 << b);
        __m256i cand[NP], t[NP], below[NP];
        for (int j = 0; j < NP; j++) {
            cand[j] = _mm256_or_si256(found[j], bit);
            t[j] = _mm256_xor_si256(L::add(base[j], cand[j]), flip_v);
        }
        count_below<L, NP>(centre, taps, t, below);
        for (int j = 0; j < NP; j++) found[j] = _mm256_blendv_epi8(found[j], cand[j], L::le_unsigned(below[j], k[j]));
    }
    for (int j = 0; j < NP; j++) result[j] = L::add(base[j], found[j]);
}

// The search of NP ranks in a window of 2^bits levels around each lane's level of the row
// above (`last`): true with the levels in `result`, false (nothing found) where some lane
// of `valid` lies outside its window. The level of a row seldom moves far from the one
// above (the windows share all but their top and bottom samples), so a few bits find it
// where the search over all levels takes many. A lane whose search ends at an end of its
// window may lie beyond it: one more count settles it -- the level is at least base when
// at most k samples lie below base, and at most base + 2^bits - 1 when more than k lie
// below base + 2^bits.
template <class L, int NP>
AVX2_FORM bool search_near(const typename L::code* centre, const mask_taps& taps, int bits, const __m256i* last,
                           __m256i valid, const __m256i* k, __m256i* result)
{
    constexpr unsigned flip = padded_codes<typename L::code>::flip;
    const unsigned span = (1u << bits) - 1;
    const __m256i highest_base = L::set1((int)(typename L::code)(~0u - span));
    const __m256i half = L::set1(1 << (bits - 1)), span_v = L::set1((int)span), flip_v = L::set1(flip);
    __m256i base[NP];
    for (int j = 0; j < NP; j++) base[j] = L::min_unsigned(L::subs_unsigned(last[j], half), highest_base);
    search_runs<L, NP>(centre, taps, bits, base, k, result);
    // The lanes at an end of their window, unless the window reaches the end of the codes.
    __m256i at_low[NP], at_high[NP], t[2 * NP];
    bool any = false;
    for (int j = 0; j < NP; j++) {
        const __m256i found = L::sub(result[j], base[j]);
        at_low[j] = _mm256_andnot_si256(L::eq(base[j], _mm256_setzero_si256()),
                                        _mm256_and_si256(valid, L::eq(found, _mm256_setzero_si256())));
        at_high[j] = _mm256_andnot_si256(L::eq(base[j], highest_base), _mm256_and_si256(valid, L::eq(found, span_v)));
        any |= !_mm256_testz_si256(_mm256_or_si256(at_low[j], at_high[j]), _mm256_or_si256(at_low[j], at_high[j]));
        t[2 * j] = _mm256_xor_si256(base[j], flip_v);
        t[2 * j + 1] = _mm256_xor_si256(L::add(L::add(base[j], span_v), L::set1(1)), flip_v);
    }
    if (!any) return true;
    __m256i below[2 * NP];
    count_below<L, 2 * NP>(centre, taps, t, below);
    __m256i outside = _mm256_setzero_si256();
    for (int j = 0; j < NP; j++) {
        outside = _mm256_or_si256(outside, _mm256_andnot_si256(L::le_unsigned(below[2 * j], k[j]), at_low[j]));
        outside = _mm256_or_si256(outside, _mm256_and_si256(L::le_unsigned(below[2 * j + 1], k[j]), at_high[j]));
    }
    return _mm256_testz_si256(outside, outside);
}

// Bits needed for codes 0 .. span.
int bits_for(int span)
{
    int b = 0;
    while (b < 31 && (span >> b) > 0) b++;
    return b;
}

// Rows y0 .. y1 of a fixed-mask pass.
template <class L>
AVX2_FORM void fixed_rows(const padded_codes<typename L::code>& plane, const mask_taps& taps, int w, int h,
                          const mask_runs& m, const std::vector<int>* ranks, int np, int* const* outs, int lo,
                          int bits, int y0, int y1, yield_clock* clock)
{
    using code = typename L::code;
    constexpr int lanes = L::count;
    const int r = m.r, groups = (w + lanes - 1) / lanes;
    alignas(32) code k_of[2][lanes], found_of[2][lanes], valid_of[lanes];
    // The samples inside the image per column: for the rows that hold the whole mask
    // height (whole_height), and for the current row near the top or bottom (count_of).
    std::vector<int> whole_height(w), count_of(w);
    for (int x = 0; x < w; x++) whole_height[x] = inside_count(m, w, h, x, std::min(r, h - 1));
    // Per rank the levels of the row above, and per group of lanes how far they moved from
    // the row before (the most over the lanes): how wide a window the next row searches.
    std::vector<code> last[2];
    std::vector<unsigned> moved(groups, 1);
    for (int j = 0; j < np; j++) last[j].assign((size_t)groups * lanes, 0);
    for (int i = 0; i < lanes; i++) valid_of[i] = code(~0u);  // past the last column: 0
    bool have_last = false;
    // Below a few dozen samples the search near the row above saves less than its
    // bookkeeping costs: the search over all levels.
    const bool near = m.pixels >= 24;
    for (int y = y0; y < y1; y++) {
        const bool inner_row = y >= r && y < h - r;
        if (!inner_row)
            for (int x = 0; x < w; x++) count_of[x] = inside_count(m, w, h, x, y);
        const int* n_at = inner_row ? whole_height.data() : count_of.data();
        for (int g = 0, x0 = 0; x0 < w; g++, x0 += lanes) {
            __m256i k[2] = {_mm256_setzero_si256(), _mm256_setzero_si256()}, found[2], above[2];
            if (inner_row && x0 >= r && x0 + lanes - 1 + r < w) {
                for (int j = 0; j < np; j++) k[j] = L::set1((unsigned)ranks[j][m.pixels]);
            } else {
                // Near the border: each lane's rank among the samples that exist.
                for (int i = 0; i < lanes; i++) {
                    const int n = x0 + i < w ? n_at[x0 + i] : 0;
                    for (int j = 0; j < np; j++) k_of[j][i] = (code)ranks[j][n];
                }
                for (int j = 0; j < np; j++) k[j] = _mm256_load_si256((const __m256i*)k_of[j]);
            }
            // The lanes inside the image.
            const int n = std::min(lanes, w - x0);
            for (int i = n; i < lanes; i++) valid_of[i] = 0;
            const __m256i valid = n == lanes ? _mm256_set1_epi8(-1) : _mm256_load_si256((const __m256i*)valid_of);
            for (int j = 0; j < np; j++) above[j] = _mm256_loadu_si256((const __m256i*)(last[j].data() + x0));
            const code* centre = plane.at(x0, y);
            // A window twice as wide as the last move and twice again, when narrower than
            // all levels; the search over all levels where it does not hold the level.
            const int near_bits = bits_for(2 * (int)moved[g] + 1) + 1;
            bool done = false;
            if (near && have_last && near_bits < bits)
                done = np == 1 ? search_near<L, 1>(centre, taps, near_bits, above, valid, k, found)
                               : search_near<L, 2>(centre, taps, near_bits, above, valid, k, found);
            if (!done) {
                const __m256i zero[2] = {_mm256_setzero_si256(), _mm256_setzero_si256()};
                if (np == 1)
                    search_runs<L, 1>(centre, taps, bits, zero, k, found);
                else
                    search_runs<L, 2>(centre, taps, bits, zero, k, found);
            }
            if (near) {
                unsigned most = 0;
                for (int j = 0; j < np; j++) {
                    const __m256i moved_by =
                        _mm256_or_si256(L::subs_unsigned(found[j], above[j]), L::subs_unsigned(above[j], found[j]));
                    most = std::max(most, L::largest_unsigned(_mm256_and_si256(moved_by, valid)));
                    _mm256_storeu_si256((__m256i*)(last[j].data() + x0), found[j]);
                }
                if (have_last) moved[g] = most;
            }
            for (int j = 0; j < np; j++) {
                _mm256_store_si256((__m256i*)found_of[j], found[j]);
                int* o = outs[j] + (size_t)y * w + x0;
                for (int i = 0; i < n; i++) o[i] = (lo + found_of[j][i]) * 16;
            }
        }
        have_last = true;
        if (clock) clock->maybe_yield();
    }
}

template <class L>
void fixed_pass(const int* in, int w, int h, const mask_runs& m, const std::vector<int>* ranks, int np,
                int* const* outs, int lo, int hi)
{
    const int r = m.r, bits = bits_for(hi - lo);
    const padded_codes<typename L::code> plane(in, w, h, r, L::count, lo);
    const mask_taps taps(m, plane.stride);
    over_row_bands(h, (long long)w * h * m.pixels, [&](int y0, int y1, yield_clock* clock) {
        fixed_rows<L>(plane, taps, w, h, m, ranks, np, outs, lo, bits, y0, y1, clock);
    });
}

// Each lane's membership of every offset of the union of the masks, from tables of 32
// bytes per offset (0xff where mask m holds it) looked up by the lanes' mask indices.
struct membership {
    std::vector<int> offsets;                 // union of the masks, as plane offsets
    std::vector<uint8_t> table;              // 32 bytes per offset
    membership(const std::vector<mask_runs>& masks, int r, int stride)
    {
        for (int dy = -r; dy <= r; dy++)
            for (int dx = -r; dx <= r; dx++) {
                uint8_t row[32] = {};
                bool any = false;
                for (size_t k = 0; k < masks.size(); k++) {
                    const mask_runs& m = masks[k];
                    if (dx >= m.row_first[dy + r] && dx <= m.row_last[dy + r]) row[k] = 0xff, any = true;
                }
                if (!any) continue;
                offsets.push_back(dy * stride + dx);
                table.insert(table.end(), row, row + 32);
            }
    }
    // Lanes' memberships of offset o for mask indices ids (0 .. 31): indices 0..15 look up
    // the low half, 16..31 the high half (a byte shuffle gives 0 where an index has its top
    // bit set, which both lookups arrange for the other half's indices).
    AVX2_FORM static __m128i lookup(const uint8_t* t, __m128i ids)
    {
        const __m128i low_ids = _mm_or_si128(ids, _mm_cmpgt_epi8(ids, _mm_set1_epi8(15)));
        const __m128i high_ids = _mm_sub_epi8(ids, _mm_set1_epi8(16));
        return _mm_or_si128(_mm_shuffle_epi8(_mm_loadu_si128((const __m128i*)t), low_ids),
                            _mm_shuffle_epi8(_mm_loadu_si128((const __m128i*)(t + 16)), high_ids));
    }
    AVX2_FORM void fill(const uint8_t* ids, lanes8, __m256i* member) const
    {
        const __m128i a = _mm_loadu_si128((const __m128i*)ids), b = _mm_loadu_si128((const __m128i*)(ids + 16));
        for (size_t o = 0; o < offsets.size(); o++) {
            const uint8_t* t = table.data() + o * 32;
            member[o] = _mm256_set_m128i(lookup(t, b), lookup(t, a));
        }
    }
    AVX2_FORM void fill(const uint8_t* ids, lanes16, __m256i* member) const
    {
        const __m128i a = _mm_loadu_si128((const __m128i*)ids);
        for (size_t o = 0; o < offsets.size(); o++)
            member[o] = _mm256_cvtepi8_epi16(lookup(table.data() + o * 32, a));
    }
};

// Rows y0 .. y1 of a pass with a mask per pixel.
template <class L>
AVX2_FORM void varied_rows(const padded_codes<typename L::code>& plane, const membership& union_of, const int* in,
                           int w, int h, const std::vector<mask_runs>& masks, const int* mask_of,
                           const std::vector<int>* rank_at, int most, int np, int* const* outs, int lo, int bits,
                           int y0, int y1, yield_clock* clock)
{
    using code = typename L::code;
    constexpr int lanes = L::count;
    const int r = masks[0].r, count = (int)masks.size(), n_offsets = (int)union_of.offsets.size();
    alignas(32) code k_of[2][lanes], found_of[2][lanes];
    alignas(32) uint8_t ids[32] = {};
    int n_of[lanes];
    struct alignas(32) lane_vector {
        __m256i v;
    };
    std::vector<lane_vector> member_store(n_offsets);
    __m256i* member = &member_store.data()->v;
    std::vector<mask_taps> own_taps;
    for (int id = 0; id < count; id++) own_taps.emplace_back(masks[id], plane.stride);
    // Each mask's ranks with the whole mask inside the image.
    std::vector<code> whole_k[2];
    for (int j = 0; j < np; j++)
        for (int id = 0; id < count; id++) whole_k[j].push_back((code)rank_at[j][(size_t)id * (most + 1) + masks[id].pixels]);
    for (int y = y0; y < y1; y++) {
        const bool inner_row = y >= r && y < h - r;
        const int* row_masks = mask_of + (size_t)y * w;
        for (int x0 = 0; x0 < w; x0 += lanes) {
            const bool inner = inner_row && x0 >= r && x0 + lanes - 1 + r < w;
            bool empty = false;
            if (inner)
                for (int i = 0; i < lanes; i++) {
                    const int id = std::clamp(row_masks[x0 + i], 0, count - 1);
                    ids[i] = (uint8_t)id;
                    k_of[0][i] = whole_k[0][id];
                    if (np == 2) k_of[1][i] = whole_k[1][id];
                }
            else
                for (int i = 0; i < lanes; i++) {
                    const int x = x0 + i;
                    const int id = x < w ? std::clamp(row_masks[x], 0, count - 1) : 0;
                    ids[i] = (uint8_t)id;
                    const int n = x < w ? inside_count(masks[id], w, h, x, y) : 0;
                    n_of[i] = n;
                    empty |= n == 0 && x < w;
                    for (int j = 0; j < np; j++) k_of[j][i] = (code)rank_at[j][(size_t)id * (most + 1) + n];
                }
            __m256i k[2] = {_mm256_setzero_si256(), _mm256_setzero_si256()}, found[2];
            for (int j = 0; j < np; j++) k[j] = _mm256_load_si256((const __m256i*)k_of[j]);
            const code* centre = plane.at(x0, y);
            // Where every lane has the same mask (smooth areas take the circle), that mask's
            // own samples without the membership.
            const int last = std::min(lanes, w - x0) - 1;
            bool same = true;
            for (int i = 1; i <= last; i++) same &= ids[i] == ids[0];
            if (same) {
                const __m256i zero[2] = {_mm256_setzero_si256(), _mm256_setzero_si256()};
                const mask_taps& own = own_taps[ids[0]];
                if (np == 1)
                    search_runs<L, 1>(centre, own, bits, zero, k, found);
                else
                    search_runs<L, 2>(centre, own, bits, zero, k, found);
            } else {
                union_of.fill(ids, L(), member);
                if (np == 1)
                    search<L, 1, true>(centre, union_of.offsets.data(), n_offsets, member, bits, k, found);
                else
                    search<L, 2, true>(centre, union_of.offsets.data(), n_offsets, member, bits, k, found);
            }
            const int n = std::min(lanes, w - x0);
            for (int j = 0; j < np; j++) {
                _mm256_store_si256((__m256i*)found_of[j], found[j]);
                int* o = outs[j] + (size_t)y * w + x0;
                for (int i = 0; i < n; i++) o[i] = (lo + found_of[j][i]) * 16;
                if (empty)
                    for (int i = 0; i < n; i++)
                        if (n_of[i] == 0) o[i] = in[(size_t)y * w + x0 + i];
            }
        }
        if (clock) clock->maybe_yield();
    }
}

template <class L>
void varied_pass(const int* in, int w, int h, const std::vector<mask_runs>& masks, const int* mask_of,
                 const std::vector<int>* rank_at, int most, int np, int* const* outs, int lo, int hi)
{
    const int r = masks[0].r, bits = bits_for(hi - lo);
    const padded_codes<typename L::code> plane(in, w, h, r, L::count, lo);
    const membership union_of(masks, r, plane.stride);
    over_row_bands(h, (long long)w * h * union_of.offsets.size(), [&](int y0, int y1, yield_clock* clock) {
        varied_rows<L>(plane, union_of, in, w, h, masks, mask_of, rank_at, most, np, outs, lo, bits, y0, y1, clock);
    });
}

#endif  // RANK_BITS_SIMD

}  // namespace

bool rank_pass_bits(const int* in, int w, int h, const mask_runs& m, const std::vector<int>* ranks, int np,
                    int* const* outs, int lo, int hi)
{
#ifdef RANK_BITS_SIMD
    if (!processing_simd.avx2 || np < 1 || np > 2 || (long long)hi - lo > 65535 || m.pixels > 65535) return false;
    if (hi - lo <= 255 && m.pixels <= 255)
        fixed_pass<lanes8>(in, w, h, m, ranks, np, outs, lo, hi);
    else
        fixed_pass<lanes16>(in, w, h, m, ranks, np, outs, lo, hi);
    return true;
#else
    return false;
#endif
}

bool varied_pass_bits(const int* in, int w, int h, const std::vector<mask_runs>& masks, const int* mask_of,
                      const std::vector<int>* rank_at, int most, int np, int* const* outs, int lo, int hi)
{
#ifdef RANK_BITS_SIMD
    if (!processing_simd.avx2 || np < 1 || np > 2 || masks.empty() || masks.size() > 32 ||
        (long long)hi - lo > 65535)
        return false;
    int widest = 0;
    for (const mask_runs& m : masks) widest = std::max(widest, m.pixels);
    if (widest > 65535) return false;
    if (hi - lo <= 255 && widest <= 255)
        varied_pass<lanes8>(in, w, h, masks, mask_of, rank_at, most, np, outs, lo, hi);
    else
        varied_pass<lanes16>(in, w, h, masks, mask_of, rank_at, most, np, outs, lo, hi);
    return true;
#else
    return false;
#endif
}
