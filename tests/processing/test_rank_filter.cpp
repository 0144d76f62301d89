// Masks and rank filters against masks drawn and ranks taken here by brute force.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <random>
#include <vector>

#include "core/cpu_features.h"
#include "processing/filter_dispatch.h"
#include "processing/filter_entries.h"
#include "processing/masks.h"
#include "processing/rank_filter.h"
#include "pipeline_fixture.h"

namespace {

// Whether offset (dx, dy) lies in mask `kind` of radius r at angle theta, from the
// shapes' definitions.
bool in_mask(int kind, int r, double theta, int dx, int dy)
{
    const double a = r + 0.5, c = std::cos(theta), s = std::sin(theta);
    const double u = dx * c + dy * s, v = -dx * s + dy * c;
    switch (kind) {
    case 3: return true;
    case 4: return dx == 0 || dy == 0;
    case 5:
        for (int t = -r; t <= r; t++) {
            const bool shallow = std::fabs(c) > std::fabs(s);
            const double x = shallow ? t * (c > 0 ? 1 : -1) : t * c / s, y = shallow ? t * std::fabs(s / c) : t;
            if ((int)(x + r + 0.5) - r == dx && (int)(y + r + 0.5) - r == dy) return true;
        }
        return false;
    case 6: return (dx == 0 && dy == 0) || std::pow(std::fabs(u) / a, 3) + std::fabs(v) / (a / 3.4) <= 1;
    default: return dx * dx + dy * dy <= a * a;
    }
}

// The rank filter by brute force: rank p of the levels under the mask (mask_of(pixel)
// when given), clipped.
std::vector<int> naive_rank(const std::vector<int>& in, int w, int h, const mask_runs& fixed, double p,
                            const std::function<mask_runs(size_t)>& mask_of = nullptr)
{
    std::vector<int> out(in.size());
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            const mask_runs m = mask_of ? mask_of((size_t)y * w + x) : fixed;
            std::vector<int> v;
            for (int dy = -m.r; dy <= m.r; dy++)
                for (int dx = m.row_first[dy + m.r]; dx <= m.row_last[dy + m.r]; dx++)
                    if (x + dx >= 0 && x + dx < w && y + dy >= 0 && y + dy < h)
                        v.push_back(in[(y + dy) * w + x + dx] / 16);
            std::sort(v.begin(), v.end());
            out[y * w + x] = v[rank_index(p, (int)v.size())] * 16;
        }
    return out;
}

}  // namespace

TEST(RankFilter, MasksMatchTheirShapes)
{
    for (int kind : {0, 3, 4, 5, 6})
        for (int r : {0, 1, 2, 5, 9})
            for (double deg : {0.0, 30.0, 90.0, 135.0}) {
                const double theta = deg * M_PI / 180;
                const mask_runs m = make_mask(kind, r, theta, r + 0.5, kind == 6 ? (r + 0.5) / 3.4 : r + 0.5);
                int expected = 0;
                for (int dy = -r; dy <= r; dy++) {
                    int first = 1, last = 0;
                    for (int dx = -r; dx <= r; dx++)
                        if (in_mask(kind, r, theta, dx, dy)) {
                            if (first > last) first = dx;
                            last = dx;
                            expected++;
                        }
                    ASSERT_EQ(m.row_first[dy + r], first) << kind << " r " << r << " at " << deg << " row " << dy;
                    ASSERT_EQ(m.row_last[dy + r], last) << kind << " r " << r << " at " << deg << " row " << dy;
                }
                EXPECT_EQ(m.pixels, expected) << kind << " r " << r;
            }
    // The line at 0 degrees is the centre row, at 90 the centre column.
    const mask_runs row = make_mask(5, 3, 0, 3.5, 3.5), column = make_mask(5, 3, M_PI / 2, 3.5, 3.5);
    EXPECT_EQ(std::vector<int>({row.row_first[3], row.row_last[3], column.col_first[3], column.col_last[3]}),
              std::vector<int>({-3, 3, -3, 3}));

    // The varying family: thin ellipses in several orientations, then the circle.
    for (int r : {0, 3, 8}) {
        const mask_family f = make_family(MASK_VARYING, r);
        ASSERT_GE(f.shapes(), 2);
        EXPECT_EQ(f.orientations.back(), 1);
        EXPECT_EQ(f.count(), f.first.back() + 1);
        for (int k = 0; k < f.count(); k++) ASSERT_GE(family_mask(f, k, r, MASK_VARYING, 0).pixels, 1);
        const int n = family_mask(f, 0, r, MASK_VARYING, 0).pixels;
        EXPECT_TRUE(r == 0 || n < family_mask(f, f.count() - 1, r, MASK_VARYING, 0).pixels) << r;
        // No rank index outside the mask or on the wrong side of the median, never NaN.
        const double circle = (int)(M_PI * (r + 0.5) * (r + 0.5) + 0.5);
        for (double p : {0.0, 0.04, 0.3, 0.5, 0.7, 1.0}) {
            const int k = calculate_centile(f, p, 0, n, circle, n, 2 * r + 1, false, false, false);
            ASSERT_TRUE(k >= 0 && k < n) << k;
            EXPECT_TRUE(p >= 0.5 || n <= 2 || k < n / 2) << k << " of " << n << " at " << p;
        }
    }
}

