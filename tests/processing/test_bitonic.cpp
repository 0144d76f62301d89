// The grain filter against a flood-fill reference, the bitonic filter's blend and variants,
// and the noise transforms.
#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <tuple>
#include <utility>
#include <vector>

#include "core/cpu_features.h"

#include "processing/anisotropic_filter.h"
#include "processing/bitonic_filter.h"
#include "processing/grain_filter.h"
#include "processing/levelling.h"
#include "processing/local_rank_filter.h"
#include "processing/noise_transforms.h"
#include "pipeline_fixture.h"

namespace {

// The area opening by its definition: a pixel keeps the highest level t at which its
// component of {value >= t} has more than `limit` pixels.
std::vector<int> naive_area_opening(const std::vector<int>& in, int w, int h, long long limit)
{
    const int lowest = *std::min_element(in.begin(), in.end());
    std::vector<int> out(in.size(), lowest);
    for (int t : std::set<int>(in.begin(), in.end())) {
        std::vector<int> label(in.size(), -1);
        for (size_t s = 0; s < in.size(); s++) {
            if (in[s] < t || label[s] >= 0) continue;
            std::vector<size_t> component{s}, stack{s};
            label[s] = (int)s;
            while (!stack.empty()) {
                const size_t p = stack.back();
                stack.pop_back();
                const int x = (int)(p % w), y = (int)(p / w);
                const int nx[4] = {x - 1, x + 1, x, x}, ny[4] = {y, y, y - 1, y + 1};
                for (int k = 0; k < 4; k++) {
                    if (nx[k] < 0 || nx[k] >= w || ny[k] < 0 || ny[k] >= h) continue;
                    const size_t q = (size_t)ny[k] * w + nx[k];
                    if (in[q] >= t && label[q] < 0) {
                        label[q] = (int)s;
                        component.push_back(q);
                        stack.push_back(q);
                    }
                }
            }
            if ((long long)component.size() > limit)
                for (size_t p : component) out[p] = std::max(out[p], t);
        }
    }
    return out;
}

}  // namespace

TEST(Bitonic, AreaOpeningEqualsTheFloodFillReference)
{
    for (unsigned seed = 1; seed <= 12; seed++) {
        const int w = 9 + seed % 5, h = 7 + seed % 4;
        // Few levels (many ties), a few hundred, and a range of either sign too wide for one
        // pass of the sort.
        const int levels = seed % 3 == 0 ? 70000 : seed % 2 ? 6 : 200;
        std::vector<int> in = random_samples((size_t)w * h, levels, seed), out(in.size());
        if (levels > 65536)
            for (int& v : in) v -= 35000 * 16;
        for (long long limit : {1LL, 2LL, 3LL, 8LL, 40LL}) {
            area_opening(in.data(), w, h, limit, out.data());
            ASSERT_EQ(out, naive_area_opening(in, w, h, limit)) << "seed " << seed << " limit " << limit;
        }
    }
    // The grain filter is the opening, then the closing (the opening of the negative).
    const int w = 12, h = 10;
    std::vector<int> in = random_samples(w * h, 9, 77), out(in.size());
    grain_filter_2d(in.data(), w, h, 2, 0.3, out.data());  // A = 9: bright <= 6, dark <= 3
    std::vector<int> expected = naive_area_opening(in, w, h, 6);
    for (int& v : expected) v = -v;
    expected = naive_area_opening(expected, w, h, 3);
    for (int& v : expected) v = -v;
    EXPECT_EQ(out, expected);
}

// A large plane is flooded in bands of rows whose trees are joined at the seams (here rows
// 16, 20 and 36); a range too wide for the flood's tables goes through union-find instead.
TEST(Bitonic, AreaOpeningAcrossBandsAndWideRanges)
{
    const int w = 8192, h = 40;
    std::vector<int> in = random_samples((size_t)w * h, 3, 5), out(in.size());
    for (int& v : in) v %= 4;
    for (long long limit : {2LL, 30LL}) {
        area_opening(in.data(), w, h, limit, out.data());
        EXPECT_EQ(out, naive_area_opening(in, w, h, limit)) << "limit " << limit;
    }
    std::vector<int> wide = random_samples(300, 6, 9), wide_out(wide.size());
    for (int& v : wide) v *= 50000;  // a range of 4.8 million
    area_opening(wide.data(), 20, 15, 4, wide_out.data());
    EXPECT_EQ(wide_out, naive_area_opening(wide, 20, 15, 4));
}

namespace {

// The grain filter by the reference: a closing (the opening of the negative) of an opening.
std::vector<int> naive_grain(std::vector<int> v, int w, int h, long long upper, long long lower)
{
    v = naive_area_opening(v, w, h, upper);
    for (int& x : v) x = -x;
    v = naive_area_opening(v, w, h, lower);
    for (int& x : v) x = -x;
    return v;
}

}  // namespace

