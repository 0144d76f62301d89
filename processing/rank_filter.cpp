// Rank filters by a running histogram of levels or a sorted window, and the mean.
#include "processing/rank_filter.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <type_traits>
#include <vector>

#include "core/work_plane.h"
#include "processing/masks.h"
#include "processing/rank_bits.h"
#include "processing/rank_select.h"
#include "processing/row_bands.h"

namespace {

inline int level_of(int v) { return v / 16; }

// A running histogram of whole levels lo .. hi with coarse bins of 16 levels. Each of
// the two trackers remembers a coarse bin and the count below it, so the next rank query
// starts where the last one ended.
template <int trackers_used>
class level_histogram {
public:
    level_histogram(int lo, int hi) : lo(lo), fine((size_t)(hi - lo) + 1, 0), coarse(((size_t)(hi - lo) >> 4) + 1, 0) {}
    void add(int level)
    {
        const int i = level - lo;
        fine[i]++;
        coarse[i >> 4]++;
        // Branch-free: with noisy data the comparison is a coin toss.
        trackers[0].below += (i >> 4) < trackers[0].bin;
        if (trackers_used > 1) trackers[1].below += (i >> 4) < trackers[1].bin;
        n++;
    }
    void remove(int level)
    {
        const int i = level - lo;
        fine[i]--;
        coarse[i >> 4]--;
        trackers[0].below -= (i >> 4) < trackers[0].bin;
        if (trackers_used > 1) trackers[1].below -= (i >> 4) < trackers[1].bin;
        n--;
    }
    int size() const { return n; }
    // The level of rank k (0-based) among the samples held.
    int kth(int k, int which)
    {
        tracker& t = trackers[which];
        const int last = (int)coarse.size() - 1;
        while (t.bin > 0 && t.below > k) t.below -= coarse[--t.bin];
        while (t.bin < last && t.below + coarse[t.bin] <= k) t.below += coarse[t.bin++];
        int acc = t.below;
        for (size_t i = (size_t)t.bin << 4;; i++) {
            acc += fine[i];
            if (acc > k) return lo + (int)i;
        }
    }

private:
    struct tracker {
        int bin = 0, below = 0;
    };
    int lo, n = 0;
    std::vector<unsigned short> fine;  // a window never holds 65536 samples (r < 128)
    std::vector<int> coarse;
    tracker trackers[2];
};

// A sorted window of levels.
class sorted_window {
public:
    void add(int level) { v.insert(std::upper_bound(v.begin(), v.end(), level), level); }
    void remove(int level) { v.erase(std::lower_bound(v.begin(), v.end(), level)); }
    int size() const { return (int)v.size(); }
    int kth(int k, int) const { return v[k]; }

private:
    std::vector<int> v;
};

// One rank pass over rows y0..y1: at every pixel the levels of ranks ps[j] among the
// samples of the mask (clipped to the image) go to outs[j] as level x 16.
template <class Bag>
void rank_rows(const int* in, int w, int h, const mask_runs& m, int y0, int y1, const double* ps,
               int np, int* const* outs, Bag bag, yield_clock* clock)
{
    const int r = m.r;
    // The rank of each centile for every sample count the clipped window can hold.
    std::vector<int> ranks[2];
    for (int j = 0; j < np; j++)
        for (int n = 0; n <= m.pixels; n++) ranks[j].push_back(rank_index(ps[j], n));
    struct run {
        const int* row;
        int a, b;
    };
    std::vector<run> runs;
    int min_a = 0, max_b = 0;
    for (int dy = -r; dy <= r; dy++)
        if (m.row_first[dy + r] <= m.row_last[dy + r]) {
            min_a = std::min(min_a, m.row_first[dy + r]);
            max_b = std::max(max_b, m.row_last[dy + r]);
        }
    // Columns where every leaving and entering sample lies inside the image.
    const int inner_first = std::max(1, 1 - min_a), inner_last = w - 1 - max_b;
    for (int y = y0; y < y1; y++) {
        runs.clear();
        for (int dy = -r; dy <= r; dy++) {
            const int yy = y + dy, a = m.row_first[dy + r], b = m.row_last[dy + r];
            if (yy >= 0 && yy < h && a <= b) runs.push_back({in + (size_t)yy * w, a, b});
        }
        for (const run& u : runs)
            for (int x = std::max(0, u.a); x <= std::min(w - 1, u.b); x++) bag.add(level_of(u.row[x]));
        int* o0 = outs[0] + (size_t)y * w;
        int* o1 = np > 1 ? outs[1] + (size_t)y * w : nullptr;
        auto emit = [&](int x) {
            const int n = bag.size();
            o0[x] = bag.kth(ranks[0][n], 0) * 16;
            if (o1) o1[x] = bag.kth(ranks[1][n], 1) * 16;
        };
        emit(0);
        for (int x = 1; x < w; x++) {
            if (x >= inner_first && x <= inner_last) {
                for (const run& u : runs) {
                    bag.remove(level_of(u.row[x - 1 + u.a]));
                    bag.add(level_of(u.row[x + u.b]));
                }
            } else {
                for (const run& u : runs) {
                    const int leaving = x - 1 + u.a, entering = x + u.b;
                    if (leaving >= 0 && leaving < w) bag.remove(level_of(u.row[leaving]));
                    if (entering >= 0 && entering < w) bag.add(level_of(u.row[entering]));
                }
            }
            emit(x);
        }
        // Empty the window of the last column, ready for the next row.
        for (const run& u : runs)
            for (int x = std::max(0, w - 1 + u.a); x <= std::min(w - 1, w - 1 + u.b); x++)
                bag.remove(level_of(u.row[x]));
        if (clock) clock->maybe_yield();
    }
}

// The lowest and highest level: those of the lowest and highest sample, as whole levels
// keep the order of the samples (min / max passes the compiler vectorises, over the bands).
void level_range(const int* in, size_t count, int& lo, int& hi)
{
    std::mutex merge;
    int least = INT_MAX, most = INT_MIN;
    const int parts = (int)std::min<size_t>(count, 64);
    over_row_bands(parts, (long long)count, [&](int p0, int p1, yield_clock*) {
        const int* a = in + count * p0 / parts;
        const int* const end = in + count * p1 / parts;
        int band_least = INT_MAX, band_most = INT_MIN;
        for (; a < end; a++) {
            band_least = std::min(band_least, *a);
            band_most = std::max(band_most, *a);
        }
        std::lock_guard<std::mutex> lock(merge);
        least = std::min(least, band_least);
        most = std::max(most, band_most);
    });
    lo = level_of(least);
    hi = level_of(most);
}

void rank_pass(const int* in, int w, int h, const mask_runs& m, const double* ps, int np, int* const* outs,
               bool by_histogram)
{
    int lo, hi;
    level_range(in, (size_t)w * h, lo, hi);
    // The bitwise search over many pixels at once where AVX2 runs and the levels allow;
    // it selects the same levels as the histogram.
    {
        std::vector<int> ranks[2];
        for (int j = 0; j < np; j++)
            for (int n = 0; n <= m.pixels; n++) ranks[j].push_back(rank_index(ps[j], n));
        if (rank_pass_bits(in, w, h, m, ranks, np, outs, lo, hi)) return;
    }
    // A histogram wider than a few million levels costs more than it saves.
    const bool histogram = by_histogram && (long long)hi - lo < (1 << 22) && m.r < 128;
    over_row_bands(h, (long long)w * h * m.pixels, [&](int y0, int y1, yield_clock* clock) {
        if (histogram && np == 1)
            rank_rows(in, w, h, m, y0, y1, ps, np, outs, level_histogram<1>(lo, hi), clock);
        else if (histogram)
            rank_rows(in, w, h, m, y0, y1, ps, np, outs, level_histogram<2>(lo, hi), clock);
        else
            rank_rows(in, w, h, m, y0, y1, ps, np, outs, sorted_window(), clock);
    });
}

// The probe display: the samples under the mask at the probe pixel (the one of rank
// `level` flagged by + 160000), -160000 outside the mask or the image.
void record_probe(const int* in, int w, int h, const mask_runs& m, int result, const filter_params& p)
{
    const int px = p.probe_x, py = p.probe_y, r = m.r, d = 2 * r + 1;
    if (!p.probes(w, h)) return;
    probe_window& probe = *p.probe_out;
    probe.cells.assign((size_t)d * d, 0);
    probe.size = d;
    for (int dy = -r; dy <= r; dy++)
        for (int dx = -r; dx <= r; dx++) {
            int& cell = probe.cells[(size_t)(dy + r) * d + dx + r];
            const int x = px + dx, y = py + dy;
            const bool inside = dx >= m.row_first[dy + r] && dx <= m.row_last[dy + r] && x >= 0 &&
                                y >= 0 && x < w && y < h;
            if (!inside) {
                cell = -160000;
                continue;
            }
            const int v = in[(size_t)y * w + x];
            cell = v >= 0 && level_of(v) == level_of(result) ? v + 160000 : v;
        }
}

void copy_plane(const int* in, int w, int h, int* out)
{
    if (out && out != in) std::copy(in, in + (size_t)w * h, out);
}

}  // namespace