TEST(RankFilter, RankIndexRule)
{
    // A centile inside (0, 1) never takes an extreme sample unless there are fewer than four.
    const struct { double p; int n, k; } rows[] = {{0.04, 9, 1}, {0.0, 9, 0}, {1.0, 9, 8}, {0.96, 9, 7},
                                                   {0.5, 37, 18}, {0.3, 3, 1}, {0.04, 3, 0}};
    for (const auto& r : rows) EXPECT_EQ(rank_index(r.p, r.n), r.k) << r.p << " of " << r.n;
}

// Both strategies against brute force, for every fixed mask, several radii and centiles,
// with negative levels and images narrower than the window.
TEST(RankFilter, BothStrategiesEqualBruteForce)
{
    const int sizes[][2] = {{23, 17}, {7, 30}, {40, 9}};
    for (const auto& size : sizes) {
        const int w = size[0], h = size[1];
        std::vector<int> in = random_samples((size_t)w * h, 600, w * h);
        for (int& v : in) v -= 300 * 16;
        for (int kind : {0, 3, 4, 5, 6})
            for (int r : {1, 3})
                for (double c : {0.5, 0.1, 0.8}) {
                    filter_params p;
                    p.mask = kind;
                    p.angle = 30;
                    const mask_runs m = make_mask(kind, r, M_PI / 6, r + 0.5, kind == 6 ? (r + 0.5) / 3.4 : r + 0.5);
                    const std::vector<int> first = naive_rank(in, w, h, m, c);
                    const std::vector<int> opened = naive_rank(first, w, h, m, 1 - c);
                    for (bool histogram : {true, false}) {
                        p.rank_histogram = histogram;
                        std::vector<int> out(in.size(), -1), plain(in.size()), other(in.size());
                        rank_2d(in.data(), w, h, r, c, out.data(), 0, nullptr, false, p);
                        if (r > w / 2 || r > h / 2) {
                            ASSERT_EQ(out, in) << "a mask that does not fit leaves a copy";
                            continue;
                        }
                        ASSERT_EQ(out, c == 0.5 ? first : opened)
                            << "mask " << kind << " r " << r << " c " << c << " histogram " << histogram;
                        rank_2d(in.data(), w, h, r, c, plain.data(), 1 - c, other.data(), true, p);
                        ASSERT_EQ(plain, first);
                    }
                }
    }
}