// The halves of the rows flooded with margins on both cores (they meet at row 300), planes
// of a few pixels with limits up to and past their size, and OCCO's four grain filters.
TEST(Bitonic, GrainFilterInBandsOnTinyPlanesAndInOcco)
{
    {
        const int w = 1024, h = 600;
        std::vector<int> in = random_samples((size_t)w * h, 3, 11), out(in.size());
        for (int& v : in) v %= 3;
        // Bright lines of 19 pixels, one more than the opening removes, from the last row of
        // the upper half down and from the first of the lower half up: each half sees that
        // only through its full margin.
        for (int y = 0; y < 19; y++) in[(size_t)(299 + y) * w + 5] = in[(size_t)(300 - y) * w + 9] = 3;
        grain_filter_2d(in.data(), w, h, 3, 0.3, out.data());  // A = 25: bright <= 18, dark <= 8
        EXPECT_EQ(out, naive_grain(in, w, h, 18, 8));
    }
    for (auto [w, h] : {std::pair{1, 1}, {1, 5}, {4, 1}, {2, 2}, {2, 7}}) {
        const std::vector<int> in = random_samples((size_t)w * h, 3, w * 10 + h);
        std::vector<int> out(in.size());
        for (long long limit = 1; limit <= 15; limit++) {
            area_opening(in.data(), w, h, limit, out.data());
            ASSERT_EQ(out, naive_area_opening(in, w, h, limit)) << w << " x " << h << " limit " << limit;
        }
    }
    // Large enough for the pairs of grain filters to run one on each core.
    const int w = 160, h = 100;
    std::vector<int> in = random_samples(w * h, 3, 3);
    for (int& v : in) v %= 5;
    // A = 9: c = 0.5 gives bright <= 5, dark <= 5 on both sides; c = 0.3 bright <= 6, dark
    // <= 3, and 1 - c the reverse.
    for (auto [c, upper, lower] : {std::tuple{0.5, 5, 5}, {0.3, 6, 3}}) {
        std::vector<int> O(in.size()), C(in.size()), CO(in.size()), OC(in.size());
        grain_occo(in.data(), w, h, 2, c, O.data(), C.data(), CO.data(), OC.data());
        const std::vector<int> o = naive_grain(in, w, h, upper, lower), k = naive_grain(in, w, h, lower, upper);
        EXPECT_EQ(O, o) << c;
        EXPECT_EQ(C, k) << c;
        EXPECT_EQ(CO, naive_grain(o, w, h, lower, upper)) << c;
        EXPECT_EQ(OC, naive_grain(k, w, h, upper, lower)) << c;
    }
}

TEST(Bitonic, BlendFavoursTheSideThatFits)
{
    // Where the opening's smoothed error vanishes the corrected opening wins outright.
    EXPECT_EQ(bitonic_blend(100, 300, 0, 50), 100);
    EXPECT_EQ(bitonic_blend(100, 300, 50, 0), 300 - 0);
    EXPECT_EQ(bitonic_blend(100, 300, 0, 0), 200);  // flat: the mean of O and C
    // Worked by hand: (1030 x 70^3 + 1270 x 30^3) / (30^3 + 70^3) = 1047.5; (2 x 8 + 7 x 27) / 35.
    EXPECT_EQ(bitonic_blend(1000, 1200, 30, -70), 1047);
    EXPECT_EQ(bitonic_blend(5, 9, -3, 2), 5);
    // Equal errors give the mean of the corrected sides, even where the products of the cubes
    // overflow 64 bits.
    EXPECT_EQ(bitonic_blend(-16000, 40000, 768000, 768000), 12000);
}

// Every mask variant: r = 0 returns the input, a flat plane stays flat, noise goes down,
// a clean step edge stays a step, and the level is the same afterwards.
TEST(Bitonic, EveryVariantOnFlatNoisyAndStepPlanes)
{
    const int w = 40, h = 32, n = w * h;
    std::vector<int> noisy = random_samples(n, 40, 3), step(n), out(n);
    for (int& v : noisy) v += 80 * 16;
    for (int i = 0; i < n; i++) step[i] = (i % w < w / 2 ? 60 : 200) * 16;
    for (int mask = 0; mask <= 7; mask++) {
        SCOPED_TRACE(mask);
        filter_params p;
        p.mask = mask;
        p.level = 64;
        p.angle = 45;
        auto run = [&](std::vector<int>& in, int r) {
            if (mask == 2)
                bitonic_x_filter(in.data(), w, h, r, 0.04, out.data(), p);
            else
                bitonic_filter(in.data(), w, h, r, 0.04, out.data(), nullptr, nullptr, p);
        };
        run(noisy, 0);
        EXPECT_EQ(out, noisy);
        std::vector<int> flat(n, 90 * 16);
        run(flat, 3);
        EXPECT_EQ(out, flat);
        run(step, 3);
        for (int y = 4; y < h - 4; y++)
            for (int x = 0; x < w; x++) ASSERT_NEAR(out[y * w + x], step[y * w + x], 16) << x << "," << y;
        run(noisy, 3);
        double before = 0, after = 0;
        for (int i = 0; i < n; i++) {
            before += std::pow(noisy[i] - 100 * 16, 2);
            after += std::pow(out[i] - 100 * 16, 2);
        }
        EXPECT_LT(after, before * 0.6);
    }
}