void rank_2d(int* in, int w, int h, int r, double c1, int* out1, double c2, int* out2, bool rank_only,
             const filter_params& p)
{
    if (!in || w < 1 || h < 1) return;
    // Too large a mask, or a centile outside [0, 1]: the outputs stay defined as copies.
    if (r < 0 || r > w / 2 || r > h / 2 || !(c1 >= 0 && c1 <= 1) || !(c2 >= 0 && c2 <= 1)) {
        copy_plane(in, w, h, out1);
        copy_plane(in, w, h, out2);
        return;
    }
    const mask_runs m = filter_mask(p.mask, r, p.angle);
    const size_t count = (size_t)w * h;
    const int probe = p.probe_mode;
    const bool by_histogram = p.rank_histogram;

    if (rank_only || (c1 == 0.5 && !out2)) {
        // One pass: plain ranks (or the median) straight into the outputs.
        std::vector<int> spare;
        int* o1 = out1;
        if (!o1) {
            spare.resize(count);
            o1 = spare.data();
        }
        std::vector<int> spare2;
        int* o2 = out2;
        if (!o2 && rank_only) {
            spare2.resize(count);
            o2 = spare2.data();
        }
        const double ps[2] = {c1, c2};
        int* outs[2] = {o1, o2};
        rank_pass(in, w, h, m, ps, rank_only ? 2 : 1, outs, by_histogram);
        if (p.probes(w, h))
            record_probe(in, w, h, m, (probe == 2 && rank_only ? o2 : o1)[(size_t)p.probe_y * w + p.probe_x], p);
        return;
    }

    // Pass 1: ranks c1 and c2 of the input; passes 2 and 3: ranks 1 - c1 and 1 - c2 of those.
    work_plane<int> first(count), second(out2 ? count : 0);
    {
        const double ps[2] = {c1, c2};
        int* outs[2] = {first.data(), second.data()};
        rank_pass(in, w, h, m, ps, out2 ? 2 : 1, outs, by_histogram);
    }
    const bool probe_here = p.probes(w, h);
    const size_t at = probe_here ? (size_t)p.probe_y * w + p.probe_x : 0;
    if (probe_here && probe == 1) record_probe(in, w, h, m, first[at], p);
    if (out1) {
        const double q = 1 - c1;
        int* outs[1] = {out1};
        rank_pass(first.data(), w, h, m, &q, 1, outs, by_histogram);
        if (probe_here && probe == 2) record_probe(first.data(), w, h, m, out1[at], p);
    }
    if (out2) {
        const double q = 1 - c2;
        int* outs[1] = {out2};
        rank_pass(second.data(), w, h, m, &q, 1, outs, by_histogram);
    }
}

