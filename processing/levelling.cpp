// OCCO and self-dual levelling.
#include "processing/levelling.h"

#include <algorithm>
#include <chrono>
#include <immintrin.h>
#include <memory>
#include <vector>

#include "core/cpu_features.h"
#include "core/work_plane.h"
#include "core/ui.h"
#include "processing/grain_filter.h"
#include "processing/local_rank_filter.h"
#include "processing/masks.h"
#include "processing/rank_filter.h"
#include "processing/row_bands.h"

void occo_plane(int* in, int w, int h, int r, double c, int* out, int* guide, int* grey, const mask_family* family,
                const int* mask_of_pixel, const filter_params& p)
{
    const size_t n = (size_t)w * h;
    const bool local = p.mask == MASK_LOCAL && guide, varying = p.mask == MASK_VARYING && family && mask_of_pixel;
    if (!local && !varying && p.mask != MASK_AREA) {
        // One mask for every pixel: two planes, left unset (every pass fills its output).
        // The closing of the opening goes straight to out (the input is read only by the
        // first call), the opening of the closing to the opening's plane once that is used.
        work_plane<int> O(n), C(n);
        rank_2d(in, w, h, r, c, O.data(), 1 - c, C.data(), false, p);
        rank_2d(O.data(), w, h, r, 1 - c, out, 0, nullptr, false, p);
        rank_2d(C.data(), w, h, r, c, O.data(), 0, nullptr, false, p);
        over_row_bands(h, (long long)n, [&](int y0, int y1, yield_clock*) {
            for (size_t i = (size_t)y0 * w; i < (size_t)y1 * w; i++) out[i] = (int)(((long long)out[i] + O[i]) / 2);
        });
        return;
    }
    std::vector<int> O(n), C(n), CO(n), OC(n);
    if (local) {
        // The local filter takes centiles up to the median: above it the opening at c is
        // its closing at 1 - c, so the outputs trade places. Only the output used is made.
        const double q = std::min(c, 1 - c);
        const bool above = c > 0.5;
        rank_2d_x(in, w, h, 1, r, q, O.data(), C.data(), guide, grey ? grey : in, p);
        if (above) std::swap(O, C);
        rank_2d_x(O.data(), w, h, 1, r, q, above ? CO.data() : nullptr, above ? nullptr : CO.data(), guide,
                  grey ? grey : in, p);
        rank_2d_x(C.data(), w, h, 1, r, q, above ? nullptr : OC.data(), above ? OC.data() : nullptr, guide,
                  grey ? grey : in, p);
    } else if (p.mask == MASK_AREA) {
        grain_occo(in, w, h, r, c, O.data(), C.data(), CO.data(), OC.data());
    } else {
        const int* m = mask_of_pixel;
        varied_rank_2d(in, w, h, r, c, O.data(), 1 - c, C.data(), m, m, *family, p);
        varied_rank_2d(O.data(), w, h, r, 1 - c, CO.data(), 0, nullptr, m, m, *family, p);
        varied_rank_2d(C.data(), w, h, r, c, OC.data(), 0, nullptr, m, m, *family, p);
    }
    for (size_t i = 0; i < n; i++) out[i] = (int)(((long long)CO[i] + OC[i]) / 2);
}

namespace {

// The radius-1 window of the levelling: the mask's offsets, and for every count of its
// pixels inside the image the two ranks (rank_2d's rank_index of c and 1 - c).
struct level_window {
    int w = 0, h = 0, pixels = 0;
    int dx[9], dy[9];
    ptrdiff_t offset[9];
    int rank_lo[10], rank_hi[10];

    level_window(int w, int h, double c, const filter_params& p) : w(w), h(h)
    {
        const mask_runs m = filter_mask(p.mask, 1, p.angle);
        for (int y = -1; y <= 1; y++)
            for (int x = m.row_first[y + 1]; x <= m.row_last[y + 1]; x++) {
                dx[pixels] = x;
                dy[pixels] = y;
                offset[pixels] = (ptrdiff_t)y * w + x;
                pixels++;
            }
        for (int n = 0; n <= 9; n++) {
            rank_lo[n] = rank_index(c, n);
            rank_hi[n] = rank_index(1 - c, n);
        }
    }

