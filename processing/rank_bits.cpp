// Rank filters by a bitwise search over 32 or 16 pixels at once (see rank_bits.h).
#include "processing/rank_bits.h"

#include <algorithm>
#include <cstdint>

#include "core/cpu_features.h"
#include "processing/row_bands.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
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
            for (int y = y0; y < y1; y++) {
                const int* src = in + (size_t)y * w;
                Code* dst = v.data() + (size_t)(y + r) * stride + r;
                for (int x = 0; x < w; x++) dst[x] = Code((level_of(src[x]) - lo) ^ flip);
            }
        });
    }
    // The code of pixel (x, y), as stored.
    const Code* at(int x, int y) const { return v.data() + (size_t)(y + r) * stride + x + r; }
};

#ifdef RANK_BITS_SIMD

// The two lane widths: 32 codes of 8 bits (levels within 256, windows under 256 samples) or
// 16 codes of 16 bits.
struct lanes8 {
    using code = uint8_t;
    static constexpr int lanes = 32;
    AVX2_FORM static __m256i set1(unsigned v) { return _mm256_set1_epi8((char)v); }
    AVX2_FORM static __m256i greater(__m256i a, __m256i b) { return _mm256_cmpgt_epi8(a, b); }
    AVX2_FORM static __m256i sub(__m256i a, __m256i b) { return _mm256_sub_epi8(a, b); }
    AVX2_FORM static __m256i add(__m256i a, __m256i b) { return _mm256_add_epi8(a, b); }
    // a <= b, unsigned.
    AVX2_FORM static __m256i at_most(__m256i a, __m256i b) { return _mm256_cmpeq_epi8(_mm256_min_epu8(a, b), a); }
};

struct lanes16 {
    using code = uint16_t;
    static constexpr int lanes = 16;
    AVX2_FORM static __m256i set1(unsigned v) { return _mm256_set1_epi16((short)v); }
    AVX2_FORM static __m256i greater(__m256i a, __m256i b) { return _mm256_cmpgt_epi16(a, b); }
    AVX2_FORM static __m256i sub(__m256i a, __m256i b) { return _mm256_sub_epi16(a, b); }
    AVX2_FORM static __m256i add(__m256i a, __m256i b) { return _mm256_add_epi16(a, b); }
    AVX2_FORM static __m256i at_most(__m256i a, __m256i b) { return _mm256_cmpeq_epi16(_mm256_min_epu16(a, b), a); }
};