// Smooth pictures, where a row's ranks are sought near those of the row above, with a step
// and a spike that take them far from there, at widths that leave the last lanes of a row
// part empty: both ranks of a pass against brute force, for levels within 256 and wider.
TEST(RankFilter, SmoothPicturesWithStepsEqualBruteForce)
{
    const int sizes[][2] = {{37, 23}, {70, 41}};
    for (const auto& size : sizes)
        for (int scale : {1, 40}) {
            const int w = size[0], h = size[1];
            std::vector<int> in((size_t)w * h);
            std::mt19937 rng(w * scale);
            for (int y = 0; y < h; y++)
                for (int x = 0; x < w; x++) {
                    const int level = 20 + x / 2 + y / 4 + (y > h / 2 ? 40 : 0) + (x == w / 3 && y == h / 4 ? 100 : 0);
                    in[(size_t)y * w + x] = (level + (int)(rng() % 5)) * scale * 16 + (int)(rng() % 16);
                }
            for (int kind : {0, 3, 4, 5, 6})
                for (int r : {1, 2, 5, 7}) {
                    filter_params p;
                    p.mask = kind;
                    p.angle = 30;
                    const mask_runs m = make_mask(kind, r, M_PI / 6, r + 0.5, kind == 6 ? (r + 0.5) / 3.4 : r + 0.5);
                    for (double c : {0.04, 0.5}) {
                        std::vector<int> low(in.size()), high(in.size());
                        rank_2d(in.data(), w, h, r, c, low.data(), 1 - c, high.data(), true, p);
                        ASSERT_EQ(low, naive_rank(in, w, h, m, c)) << w << " x " << h << " scale " << scale << " mask " << kind << " r " << r << " c " << c;
                        ASSERT_EQ(high, naive_rank(in, w, h, m, 1 - c)) << w << " x " << h << " scale " << scale << " mask " << kind << " r " << r << " c " << 1 - c;
                    }
                }
        }
}

// "Median filter" with every rank mask is the middle rank over the mask (the varying mask:
// each pixel's own), one pass, however thin the mask.
TEST(RankFilter, MedianFilterIsTheMiddleRankForEveryMask)
{
    const int w = 26, h = 19, r = 3;
    const std::vector<int> in = random_samples((size_t)w * h, 255, 11);
    filter_params p;
    p.filter = FILTER_MEDIAN;
    p.filter_size = r;
    p.angle = 30;
    std::vector<int> out(in.size());
    for (int kind : {0, 1, 3, 4, 5, 6}) {
        p.mask = kind;
        varying_masks chosen;
        if (kind == 1) chosen = varying_mask_choice(in.data(), w, h, r, p);
        run_filter(filter_image{const_cast<int*>(in.data()), out.data(), w, h}, p);
        const mask_runs m = make_mask(kind, r, M_PI / 6, r + 0.5, kind == 6 ? (r + 0.5) / 3.4 : r + 0.5);
        const std::vector<int> expected =
            kind == 1 ? naive_rank(in, w, h, m, 0.5, [&](size_t i) { return family_mask(chosen.family, chosen.index[i], r, 1, 0); })
                      : naive_rank(in, w, h, m, 0.5);
        ASSERT_EQ(out, expected) << "mask " << kind;
    }
}

// The probe window: the samples under the mask at the probe pixel, those of the result's
// level flagged by + 160000, -160000 outside the mask or the image.
TEST(RankFilter, ProbeWindowComesBackToTheCaller)
{
    const int w = 5, h = 4;
    std::vector<int> in(w * h), out(w * h);
    for (int i = 0; i < w * h; i++) in[i] = (i * 7 % 11) * 16;
    probe_window probe;
    filter_params p;
    p.mask = MASK_SQUARE;
    p.probe_mode = 1;
    p.probe_x = 0;
    p.probe_y = 1;
    p.probe_out = &probe;
    rank_2d(in.data(), w, h, 1, 0.5, out.data(), 0, nullptr, false, p);
    ASSERT_EQ(probe.size, 3);
    // Rows 0..2 of columns 0 and 1: levels 0, 7 / 2, 9 / 4, 0; the median of six is rank 3.
    EXPECT_EQ(out[1 * w + 0], 4 * 16);
    const std::vector<int> expected = {-160000, 0, 7 * 16, -160000, 2 * 16, 9 * 16, -160000, 4 * 16 + 160000, 0};
    EXPECT_EQ(probe.cells, expected);
    p.probe_x = w;  // outside: nothing written
    probe = probe_window();
    rank_2d(in.data(), w, h, 1, 0.5, out.data(), 0, nullptr, false, p);
    EXPECT_EQ(probe.size, 0);
}

