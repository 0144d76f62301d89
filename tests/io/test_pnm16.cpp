// Grey maps with samples above 255: read as they are (the toolkit's reader gave zeros), or
// refused with the reason when the layout is one that is not read.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "core/record.h"
#include "io/image_file.h"

namespace {

std::string write_map(const std::string& name, const std::string& header, const std::vector<int>& words)
{
    const std::string path = ::testing::TempDir() + name;
    FILE* f = std::fopen(path.c_str(), "wb");
    std::fwrite(header.data(), 1, header.size(), f);
    for (int v : words) std::fputc(v >> 8, f), std::fputc(v & 255, f);
    std::fclose(f);
    return path;
}

}  // namespace

TEST(Pnm16, GreySamplesAreReadAsTheyAreAndOtherLayoutsRefused)
{
    reset_info();
    const std::vector<int> v = {0, 255, 256, 4095, 40000, 65535};
    std::string path = write_map("deep.pgm", "P5\n3 2\n65535\n", v);
    ASSERT_TRUE(load_image_file(path.data(), -1));
    EXPECT_EQ(std::vector<int>({info.width, info.height, info.data_min, info.data_max, info.channels}),
              std::vector<int>({3, 2, 0, 65535, 1}));
    for (size_t i = 0; i < v.size(); i++) EXPECT_EQ(info.raw_image[i], v[i] * 16) << i;

    // A map cut short, and a colour map of deep samples: refused, the record keeps its image.
    const int* kept = info.raw_image;
    for (const std::string& bad : {write_map("short.pgm", "P5\n4 4\n1000\n", {1, 2, 3}),
                                   write_map("deep.ppm", "P6\n1 2\n1000\n", {1, 2, 3, 4, 5, 6})}) {
        std::string p = bad;
        EXPECT_FALSE(load_image_file(p.data(), -1)) << bad;
        EXPECT_EQ(info.raw_image, kept);
        EXPECT_EQ(info.width, 3);
    }
}