// The search for NP ranks k[j] at once over the samples centre + offsets[i] (with Masked,
// sample i counts only in the lanes where member[i] is set). A candidate is kept when the
// samples below it number at most k: the count of the largest kept candidate is the level
// of rank k. Two counters per rank keep the adds from waiting on each other.
template <class L, int NP, bool Masked>
AVX2_FORM void search(const typename L::code* centre, const int* offsets, int count, const __m256i* member,
                      int bits, const __m256i* k, __m256i* result)
{
    constexpr unsigned flip = padded_codes<typename L::code>::flip;
    const __m256i flip_v = L::set1(flip);
    __m256i found[NP];
    for (int j = 0; j < NP; j++) found[j] = _mm256_setzero_si256();
    for (int b = bits - 1; b >= 0; b--) {
        __m256i cand[NP], cand_flipped[NP], c0[NP], c1[NP];
        for (int j = 0; j < NP; j++) {
            cand[j] = _mm256_or_si256(found[j], L::set1(1u << b));
            cand_flipped[j] = _mm256_xor_si256(cand[j], flip_v);
            c0[j] = c1[j] = _mm256_setzero_si256();
        }
        int i = 0;
        for (; i + 1 < count; i += 2) {
            const __m256i v0 = _mm256_loadu_si256((const __m256i*)(centre + offsets[i]));
            const __m256i v1 = _mm256_loadu_si256((const __m256i*)(centre + offsets[i + 1]));
            for (int j = 0; j < NP; j++) {
                __m256i below0 = L::greater(cand_flipped[j], v0), below1 = L::greater(cand_flipped[j], v1);
                if (Masked) {
                    below0 = _mm256_and_si256(below0, member[i]);
                    below1 = _mm256_and_si256(below1, member[i + 1]);
                }
                c0[j] = L::sub(c0[j], below0);
                c1[j] = L::sub(c1[j], below1);
            }
        }
        if (i < count) {
            const __m256i v0 = _mm256_loadu_si256((const __m256i*)(centre + offsets[i]));
            for (int j = 0; j < NP; j++) {
                __m256i below0 = L::greater(cand_flipped[j], v0);
                if (Masked) below0 = _mm256_and_si256(below0, member[i]);
                c0[j] = L::sub(c0[j], below0);
            }
        }
        for (int j = 0; j < NP; j++)
            found[j] = _mm256_blendv_epi8(found[j], cand[j], L::at_most(L::add(c0[j], c1[j]), k[j]));
    }
    for (int j = 0; j < NP; j++) result[j] = found[j];
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
AVX2_FORM void fixed_rows(const padded_codes<typename L::code>& plane, const std::vector<int>& offsets, int w, int h,
                          const mask_runs& m, const std::vector<int>* ranks, int np, int* const* outs, int lo,
                          int bits, int y0, int y1, yield_clock* clock)
{
    using code = typename L::code;
    constexpr int lanes = L::lanes;
    const int r = m.r;
    alignas(32) code k_of[2][lanes], found_of[2][lanes];
    // The samples inside the image per column: for the rows that hold the whole mask
    // height (whole_height), and for the current row near the top or bottom (count_of).
    std::vector<int> whole_height(w), count_of(w);
    for (int x = 0; x < w; x++) whole_height[x] = inside_count(m, w, h, x, std::min(r, h - 1));
    for (int y = y0; y < y1; y++) {
        const bool inner_row = y >= r && y < h - r;
        if (!inner_row)
            for (int x = 0; x < w; x++) count_of[x] = inside_count(m, w, h, x, y);
        const int* n_at = inner_row ? whole_height.data() : count_of.data();
        for (int x0 = 0; x0 < w; x0 += lanes) {
            __m256i k[2] = {_mm256_setzero_si256(), _mm256_setzero_si256()}, found[2];
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
            const code* centre = plane.at(x0, y);
            if (np == 1)
                search<L, 1, false>(centre, offsets.data(), (int)offsets.size(), nullptr, bits, k, found);
            else
                search<L, 2, false>(centre, offsets.data(), (int)offsets.size(), nullptr, bits, k, found);
            const int n = std::min(lanes, w - x0);
            for (int j = 0; j < np; j++) {
                _mm256_store_si256((__m256i*)found_of[j], found[j]);
                int* o = outs[j] + (size_t)y * w + x0;
                for (int i = 0; i < n; i++) o[i] = (lo + found_of[j][i]) * 16;
            }
        }
        if (clock) clock->maybe_yield();
    }
}

template <class L>
void fixed_pass(const int* in, int w, int h, const mask_runs& m, const std::vector<int>* ranks, int np,
                int* const* outs, int lo, int hi)
{
    const int r = m.r, bits = bits_for(hi - lo);
    const padded_codes<typename L::code> plane(in, w, h, r, L::lanes, lo);
    std::vector<int> offsets;
    for (int dy = -r; dy <= r; dy++)
        for (int dx = m.row_first[dy + r]; dx <= m.row_last[dy + r]; dx++) offsets.push_back(dy * plane.stride + dx);
    over_row_bands(h, (long long)w * h * m.pixels, [&](int y0, int y1, yield_clock* clock) {
        fixed_rows<L>(plane, offsets, w, h, m, ranks, np, outs, lo, bits, y0, y1, clock);
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
    constexpr int lanes = L::lanes;
    const int r = masks[0].r, count = (int)masks.size(), n_offsets = (int)union_of.offsets.size();
    alignas(32) code k_of[2][lanes], found_of[2][lanes];
    alignas(32) uint8_t ids[32] = {};
    int n_of[lanes];
    struct alignas(32) lane_vector {
        __m256i v;
    };
    std::vector<lane_vector> member_store(n_offsets);
    __m256i* member = &member_store.data()->v;
    for (int y = y0; y < y1; y++) {
        const bool inner_row = y >= r && y < h - r;
        for (int x0 = 0; x0 < w; x0 += lanes) {
            const bool inner = inner_row && x0 >= r && x0 + lanes - 1 + r < w;
            bool empty = false;
            for (int i = 0; i < lanes; i++) {
                const int x = x0 + i;
                const int id = x < w ? std::clamp(mask_of[(size_t)y * w + x], 0, count - 1) : 0;
                ids[i] = (uint8_t)id;
                const int n = x >= w ? 0 : inner ? masks[id].pixels : inside_count(masks[id], w, h, x, y);
                n_of[i] = n;
                empty |= n == 0 && x < w;
                for (int j = 0; j < np; j++) k_of[j][i] = (code)rank_at[j][(size_t)id * (most + 1) + n];
            }
            union_of.fill(ids, L(), member);
            __m256i k[2] = {_mm256_setzero_si256(), _mm256_setzero_si256()}, found[2];
            for (int j = 0; j < np; j++) k[j] = _mm256_load_si256((const __m256i*)k_of[j]);
            const code* centre = plane.at(x0, y);
            if (np == 1)
                search<L, 1, true>(centre, union_of.offsets.data(), n_offsets, member, bits, k, found);
            else
                search<L, 2, true>(centre, union_of.offsets.data(), n_offsets, member, bits, k, found);
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
    const padded_codes<typename L::code> plane(in, w, h, r, L::lanes, lo);
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