// The mean rounded half away from zero, for sums within 32 bits and beyond, negative too,
// and the 64-bit form (circular mask) with means within 2^50 / n and beyond.
TEST(RankFilter, MeanEqualsBruteForce)
{
    const int w = 19, h = 13;
    for (long long scale : {1LL, 30000LL, 1LL << 24, 1LL << 40}) {
        const std::vector<int> levels = random_samples((size_t)w * h, 4095, 5);
        std::vector<long long> in(levels.begin(), levels.end()), out(in.size());
        for (long long& v : in) v = (v - 2000 * 16) * scale;
        for (int kind : {0, 6}) {
            if (scale <= 30000) {
                filter_params p;
                p.mask = kind;
                std::vector<int> narrow(in.begin(), in.end()), narrow_out(in.size());
                mean_2d(narrow.data(), w, h, 3, narrow_out.data(), p);
                out.assign(narrow_out.begin(), narrow_out.end());
            } else if (kind == 0) {
                mean_2d_wide(in.data(), w, h, 3, out.data());
            } else {
                continue;
            }
            const mask_runs m = make_mask(kind, 3, 0, 3.5, kind == 6 ? 3.5 / 3.4 : 3.5);
            for (int y = 0; y < h; y++)
                for (int x = 0; x < w; x++) {
                    long long sum = 0, n = 0;
                    for (int dy = -3; dy <= 3; dy++)
                        for (int dx = m.row_first[dy + 3]; dx <= m.row_last[dy + 3]; dx++)
                            if (x + dx >= 0 && x + dx < w && y + dy >= 0 && y + dy < h) sum += in[(y + dy) * w + x + dx], n++;
                    const long long half_up = (std::llabs(sum) * 2 + n) / (2 * n);
                    ASSERT_EQ(out[y * w + x], sum < 0 ? -half_up : half_up) << x << "," << y << " scale " << scale;
                }
        }
    }
}

// The SIMD forms of the rank filters select what the plain ones do: levels within 256 and
// wider, windows under and over 256 samples, blocks of pixels cut by the image's edges,
// fixed and per-pixel masks, one and two outputs.
TEST(RankFilter, SimdFormsEqualPlainForms)
{
    const int w = 45, h = 29;
    const simd_forms saved = processing_simd;
    for (int span : {255, 3000}) {
        std::vector<int> in = random_samples((size_t)w * h, span, span);
        for (int& v : in) v -= 100 * 16;
        for (int kind : {0, 1, 3, 6})
            for (int r : {1, 4, 9}) {
                filter_params p;
                p.mask = kind;
                p.angle = 30;
                const varying_masks chosen = varying_mask_choice(in.data(), w, h, r, p);
                std::vector<int> results[2][4];
                for (bool simd : {false, true}) {
                    choose_processing_simd(simd, true);
                    std::vector<int>* o = results[simd];
                    for (auto& plane : results[simd]) plane.assign(in.size(), -1);
                    if (kind == 1) {
                        const int* index = chosen.index.data();
                        varied_rank_2d(in.data(), w, h, r, 0.3, o[0].data(), 0.7, o[1].data(), index, index, chosen.family, p);
                        varied_rank_2d(in.data(), w, h, r, 0.5, o[2].data(), 0, nullptr, index, index, chosen.family, p);
                    } else {
                        rank_2d(in.data(), w, h, r, 0.3, o[0].data(), 0.7, o[1].data(), false, p);
                        rank_2d(in.data(), w, h, r, 0.1, o[2].data(), 0.9, o[3].data(), true, p);
                    }
                }
                processing_simd = saved;
                for (int j = 0; j < 4; j++)
                    ASSERT_EQ(results[0][j], results[1][j]) << "span " << span << " mask " << kind << " r " << r << " output " << j;
            }
    }
}