    // The new marker at pixel (x, y): min(max(in, rank c), rank 1 - c) of the marker's
    // whole levels over the mask's pixels inside the image, written back as level x 16 --
    // what rank_2d's ranks give there, here by sorting the (at most nine) levels.
    int value(const int* in, const int* marker, int x, int y) const
    {
        const size_t at = (size_t)y * w + x;
        int v[9], n = 0;
        for (int k = 0; k < pixels; k++) {
            const int xx = x + dx[k], yy = y + dy[k];
            if (xx >= 0 && yy >= 0 && xx < w && yy < h) v[n++] = marker[at + offset[k]] / 16;
        }
        for (int round = 0; round < n; round++)
            for (int i = round & 1; i + 1 < n; i += 2) {
                const int a = v[i], b = v[i + 1];
                v[i] = std::min(a, b);
                v[i + 1] = std::max(a, b);
            }
        return std::min(std::max(in[at], v[rank_lo[n]] * 16), v[rank_hi[n]] * 16);
    }
};

// The levelling's passes recompute the image in segments of eight pixels of a row:
// segment (y, xs) covers row y, columns 8 xs .. 8 xs + 7 (those inside the image).
struct segment {
    int y, xs;
};

struct level_segments {
    const level_window& win;
    const int* in;
    const int* marker;