TEST(Bitonic, TransformsRoundTripWithinALevel)
{
    std::vector<int> grey(256 * 3);
    for (int i = 0; i < 256 * 3; i++) grey[i] = (i % 256) * 16 + (i / 256) * 5;
    for (double gain : {0.0, 1.5})
        for (colour_t space : {COLOUR_GREY, COLOUR_RGB, COLOUR_HSV}) {
            std::vector<int> v = grey;
            const int w = space == COLOUR_GREY ? 256 * 3 : 256;
            ASSERT_TRUE(inverse_gamma_and_apply_anscombe(v.data(), w, 1, space, 2.4, gain, 2, 0));
            EXPECT_TRUE(space == COLOUR_HSV || gain != 0 || v[100] < grey[100]) << "decoded to linear";
            ASSERT_TRUE(inverse_anscombe_and_apply_gamma(v.data(), w, 1, space, 2.4, gain, 2, 0));
            for (size_t i = 0; i < v.size(); i++) ASSERT_NEAR(v[i], grey[i], 16) << i << " gain " << gain;
        }
    // sRGB: 128 of 255 decodes to about 55.
    int mid = 128 * 16;
    inverse_gamma_and_apply_anscombe(&mid, 1, 1, COLOUR_GREY, 2.4, 0, 0, 0);
    EXPECT_NEAR(mid / 16.0, std::pow((128 / 255.0 + 0.055) / 1.055, 2.4) * 255, 0.1);
    // A threshold keeps its proportion: in the dark the decoded curve is flatter.
    int value = 20 * 16, threshold = 10;
    ASSERT_TRUE(threshold_for_inverse_gamma(&value, &threshold, 1, 1, 2.4));
    EXPECT_LT(threshold, 10);
    EXPECT_FALSE(threshold_for_inverse_gamma(nullptr, &threshold, 1, 1, 2.4));
}

// OCCO is self-dual: negating the image and swapping c for 1 - c negates the result. The
// levelling leaves a constant plane alone and needs more than three pixels of width + height.
TEST(Bitonic, OccoAndLevelling)
{
    const int w = 17, h = 13, n = w * h;
    std::vector<int> in = random_samples(n, 200, 21), neg(n), a(n), b(n);
    for (int i = 0; i < n; i++) neg[i] = -in[i];
    filter_params p;
    for (int mask : {0, 3, 4}) {
        p.mask = mask;
        occo_plane(in.data(), w, h, 2, 0.2, a.data(), nullptr, nullptr, nullptr, nullptr, p);
        occo_plane(neg.data(), w, h, 2, 0.8, b.data(), nullptr, nullptr, nullptr, nullptr, p);
        for (int i = 0; i < n; i++) ASSERT_NEAR(a[i], -b[i], 16) << "mask " << mask << " at " << i;
    }
    p.mask = 0;
    std::vector<int> flat(n, 50 * 16), marker(n, 50 * 16);
    occo_plane(flat.data(), w, h, 2, 0.2, a.data(), nullptr, nullptr, nullptr, nullptr, p);
    EXPECT_EQ(a, flat);
    EXPECT_TRUE(self_dual_levelling(flat.data(), w, h, 0.2, marker.data(), 0, 1, p));
    EXPECT_EQ(marker, flat);
    int tiny[2] = {16, 32}, tiny_marker[2] = {5, 7};
    EXPECT_TRUE(self_dual_levelling(tiny, 1, 2, 0.3, tiny_marker, 0, 1, p));
    EXPECT_EQ(tiny_marker[0], 5) << "width + height = 3: no iteration";
}