void varied_rank_2d(int* in, int w, int h, int r, double c1, int* out1, double c2, int* out2,
                    const int* mask1, const int* mask2, const mask_family& family, const filter_params& p)
{
    const int count = family.count();
    if (!in || w < 1 || h < 1) return;
    if (r < 0 || r > w / 2 || r > h / 2 || !(c1 >= 0 && c1 <= 1) || !(c2 >= 0 && c2 <= 1) ||
        !mask1 || count < 1) {
        copy_plane(in, w, h, out1);
        copy_plane(in, w, h, out2);
        return;
    }
    std::vector<mask_runs> masks;
    for (int k = 0; k < count; k++) masks.push_back(family_mask(family, k, r, p.mask, p.angle));
    // The thinnest shape's mean pixel count and the circle's area steer the rank index.
    double thin = 0.0;
    for (int o = 0; o < family.orientations[0]; o++) thin += masks[family.first[0] + o].pixels;
    thin /= family.orientations[0];
    const double circle_area = (int)(M_PI * (r + 0.5) * (r + 0.5) + 0.5);
    const size_t n_pixels = (size_t)w * h;

    // One rank per pixel over that pixel's mask; the rank index depends only on the mask
    // and the count of its pixels inside the image, so it is looked up.
    const int most = (2 * r + 1) * (2 * r + 1);
    auto ranks_for = [&](double q) {
        std::vector<int> rank_at((size_t)count * (most + 1));
        for (int k = 0; k < count; k++)
            for (int n = 1; n <= most; n++)
                rank_at[(size_t)k * (most + 1) + n] = calculate_centile(family, q, k, n, circle_area, thin, 2 * r + 1, false, false, false);
        return rank_at;
    };
    auto pass = [&](const int* src, const int* mask_of, double q, int* dst) {
        const std::vector<int> rank_at = ranks_for(q);
        int lo, hi;
        level_range(src, n_pixels, lo, hi);
        int* dsts[1] = {dst};
        if (varied_pass_bits(src, w, h, masks, mask_of, &rank_at, most, 1, dsts, lo, hi)) return;
        over_row_bands(h, (long long)n_pixels * masks[0].pixels, [&](int y0, int y1, yield_clock* clock) {
            std::vector<int> levels(most);
            for (int y = y0; y < y1; y++) {
                for (int x = 0; x < w; x++) {
                    const int k = std::clamp(mask_of[(size_t)y * w + x], 0, count - 1);
                    const mask_runs& m = masks[k];
                    int n = 0;
                    for (int dy = -r; dy <= r; dy++) {
                        const int yy = y + dy;
                        if (yy < 0 || yy >= h) continue;
                        const int a = std::max(0, x + m.row_first[dy + r]), b = std::min(w - 1, x + m.row_last[dy + r]);
                        for (int xx = a; xx <= b; xx++) levels[n++] = level_of(src[(size_t)yy * w + xx]);
                    }
                    dst[(size_t)y * w + x] =
                        n ? select_rank(levels.data(), n, rank_at[(size_t)k * (most + 1) + n]) * 16 : src[(size_t)y * w + x];
                }
                if (clock) clock->maybe_yield();
            }
        });
    };
    if (c1 == 0.5 && !out2) {
        // A median: one pass at the middle rank, as rank_2d takes it.
        if (out1) pass(in, mask1, c1, out1);
        return;
    }
    std::vector<int> work(n_pixels);
    if (out1 && out2 && (!mask2 || mask2 == mask1)) {
        // Both first passes share the input and the masks: one sweep for the two ranks
        // where the bitwise search runs.
        std::vector<int> work2(n_pixels);
        const std::vector<int> rank_at[2] = {ranks_for(c1), ranks_for(c2)};
        int lo, hi;
        level_range(in, n_pixels, lo, hi);
        int* dsts[2] = {work.data(), work2.data()};
        if (varied_pass_bits(in, w, h, masks, mask1, rank_at, most, 2, dsts, lo, hi)) {
            pass(work.data(), mask1, 1 - c1, out1);
            pass(work2.data(), mask1, 1 - c2, out2);
            return;
        }
    }
    if (out1) {
        pass(in, mask1, c1, work.data());
        pass(work.data(), mask1, 1 - c1, out1);
    }
    if (out2) {
        const int* m2 = mask2 ? mask2 : mask1;
        pass(in, m2, c2, work.data());
        pass(work.data(), m2, 1 - c2, out2);
    }
}