    // The new marker over segment (y, xs) into out[0 .. 7], one pixel at a time; returns
    // the pixels that change (bit j for column 8 xs + j).
    unsigned one_at_a_time(int y, int xs, int* out) const
    {
        const int x0 = xs * 8, x1 = std::min(x0 + 8, win.w);
        unsigned bits = 0;
        for (int x = x0; x < x1; x++) {
            out[x - x0] = win.value(in, marker, x, y);
            bits |= (unsigned)(out[x - x0] != marker[(size_t)y * win.w + x]) << (x - x0);
        }
        return bits;
    }
};

// Batcher's merge-exchange sorting network for P inputs (Knuth, TAOCP 5.2.2, algorithm M):
// comparators (first[c], second[c]) in order, 26 of them for nine inputs where odd-even
// transposition takes 36.
template <int P>
struct merge_exchange {
    int first[32] = {}, second[32] = {};
    int count = 0;
    constexpr merge_exchange()
    {
        int t = 0;
        while ((1 << t) < P) t++;
        for (int p = t > 0 ? 1 << (t - 1) : 0; p > 0; p >>= 1) {
            int q = 1 << (t - 1), r = 0, d = p;
            for (;;) {
                for (int i = 0; i + d < P; i++)
                    if ((i & p) == r) {
                        first[count] = i;
                        second[count] = i + d;
                        count++;
                    }
                if (q == p) break;
                d = q - p;
                q >>= 1;
                r = p;
            }
        }
    }
};
template <int P>
constexpr merge_exchange<P> sorter{};

// The part of the network that ranks LO and HI of its output depend on (LO < 0: all of
// it): going back from the last comparator, one is kept when a wire it writes is still
// needed, and then both its inputs are; of a kept comparator only the outputs needed are
// made (keep_min, keep_max). The rank taken from a wire is the sorted rank, as the whole
// network leaves it.
template <int P, int LO, int HI>
struct needed_part {
    int first[32] = {}, second[32] = {};
    bool keep_min[32] = {}, keep_max[32] = {};
    int count = 0;
    constexpr needed_part()
    {
        const merge_exchange<P>& net = sorter<P>;
        bool live[9] = {};
        for (int i = 0; i < P; i++) live[i] = LO < 0 || i == LO || i == HI;
        bool kept[32] = {}, low[32] = {}, high[32] = {};
        for (int c = net.count - 1; c >= 0; c--) {
            const int i = net.first[c], j = net.second[c];
            if (!live[i] && !live[j]) continue;
            kept[c] = true;
            low[c] = live[i];
            high[c] = live[j];
            live[i] = live[j] = true;
        }
        for (int c = 0; c < net.count; c++)
            if (kept[c]) {
                first[count] = net.first[c];
                second[count] = net.second[c];
                keep_min[count] = low[c];
                keep_max[count] = high[c];
                count++;
            }
    }
};
template <int P, int LO, int HI>
constexpr needed_part<P, LO, HI> needed{};

// level x 16 of a sample (its whole level, truncated toward zero, times 16), eight at a time.
__attribute__((target("avx2"))) inline __m256i whole_level(__m256i v)
{
    return _mm256_andnot_si256(_mm256_set1_epi32(15), _mm256_add_epi32(v, _mm256_and_si256(_mm256_srai_epi32(v, 31), _mm256_set1_epi32(15))));
}

// The new marker over segments first .. first + count - 1 (list ? list[k] : the k-th of
// the image in row order) into out (eight per segment) and the pixels of each that change
// into bits[k], eight pixels at a time with AVX2 where the segment lies inside: the P
// samples of each window put in order by the merge-exchange network (min and max, exact on
// integers; only the part ranks LO and HI need, or all of it with LO < 0), then min(max(in,
// rank c), rank 1 - c) as level x 16. The marker's samples are ranked as they are, not as
// levels: the whole level never decreases as the sample grows, so the level of the sample
// of rank k is the level of rank k.
template <int P, int LO, int HI>
__attribute__((target("avx2"))) void segments_avx2(const level_segments& g, const segment* list, int per_row, int k0,
                                                   int k1, int* out, unsigned char* bits)
{
    // Everything the loop reads, in locals: the stores below could alias the records.
    constexpr const needed_part<P, LO, HI>& net = needed<P, LO, HI>;
    const level_window& win = g.win;
    const int lo = LO < 0 ? win.rank_lo[P] : LO, hi = LO < 0 ? win.rank_hi[P] : HI;
    const int w = win.w, h = win.h;
    const int *const in = g.in, *const marker = g.marker;
    ptrdiff_t offset[P];
    for (int j = 0; j < P; j++) offset[j] = win.offset[j];
    int y = 0, xs = 0;
    if (!list) {
        y = k0 / per_row;
        xs = k0 - y * per_row;
    }
    for (int k = k0; k < k1; k++) {
        if (list) {
            y = list[k].y;
            xs = list[k].xs;
        } else if (k > k0 && ++xs == per_row) {
            xs = 0;
            y++;
        }
        const int x0 = xs * 8;
        if (y < 1 || y + 1 >= h || x0 < 1 || x0 + 8 > w - 1) {
            bits[k] = (unsigned char)g.one_at_a_time(y, xs, out + (size_t)k * 8);
            continue;
        }
        const size_t at = (size_t)y * w + x0;
        __m256i v[P];
        for (int j = 0; j < P; j++)
            v[j] = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(marker + (ptrdiff_t)at + offset[j]));
#pragma GCC unroll 32
        for (int c = 0; c < net.count; c++) {
            const int i = net.first[c], j = net.second[c];
            const __m256i a = v[i], b = v[j];
            if (net.keep_min[c]) v[i] = _mm256_min_epi32(a, b);
            if (net.keep_max[c]) v[j] = _mm256_max_epi32(a, b);
        }
        // The two ranks picked without indexing the registers by a variable.
        __m256i low = v[0], high = v[0];
        for (int j = 1; j < P; j++) {
            if (j == lo) low = v[j];
            if (j == hi) high = v[j];
        }
        const __m256i sample = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + at));
        const __m256i result = _mm256_min_epi32(_mm256_max_epi32(sample, whole_level(low)), whole_level(high));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + (size_t)k * 8), result);
        const __m256i old = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(marker + at));
        bits[k] = (unsigned char)~_mm256_movemask_ps(_mm256_castsi256_ps(_mm256_cmpeq_epi32(result, old)));
    }
}

// The pixels a segment's change bits name.
inline unsigned pixel_count(unsigned bits)
{
    bits -= (bits >> 1) & 0x55u;
    bits = (bits & 0x33u) + ((bits >> 2) & 0x33u);
    return (bits + (bits >> 4)) & 0x0fu;
}

// Whether the pass that changed `last` (pixel, value before) put back what the pass
// before changed (`before`): the same pixels, each now at its value before that pass.
bool undoes(std::vector<std::pair<size_t, int>>& last, std::vector<std::pair<size_t, int>>& before, const int* marker)
{
    std::sort(last.begin(), last.end());
    std::sort(before.begin(), before.end());
    for (size_t k = 0; k < last.size(); k++)
        if (last[k].first != before[k].first || marker[last[k].first] != before[k].second) return false;
    return true;
}

using segments_form = void (*)(const level_segments&, const segment*, int, int, int, int*, unsigned char*);

