// The self-dual levelling against its whole-image passes, and the thresholded Gaussian's
// SIMD form against its plain form.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "core/cpu_features.h"
#include "core/ui.h"
#include "pipeline_fixture.h"
#include "processing/levelling.h"
#include "processing/rank_filter.h"
#include "processing/thresholded_filter.h"

namespace {

// The levelling as its definition reads: whole-image rank passes until nothing changes,
// at most (w + h) / 4 of them.
std::vector<int> whole_image_levelling(const std::vector<int>& in, int w, int h, double c, std::vector<int> marker,
                                       const filter_params& p)
{
    std::vector<int> lo(in.size()), hi(in.size());
    for (int pass = 0; pass < (w + h) / 4; pass++) {
        rank_2d(marker.data(), w, h, 1, c, lo.data(), 1 - c, hi.data(), true, p);
        bool changed = false;
        for (size_t i = 0; i < in.size(); i++) {
            const int v = std::min(std::max(in[i], lo[i]), hi[i]);
            changed |= v != marker[i];
            marker[i] = v;
        }
        if (!changed) break;
    }
    return marker;
}

}  // namespace

// Every mask, ranks near either end and the middle, planes from two pixels high to ones
// needing the iteration limit, marker samples of either sign off the level grid, with and
// without SIMD; the probe shows the last pass's window as the whole-image pass shows it,
// and a cancel still stops the run.
TEST(Levelling, EqualsTheWholeImagePasses)
{
    for (auto [w, h] : {std::pair<int, int>{2, 5}, {9, 3}, {23, 17}, {70, 41}})
        for (int mask = 0; mask < 8; mask++)
            for (double c : {0.04, 0.3, 0.5, 0.8})
                for (bool simd : {false, true}) {
                    SCOPED_TRACE(::testing::Message() << w << "x" << h << " mask " << mask << " c " << c << " simd " << simd);
                    const bool before = choose_processing_simd(simd, false);
                    std::vector<int> in = random_samples((size_t)w * h, 200, 5 + mask), marker((size_t)w * h);
                    std::mt19937 rng(w * 31 + mask);
                    for (int& v : marker) v = (int)(rng() % 6401) - 1600;  // samples of either sign
                    filter_params p;
                    p.mask = mask;
                    p.angle = 30;
                    p.probe_mode = 1;
                    p.probe_x = w / 2;
                    p.probe_y = h - 1;
                    probe_window fast_probe, whole_probe;
                    p.probe_out = &whole_probe;
                    const std::vector<int> expected = whole_image_levelling(in, w, h, c, marker, p);
                    p.probe_out = &fast_probe;
                    EXPECT_TRUE(self_dual_levelling(in.data(), w, h, c, marker.data(), 0, 1, p));
                    choose_processing_simd(before, true);
                    ASSERT_EQ(marker, expected);
                    EXPECT_EQ(fast_probe.size, whole_probe.size);
                    EXPECT_EQ(fast_probe.cells, whole_probe.cells);
                }
    // A cancelled run unwinds from the levelling as from the rank passes it replaces.
    std::vector<int> in = random_samples(40 * 30, 200, 1), marker(in.size(), 0);
    ui_cancellable_run run;
    ui_request_cancel();
    EXPECT_THROW(self_dual_levelling(in.data(), 40, 30, 0.3, marker.data(), 0, 1, filter_params{}), ui_cancelled);
}

// Samples far apart (differences beyond 32 bits' reach once subtracted), of either sign,
// thresholds of nothing, a level and everything; widths leaving a remainder.
TEST(Levelling, ThresholdedGaussianSimdEqualsPlain)
{
    for (auto [w, h] : {std::pair<int, int>{37, 23}, {12, 30}})
        for (int level : {0, 60, 1 << 26}) {
            std::mt19937 rng(level + w);
            std::vector<int> in((size_t)w * h), plain(in.size()), simd(in.size());
            for (int& v : in) v = rng() % 4 ? (int)(rng() % 8000) - 3000 : (int)rng();
            filter_params p;
            p.level = level;
            const bool before = choose_processing_simd(false, false);
            thresholded_filter_2d(in.data(), w, h, 3.9, plain.data(), p);
            choose_processing_simd(true, false);
            thresholded_filter_2d(in.data(), w, h, 3.9, simd.data(), p);
            choose_processing_simd(before, true);
            ASSERT_EQ(simd, plain) << w << " level " << level;
        }
}