namespace {

// Window sums by prefix sums along the rows: row yy's run [x + a, x + b] sums to
// P[x + b + 1] - P[x + a], P the row's prefix sums, which stay constant left of the image
// (0) and right of it (the row's total), so a run reaching past the border is clipped for
// free and every row of the mask is one loop without a branch. The sums wrap in the
// unsigned type U; the window's own sum fits in the signed type of the same width (the
// caller checks), so the wrapped difference is exact.
__attribute__((target_clones("avx2", "default"))) void add_run(uint32_t* acc, const uint32_t* after,
                                                                const uint32_t* first, int w)
{
    for (int x = 0; x < w; x++) acc[x] += after[x] - first[x];
}

void add_run(uint64_t* acc, const uint64_t* after, const uint64_t* first, int w)
{
    for (int x = 0; x < w; x++) acc[x] += after[x] - first[x];
}

// out = sum / n rounded half away from zero. For sums within 32 bits the quotient goes
// through double: the numerator and denominator are exact, and a quotient that is not a
// whole number lies at least 1 / (2 n) from one while the rounding error of the division
// is below 2^-22, so the floor is the integer division's.
__attribute__((target_clones("avx2", "default"))) void round_means(const uint32_t* acc, const int* n, int* out, int w)
{
    for (int x = 0; x < w; x++) {
        const int s = (int)acc[x];
        const double q = std::floor((2.0 * std::fabs((double)s) + n[x]) / (2.0 * n[x]));
        out[x] = s >= 0 ? (int)q : -(int)q;
    }
}

// The same for 64-bit sums whose means stay below 2^50 / n (the caller checks): the
// numerator stays below 2^53, exact in double, and the division's error below 1 / (2 n).
__attribute__((target_clones("avx2", "default"))) void round_means(const uint64_t* acc, const int* n, long long* out,
                                                                    int w, bool)
{
    for (int x = 0; x < w; x++) {
        const long long s = (long long)acc[x];
        const double q = std::floor((2.0 * std::fabs((double)s) + n[x]) / (2.0 * n[x]));
        out[x] = s >= 0 ? (long long)q : -(long long)q;
    }
}

template <typename T>
void round_means(const uint64_t* acc, const int* n, T* out, int w)
{
    for (int x = 0; x < w; x++) {
        const long long sum = (long long)acc[x];
        out[x] = (T)(sum >= 0 ? (2 * sum + n[x]) / (2LL * n[x]) : -((-2 * sum + n[x]) / (2LL * n[x])));
    }
}

// The mean over mask m at every pixel, border-clipped, rounded half away from zero.
template <typename T, typename U>
void mean_rows(const T* in, int w, int h, const mask_runs& m, T* out, bool via_double = false)
{
    const int r = m.r, margin = r + 1, pw = w + 2 * margin + 1;
    // Prefix sums of every row, index i in -margin .. w + margin at [margin + i].
    std::vector<U> prefix((size_t)h * pw);
    over_row_bands(h, (long long)w * h, [&](int y0, int y1, yield_clock*) {
        for (int y = y0; y < y1; y++) {
            U* p = prefix.data() + (size_t)y * pw + margin;
            const T* row = in + (size_t)y * w;
            std::fill(p - margin, p + 1, U(0));
            U s = 0;
            for (int x = 0; x < w; x++) p[x + 1] = s += (U)row[x];
            std::fill(p + w + 1, p + w + margin + 1, s);
        }
    });
    // The samples inside the image at each column of a row that has all of the mask's rows.
    auto clipped = [w](int x, int a, int b) { return std::clamp(x + b + 1, 0, w) - std::clamp(x + a, 0, w); };
    std::vector<int> full(w, 0);
    for (int dy = -r; dy <= r; dy++)
        if (m.row_first[dy + r] <= m.row_last[dy + r])
            for (int x = 0; x < w; x++) full[x] += clipped(x, m.row_first[dy + r], m.row_last[dy + r]);
    over_row_bands(h, (long long)w * h * (2 * r + 1), [&](int y0, int y1, yield_clock* clock) {
        std::vector<U> acc(w);
        std::vector<int> count(w);
        for (int y = y0; y < y1; y++) {
            std::fill(acc.begin(), acc.end(), U(0));
            const bool inner = y >= r && y < h - r;
            if (!inner) std::fill(count.begin(), count.end(), 0);
            for (int dy = -r; dy <= r; dy++) {
                const int yy = y + dy, a = m.row_first[dy + r], b = m.row_last[dy + r];
                if (yy < 0 || yy >= h || a > b) continue;
                const U* p = prefix.data() + (size_t)yy * pw + margin;
                add_run(acc.data(), p + b + 1, p + a, w);
                if (!inner)
                    for (int x = 0; x < w; x++) count[x] += clipped(x, a, b);
            }
            const int* n = inner ? full.data() : count.data();
            if constexpr (std::is_same_v<T, long long>) {
                if (via_double)
                    round_means(acc.data(), n, out + (size_t)y * w, w, true);
                else
                    round_means(acc.data(), n, out + (size_t)y * w, w);
            } else {
                round_means(acc.data(), n, out + (size_t)y * w, w);
            }
            if (clock) clock->maybe_yield();
        }
    });
}

// Whether every window sum of the int plane fits in 32 bits.
bool sums_fit_32(const int* in, size_t count, int pixels)
{
    long long most = 0;
    for (size_t i = 0; i < count; i++) most = std::max(most, std::llabs((long long)in[i]));
    return most * pixels <= INT_MAX;
}

void mean_plane(const int* in, int w, int h, const mask_runs& m, int* out)
{
    if (sums_fit_32(in, (size_t)w * h, m.pixels))
        mean_rows<int, uint32_t>(in, w, h, m, out);
    else
        mean_rows<int, uint64_t>(in, w, h, m, out);
}

}  // namespace