// The form for P pixels and ranks lo, hi: the pruned network for the usual pair of ranks
// k and P - 1 - k, the whole one otherwise.
template <int P, int K>
segments_form form_of(int lo, int hi)
{
    if constexpr (K >= 0) {
        if (lo == K && hi == P - 1 - K) return segments_avx2<P, K, P - 1 - K>;
        return form_of<P, K - 1>(lo, hi);
    } else {
        return segments_avx2<P, -1, -1>;
    }
}

segments_form choose_form(const level_window& win, bool avx2)
{
    const int lo = win.rank_lo[win.pixels], hi = win.rank_hi[win.pixels];
    switch (avx2 ? win.pixels : 0) {
    case 1: return form_of<1, 0>(lo, hi);
    case 2: return form_of<2, 0>(lo, hi);
    case 3: return form_of<3, 1>(lo, hi);
    case 4: return form_of<4, 1>(lo, hi);
    case 5: return form_of<5, 2>(lo, hi);
    case 6: return form_of<6, 2>(lo, hi);
    case 7: return form_of<7, 3>(lo, hi);
    case 8: return form_of<8, 3>(lo, hi);
    case 9: return form_of<9, 4>(lo, hi);
    default: return nullptr;
    }
}

void compute_segments(const level_segments& g, segments_form form, const segment* list, int per_row, int k0, int k1,
                      int* out, unsigned char* bits)
{
    if (form) return form(g, list, per_row, k0, k1, out, bits);
    for (int k = k0; k < k1; k++) {
        const int y = list ? list[k].y : k / per_row, xs = list ? list[k].xs : k - y * per_row;
        bits[k] = (unsigned char)g.one_at_a_time(y, xs, out + (size_t)k * 8);
    }
}

}  // namespace