// The local-mask rank filter's wide forms (sixteen, eight or 32 pixels at a time): the
// one-pixel form's openings and closings on planes of every sign and of 8-bit levels (the
// narrowest lanes), one channel and three interleaved, with the input (its first channel)
// as its own grey plane and with another, widths leaving a remainder, windows of one and
// several mask words up to r 7, ranks near either end and in the middle.
TEST(LocalRank, SimdFormsEqualTheOneAtATimeForm)
{
    for (auto [w, h] : {std::pair<int, int>{61, 37}, {40, 23}})
        for (int narrow : {0, 1})
            for (int channels : {1, 3}) {
                uint32_t seed = 99;
                const size_t pixels = (size_t)w * h;
                std::vector<int> in(pixels * channels), other(pixels), first(pixels);
                for (size_t i = 0; i < in.size(); i++) {
                    seed = seed * 1664525u + 1013904223u;
                    in[i] = narrow ? (int)(seed >> 24) * 16 : ((int)(seed >> 12) % 4000 - 1500) * 16 + (int)(seed & 15);
                    if (i < pixels) other[i] = (int)(i % w) * 48 + (int)(seed & 511);
                }
                for (size_t i = 0; i < pixels; i++) first[i] = in[i * channels];
                for (int r : {1, 3, 5, 7})
                    for (double c : {0.0, 0.1, 0.25, 0.5})
                        for (int level : {2, 40, 2000})
                            for (const int* grey : {(const int*)nullptr, (const int*)other.data()}) {
                                // Three channels: fewer cases (the one-pixel form is slow).
                                if (channels == 3 && (r == 3 || r == 7 || level == 2000)) continue;
                                SCOPED_TRACE(::testing::Message() << "w " << w << " narrow " << narrow << " channels "
                                                                  << channels << " r " << r << " c " << c << " level "
                                                                  << level << " grey " << (grey != nullptr));
                                std::vector<int> guide(first), open[3], close[3];
                                for (int form = 0; form < 3; form++) {
                                    choose_processing_simd(form > 0, form == 2);
                                    open[form] = close[form] = std::vector<int>(in.size());
                                    std::vector<int> copy(in), grey_copy(other);
                                    filter_params p;
                                    p.level = level;
                                    rank_2d_x(copy.data(), w, h, channels, r, c, open[form].data(), close[form].data(),
                                              guide.data(), grey ? grey_copy.data() : nullptr, p);
                                }
                                for (int form : {1, 2}) {
                                    EXPECT_EQ(open[0], open[form]) << "form " << form;
                                    EXPECT_EQ(close[0], close[form]) << "form " << form;
                                }
                                if (level != 40) continue;
                                // One output asked for: the same as when both are.
                                for (int only_close : {0, 1}) {
                                    std::vector<int> copy(in), grey_copy(other), one(in.size());
                                    filter_params p;
                                    p.level = level;
                                    rank_2d_x(copy.data(), w, h, channels, r, c, only_close ? nullptr : one.data(),
                                              only_close ? one.data() : nullptr, guide.data(),
                                              grey ? grey_copy.data() : nullptr, p);
                                    EXPECT_EQ(one, only_close ? close[0] : open[0]) << "only close " << only_close;
                                }
                            }
            }
    choose_processing_simd(true, true);
}

// The along-field smoothing's AVX2 forms equal the plain form with and without the
// level test and the corner term, on one and two planes, below, at and beyond the window.
TEST(AlongField, SimdFormsEqualThePlainForm)
{
    uint32_t seed = 7;
    auto next = [&] { return seed = seed * 1664525u + 1013904223u; };
    for (auto [w, h] : {std::pair<int, int>{3, 5}, {9, 9}, {53, 41}})
        for (double sigma : {1.2, 3.6, 6.5})
            for (int use_level : {0, 1}) {
                SCOPED_TRACE(::testing::Message() << w << " x " << h << " sigma " << sigma << " level " << use_level);
                const size_t n = (size_t)w * h;
                std::vector<int> a(n), b(n);
                for (size_t i = 0; i < n; i++) {
                    a[i] = (int)(next() >> 20) % 3000 * 16 - 8000;
                    b[i] = (int)(i % w) * 40 + (int)(next() >> 26);
                }
                filter_params p;
                p.use_level = use_level;
                p.level = 60;
                std::vector<int> out[3][3];
                for (int form = 0; form < 3; form++) {
                    choose_processing_simd(form > 0, form == 2);
                    std::vector<double> angle(n), strength(n), extra(n);
                    for (auto& o : out[form]) o.assign(n, 0);
                    anisotropic_filter_2d(a.data(), w, h, sigma, 0.6, out[form][0].data(), angle.data(), strength.data(),
                                          extra.data(), false, p);
                    int* ins[2] = {a.data(), b.data()};
                    int* outs[2] = {out[form][1].data(), out[form][2].data()};
                    anisotropic_filter_planes(ins, outs, 2, w, h, sigma, 0.6, angle.data(), strength.data(), p);
                }
                for (int form : {1, 2})
                    for (int k = 0; k < 3; k++) EXPECT_EQ(out[0][k], out[form][k]) << "form " << form << " output " << k;
            }
    choose_processing_simd(true, true);
}
