// OCCO and self-dual levelling.
#include "processing/levelling.h"

#include <algorithm>
#include <chrono>
#include <immintrin.h>
#include <memory>
#include <vector>

#include "core/cpu_features.h"
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
    std::vector<int> O(n), C(n), CO(n), OC(n);
    if (p.mask == MASK_LOCAL && guide) {
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
    } else if (p.mask == MASK_VARYING && family && mask_of_pixel) {
        const int* m = mask_of_pixel;
        varied_rank_2d(in, w, h, r, c, O.data(), 1 - c, C.data(), m, m, *family, p);
        varied_rank_2d(O.data(), w, h, r, 1 - c, CO.data(), 0, nullptr, m, m, *family, p);
        varied_rank_2d(C.data(), w, h, r, c, OC.data(), 0, nullptr, m, m, *family, p);
    } else {
        rank_2d(in, w, h, r, c, O.data(), 1 - c, C.data(), false, p);
        rank_2d(O.data(), w, h, r, 1 - c, CO.data(), 0, nullptr, false, p);
        rank_2d(C.data(), w, h, r, c, OC.data(), 0, nullptr, false, p);
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
// segment s covers row s / per_row, columns 8 (s % per_row) .. + 7 (those inside the image).
struct level_segments {
    const level_window& win;
    const int* in;
    const int* marker;
    const int* level;  // the marker's whole levels (marker / 16), kept alongside it
    int per_row;

    // The new marker over segment s into out[0 .. 7], one pixel at a time; returns the
    // pixels that change (bit j for column x0 + j).
    unsigned one_at_a_time(int s, int* out) const
    {
        const int y = s / per_row, x0 = (s - y * per_row) * 8, x1 = std::min(x0 + 8, win.w);
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

// The new marker over the listed segments list[k0 .. k1 - 1] into out (eight per segment)
// and the pixels of each that change into bits[k], eight pixels at a time with AVX2 where the segment lies inside: the P levels of each
// window sorted by the merge-exchange network (min and max, exact on integers),
// then min(max(in, rank c), rank 1 - c) as level x 16.
template <int P>
__attribute__((target("avx2"))) void segments_avx2(const level_segments& g, const int* list, int k0, int k1, int* out,
                                                   unsigned char* bits)
{
    // Everything the loop reads, in locals: the stores below could alias the records.
    const level_window& win = g.win;
    const int lo = win.rank_lo[P], hi = win.rank_hi[P];
    const int w = win.w, h = win.h, per_row = g.per_row;
    const int *const level = g.level, *const in = g.in, *const marker = g.marker;
    ptrdiff_t offset[P];
    for (int j = 0; j < P; j++) offset[j] = win.offset[j];
    for (int k = k0; k < k1; k++) {
        const int s = list[k], y = s / per_row, x0 = (s - y * per_row) * 8;
        if (y < 1 || y + 1 >= h || x0 < 1 || x0 + 8 > w - 1) {
            bits[k] = (unsigned char)g.one_at_a_time(s, out + (size_t)k * 8);
            continue;
        }
        const size_t at = (size_t)y * w + x0;
        __m256i v[P];
        for (int j = 0; j < P; j++)
            v[j] = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(level + (ptrdiff_t)at + offset[j]));
#pragma GCC unroll 32
        for (int c = 0; c < sorter<P>.count; c++) {
            const int i = sorter<P>.first[c], j = sorter<P>.second[c];
            const __m256i a = v[i], b = v[j];
            v[i] = _mm256_min_epi32(a, b);
            v[j] = _mm256_max_epi32(a, b);
        }
        // The two ranks picked without indexing the registers by a variable.
        __m256i low = v[0], high = v[0];
        for (int j = 1; j < P; j++) {
            if (j == lo) low = v[j];
            if (j == hi) high = v[j];
        }
        const __m256i sample = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + at));
        const __m256i result =
            _mm256_min_epi32(_mm256_max_epi32(sample, _mm256_slli_epi32(low, 4)), _mm256_slli_epi32(high, 4));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + (size_t)k * 8), result);
        const __m256i old = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(marker + at));
        bits[k] = (unsigned char)~_mm256_movemask_ps(_mm256_castsi256_ps(_mm256_cmpeq_epi32(result, old)));
    }
}