bool self_dual_levelling(int* in, int w, int h, double c, int* marker, int channel_offset, int iterations_total,
                         const filter_params& p)
{
    if (w + h <= 3) return true;
    // rank_2d leaves a plane narrower than its window, or a centile outside [0, 1], as it
    // is: no pass would change the marker.
    if (w < 2 || h < 2 || !(c >= 0 && c <= 1)) return true;
    const size_t n = (size_t)w * h;
    const int most = (w + h) / 4;
    const level_window win(w, h, c, p);
    const segments_form form = choose_form(win, processing_simd.avx2);

    // Each pass is the step marker' = min(max(in, rank c(marker)), rank 1 - c(marker)) over
    // the whole image, every pixel from the marker before the pass. A pixel's new value
    // depends only on the marker in its window, so after the first pass it can differ from
    // the value it has only where a pixel of its window changed in the pass before. A pass
    // recomputes the segments holding such pixels (the changed pixels' window reflected),
    // all of them first, and keeps the others; the new values go in once the pass has read
    // what it needs. Each pass so gives the marker, and the count of changes, of the
    // whole-image pass. While most segments are listed, the pass takes every segment in
    // row order (`every`) without a list.
    const int per_row = (w + 7) / 8, segment_count = per_row * h;
    const level_segments g{win, in, marker};
    std::vector<segment> list;
    bool every = true;
    work_plane<int> values;
    std::vector<unsigned char> bits;                    // per listed segment, its pixels that change
    struct change {
        segment s;
        int k;          // its place among the listed
        unsigned bits;  // its pixels that changed
    };
    std::vector<change> changes;
    // The pass (counted 1 .. 255, then again from 1 with the marks cleared) that last
    // listed a segment: a byte per segment keeps the marks near the cache.
    std::vector<unsigned char> seen(segment_count, 0);
    // The last pass's changes (pixel, value before the pass) when probing or when they are
    // few, and those of the pass before it.
    std::vector<std::pair<size_t, int>> undo, undo_before;
    yield_clock clock;
    const bool probing = p.probes(w, h);
    const auto started = std::chrono::steady_clock::now();
    std::unique_ptr<ui_progress> progress;
    bool finished = true;
    for (int iteration = 0; iteration < most; iteration++) {
        clock.maybe_yield();
        const int listed = every ? segment_count : (int)list.size();
        const segment* listing = every ? nullptr : list.data();
        values.resize((size_t)listed * 8);
        bits.resize(listed);
        over_items(listed, (long long)listed * 8 * win.pixels, [&](int k0, int k1, yield_clock*) {
            compute_segments(g, form, listing, per_row, k0, k1, values.data(), bits.data());
        });
        // The segments that changed, with their place among the listed (segments in row
        // order while every segment is listed).
        size_t count = 0;
        changes.clear();
        for (int k = 0, y = 0, xs = 0; k < listed; k++) {
            const segment s = every ? segment{y, xs} : list[k];
            if (every && ++xs == per_row) xs = 0, y++;
            if (!bits[k]) continue;
            count += pixel_count(bits[k]);
            changes.push_back({s, k, bits[k]});
        }
        const bool few = count <= 4096;
        undo.clear();
        if (probing || few)
            for (const change& d : changes) {
                const size_t row = (size_t)d.s.y * w;
                for (int x = d.s.xs * 8, j = 0; x < std::min(d.s.xs * 8 + 8, w); x++, j++)
                    if (d.bits >> j & 1) undo.emplace_back(row + x, marker[row + x]);
            }
        // The new values go in once every listed segment has read the marker (the segments
        // are distinct, so bands of the changes write apart).
        over_items((int)changes.size(), (long long)changes.size() * 8, [&](int k0, int k1, yield_clock*) {
            for (int k = k0; k < k1; k++) {
                const change& d = changes[k];
                const int x0 = d.s.xs * 8, x1 = std::min(x0 + 8, w);
                const int* v = values.data() + (size_t)d.k * 8 - x0;
                int* row = marker + (size_t)d.s.y * w;
                for (int x = x0; x < x1; x++) row[x] = v[x];
            }
        });
        if (count == 0) break;
        // A pass that undid the one before brought the marker back to where it was two
        // passes ago: from there it takes the same two values in turn, so the passes left
        // end on this marker when they are even in number, on the last one when odd (and
        // the last pass's changes are this pass's, or their reverse).
        if (few && undo.size() == undo_before.size() && undoes(undo, undo_before, marker)) {
            if ((most - 1 - iteration) % 2 == 1)
                for (auto& [i, old] : undo) std::swap(marker[i], old);
            break;
        }
        if (few)
            undo_before = undo;
        else
            undo_before.clear();
        // The next pass lists the segments of the pixels whose window holds a changed pixel:
        // for a window offset (dx, dy), those of row y - dy, the segment before (after) too
        // when its first (last) pixel changed and dx is 1 (-1).
        list.clear();
        // Most segments would be listed: list them all, without the bookkeeping.
        every = changes.size() * 3 > (size_t)segment_count;
        if (!every) {
            const unsigned char mark = (unsigned char)(iteration % 255 + 1);
            if (mark == 1) std::fill(seen.begin(), seen.end(), (unsigned char)0);
            auto take = [&](int y, int xs) {
                unsigned char& last = seen[(size_t)y * per_row + xs];
                if (last == mark) return;
                last = mark;
                list.push_back({y, xs});
            };
            for (const change& d : changes) {
                const int y = d.s.y, xs = d.s.xs;
                for (int k = 0; k < win.pixels; k++) {
                    const int yy = y - win.dy[k];
                    if (yy < 0 || yy >= h) continue;
                    take(yy, xs);
                    if (win.dx[k] == 1 && (d.bits & 1) && xs > 0) take(yy, xs - 1);
                    if (win.dx[k] == -1 && (d.bits & 0x80) && xs + 1 < per_row) take(yy, xs + 1);
                }
            }
        }
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        if (!progress && seconds > 2.001) {
            progress = std::make_unique<ui_progress>("Applying self-dual levelling",
                                                     wxString::Format("Change was %7.3lf%% on iteration %i", 100.0, 0),
                                                     std::max(iterations_total, 1), true);
        }
        if (progress &&
            !progress->update(std::min(iteration + 1 + channel_offset, iterations_total),
                              wxString::Format("Change was %7.3lf%% on iteration %i", 100.0 * count / n, iteration + 1))) {
            finished = false;
            break;
        }
    }
    if (probing) {
        // The probe shows the window of the last pass, taken from the marker that pass read.
        std::vector<int> before(marker, marker + n), lo(n), hi(n);
        for (const auto& [i, old] : undo) before[i] = old;
        rank_2d(before.data(), w, h, 1, c, lo.data(), 1 - c, hi.data(), true, p);
    }
    return finished;
}