void mean_2d(int* in, int w, int h, int r, int* out, const filter_params& p)
{
    if (!in || !out || w < 1 || h < 1) return;
    if (r < 0 || r > w / 2 || r > h / 2) {
        copy_plane(in, w, h, out);
        return;
    }
    const mask_runs m = filter_mask(p.mask, r, p.angle);
    if (in == out) {
        std::vector<int> copy(in, in + (size_t)w * h);
        mean_plane(copy.data(), w, h, m, out);
    } else {
        mean_plane(in, w, h, m, out);
    }
    if (p.probe_mode && p.probe_out) {
        // A picture of the mask: data_max inside, empty outside.
        const int d = 2 * r + 1;
        p.probe_out->cells.assign((size_t)d * d, 0);
        p.probe_out->size = d;
        for (int dy = -r; dy <= r; dy++)
            for (int dx = -r; dx <= r; dx++)
                p.probe_out->cells[(size_t)(dy + r) * d + dx + r] =
                    dx >= m.row_first[dy + r] && dx <= m.row_last[dy + r] ? p.data_max * 16 : -160000;
    }
}

void mean_2d_wide(const long long* in, int w, int h, int r, long long* out)
{
    if (!in || !out || w < 1 || h < 1) return;
    if (r < 0 || r > w / 2 || r > h / 2) {
        std::copy(in, in + (size_t)w * h, out);
        return;
    }
    const mask_runs m = make_mask(0, r, 0, r + 0.5, r + 0.5);
    // Means below 2^50 / n round exactly through double (see round_means).
    long long most = 0;
    for (size_t i = 0; i < (size_t)w * h; i++)
        most = std::max(most, in[i] == LLONG_MIN ? LLONG_MAX : std::llabs(in[i]));
    const bool via_double = most < (1LL << 50) / m.pixels;
    mean_rows<long long, uint64_t>(in, w, h, m, out, via_double);
}

int qsort_int_compare(const void* a, const void* b)
{
    const int x = *(const int*)a, y = *(const int*)b;
    return x > y ? 1 : x < y ? -1 : 0;
}

int qsort_compare(const void* a, const void* b)
{
    const double x = *(const double*)a, y = *(const double*)b;
    return x > y ? 1 : x < y ? -1 : 0;
}

int qsort_svmf_compare(const void* a, const void* b)
{
    const int* x = (const int*)a;
    const int* y = (const int*)b;
    if (x[0] != y[0]) return x[0] > y[0] ? 1 : -1;
    return x[1] > y[1] ? 1 : x[1] < y[1] ? -1 : 0;
}

int qsort_dsvmf_compare(const void* a, const void* b)
{
    struct record {
        double d;
        int i;
    };
    const record* x = (const record*)a;
    const record* y = (const record*)b;
    if (x->d != y->d) return x->d > y->d ? 1 : -1;
    return x->i > y->i ? 1 : x->i < y->i ? -1 : 0;
}