void compute_segments(const level_segments& g, bool avx2, const int* list, int k0, int k1, int* out,
                      unsigned char* bits)
{
    switch (avx2 ? g.win.pixels : 0) {
    case 1: return segments_avx2<1>(g, list, k0, k1, out, bits);
    case 2: return segments_avx2<2>(g, list, k0, k1, out, bits);
    case 3: return segments_avx2<3>(g, list, k0, k1, out, bits);
    case 4: return segments_avx2<4>(g, list, k0, k1, out, bits);
    case 5: return segments_avx2<5>(g, list, k0, k1, out, bits);
    case 6: return segments_avx2<6>(g, list, k0, k1, out, bits);
    case 7: return segments_avx2<7>(g, list, k0, k1, out, bits);
    case 8: return segments_avx2<8>(g, list, k0, k1, out, bits);
    case 9: return segments_avx2<9>(g, list, k0, k1, out, bits);
    default:
        for (int k = k0; k < k1; k++) bits[k] = (unsigned char)g.one_at_a_time(list[k], out + (size_t)k * 8);
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
    const bool avx2 = processing_simd.avx2;

    // Each pass is the step marker' = min(max(in, rank c(marker)), rank 1 - c(marker)) over
    // the whole image, every pixel from the marker before the pass. A pixel's new value
    // depends only on the marker in its window, so after the first pass it can differ from
    // the value it has only where a pixel of its window changed in the pass before. A pass
    // recomputes the segments holding such pixels (the changed pixels' window reflected),
    // all of them first, and keeps the others; the new values go in once the pass has read
    // what it needs. Each pass so gives the marker, and the count of changes, of the
    // whole-image pass.
    std::vector<int> level(n);
    for (size_t i = 0; i < n; i++) level[i] = marker[i] / 16;
    const int per_row = (w + 7) / 8, segment_count = per_row * h;
    const level_segments g{win, in, marker, level.data(), per_row};
    std::vector<int> list(segment_count), values;
    std::vector<unsigned char> bits;                // per listed segment, its pixels that change
    std::vector<std::pair<int, unsigned>> changes;  // the segments that changed, and their pixels
    for (int s = 0; s < segment_count; s++) list[s] = s;
    std::vector<unsigned> seen(segment_count, 0u);  // the pass that last listed a segment
    std::vector<std::pair<size_t, int>> undo;       // the last pass's changes: pixel, old value
    yield_clock clock;
    const bool probing = p.probes(w, h);
    const auto started = std::chrono::steady_clock::now();
    std::unique_ptr<ui_progress> progress;
    bool finished = true;
    for (int iteration = 0; iteration < most; iteration++) {
        clock.maybe_yield();
        const int listed = (int)list.size();
        values.resize((size_t)listed * 8);
        bits.resize(listed);
        over_items(listed, (long long)listed * 8 * win.pixels, [&](int k0, int k1, yield_clock*) {
            compute_segments(g, avx2, list.data(), k0, k1, values.data(), bits.data());
        });
        // The new values go in once every listed segment has read the marker (the
        // segments listed are distinct, so bands of the list write apart).
        auto segment_at = [&](int k, size_t& row, int& x0, int& x1) {
            const int s = list[k], y = s / per_row;
            row = (size_t)y * w;
            x0 = (s - y * per_row) * 8;
            x1 = std::min(x0 + 8, w);
        };
        undo.clear();
        if (probing)
            for (int k = 0; k < listed; k++) {
                size_t row;
                int x0, x1;
                segment_at(k, row, x0, x1);
                for (int x = x0; x < x1; x++)
                    if (bits[k] >> (x - x0) & 1) undo.emplace_back(row + x, marker[row + x]);
            }
        over_items(listed, (long long)listed * 8, [&](int k0, int k1, yield_clock*) {
            for (int k = k0; k < k1; k++) {
                if (!bits[k]) continue;
                size_t row;
                int x0, x1;
                segment_at(k, row, x0, x1);
                const int* v = values.data() + (size_t)k * 8 - x0;
                for (int x = x0; x < x1; x++) {
                    marker[row + x] = v[x];
                    level[row + x] = v[x] / 16;
                }
            }
        });
        size_t count = 0;
        changes.clear();
        for (int k = 0; k < listed; k++)
            if (bits[k]) {
                count += __builtin_popcount(bits[k]);
                changes.emplace_back(list[k], bits[k]);
            }
        if (count == 0) break;
        // The next pass lists the segments of the pixels whose window holds a changed pixel:
        // for a window offset (dx, dy), those of row y - dy, the segment before (after) too
        // when its first (last) pixel changed and dx is 1 (-1).
        list.clear();
        if (changes.size() * 3 > (size_t)segment_count) {
            // Most segments would be listed: list them all, without the bookkeeping.
            for (int s = 0; s < segment_count; s++) list.push_back(s);
        } else {
            const unsigned mark = (unsigned)iteration + 1;
            auto take = [&](int s) {
                if (seen[s] == mark) return;
                seen[s] = mark;
                list.push_back(s);
            };
            for (const auto& [s, b] : changes) {
                const int y = s / per_row, xs = s - y * per_row;
                for (int k = 0; k < win.pixels; k++) {
                    const int yy = y - win.dy[k];
                    if (yy < 0 || yy >= h) continue;
                    take(yy * per_row + xs);
                    if (win.dx[k] == 1 && (b & 1) && xs > 0) take(yy * per_row + xs - 1);
                    if (win.dx[k] == -1 && (b & 0x80) && xs + 1 < per_row) take(yy * per_row + xs + 1);
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
