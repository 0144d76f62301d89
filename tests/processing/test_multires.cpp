// The pyramid's operators and the multi-resolution pass of the pipeline.
#include <gtest/gtest.h>

#include <vector>

#include "commands/pipeline.h"
#include "core/record.h"
#include "processing/multires.h"
#include "pipeline_fixture.h"

TEST(Multires, OperatorsKeepConstantsAndRoundToWholeLevels)
{
    EXPECT_EQ(std::vector<int>({whole_level(16 * 5 + 8), whole_level(16 * 5 + 7), whole_level(-16 * 5 - 7)}),
              std::vector<int>({16 * 6, 16 * 5, -16 * 5}));
    for (int r : {1, 2, 3, 4, 5})
        for (int i : {0, 2, 4, 9}) {
            filter_params p;
            p.restrict_kind = r;
            p.interpolate_kind = i;
            std::vector<int> flat(5 * 3, 70 * 16), coarse(3 * 2), back(5 * 3);
            restrict(flat.data(), 5, 3, coarse.data(), 3, 2, p);
            EXPECT_EQ(coarse, std::vector<int>(6, 70 * 16)) << "restriction " << r;
            interpolate(coarse.data(), 3, 2, back.data(), 5, 3, p);
            EXPECT_EQ(back, flat) << "interpolation " << i;
        }
    // The default interpolation copies the coarse grid and takes (9 (a + b) - (c + d)) / 16 between.
    std::vector<int> coarse = {0, 160, 320, 480}, fine(7);
    interpolate(coarse.data(), 4, 1, fine.data(), 7, 1, filter_params());
    EXPECT_EQ(fine[2], 160);
    EXPECT_EQ(fine[3], (9 * (160 + 320) - (0 + 480)) / 16);
    EXPECT_EQ(fine[1], whole_level((9 * (0 + 160) - (0 + 320)) / 16));
}

TEST(Multires, OneLevelIsTheQuantisedSingleLevelFilter)
{
    const int w = 40, h = 30;
    std::vector<int> raw = random_samples(w * h, 200, 31);
    for (int& v : raw) v += 5;  // not whole levels
    auto run = [&](bool pyramid, int levels, const std::vector<int>& image) {
        install_image(w, h, 0, 1, image);
        info.filter = 3;
        info.mask = 0;
        info.filter_size = 2;
        info.filter_iterate = pyramid;
        info.iterations = levels;
        sample_image();
        process_image();
        return std::vector<int>(info.processed_image, info.processed_image + w * h);
    };
    std::vector<int> quantised = raw;
    for (int& v : quantised) v = (int)(v * 0.0625 + 0.5) * 16;
    const std::vector<int> single = run(false, 1, quantised), one = run(true, 1, raw);
    EXPECT_EQ(one, single);
    EXPECT_EQ(std::vector<int>(info.sampled_image, info.sampled_image + w * h), raw) << "input restored";
    EXPECT_EQ(info.level, 256);
    const int data_max = info.data_max;
    const std::vector<int> three = run(true, 3, raw);
    EXPECT_NE(three, single);
    EXPECT_EQ(info.data_max, data_max) << "the levels' ranges are not left behind";
}
