// DICOM RLE fragments built by hand: PackBits runs and literals, the -128 no-op, segment
// order for colour and 16-bit samples, and refusal of fragments that cannot be right.
#include <gtest/gtest.h>

#include <cstring>

#include "io/rle_decode.h"

namespace {

std::vector<uint8_t> fragment(const std::vector<std::vector<uint8_t>>& segments)
{
    std::vector<uint8_t> f(64, 0);
    auto put32 = [&](size_t at, uint32_t v) {
        for (int b = 0; b < 4; b++) f[at + b] = (uint8_t)(v >> (8 * b));
    };
    put32(0, (uint32_t)segments.size());
    for (size_t s = 0; s < segments.size(); s++) {
        put32(4 + 4 * s, (uint32_t)f.size());
        f.insert(f.end(), segments[s].begin(), segments[s].end());
    }
    return f;
}

}  // namespace

TEST(DicomRle, RunsLiteralsAndTheNoOpControlByte)
{
    // 2 x 3 pixels: a run of 3 x 7 (control -2), -128 ignored, literal 1 2 3 (control 2).
    const std::vector<uint8_t> f = fragment({{0xFE, 7, 0x80, 2, 1, 2, 3}});
    std::vector<uint8_t> out;
    ASSERT_TRUE(rle_decode_frame(f.data(), f.size(), 2, 3, 1, 8, out));
    EXPECT_EQ(out, (std::vector<uint8_t>{7, 7, 7, 1, 2, 3}));
}

TEST(DicomRle, ColourSegmentsFillBytesOfEachPixel)
{
    const std::vector<uint8_t> f = fragment({{0xFF, 10}, {1, 20, 21}, {0xFF, 30}});
    std::vector<uint8_t> out;
    ASSERT_TRUE(rle_decode_frame(f.data(), f.size(), 1, 2, 3, 8, out));
    EXPECT_EQ(out, (std::vector<uint8_t>{10, 20, 30, 10, 21, 30}));
}

TEST(DicomRle, SixteenBitSegmentsAreHighByteFirst)
{
    const std::vector<uint8_t> f = fragment({{1, 0x12, 0xFF}, {1, 0x34, 0x01}});
    std::vector<uint8_t> out;
    ASSERT_TRUE(rle_decode_frame(f.data(), f.size(), 1, 2, 1, 16, out));
    ASSERT_EQ(out.size(), 4u);
    uint16_t w[2];
    std::memcpy(w, out.data(), 4);
    EXPECT_EQ(w[0], 0x1234);
    EXPECT_EQ(w[1], 0xFF01);
}

TEST(DicomRle, FragmentsThatCannotBeRightAreRefused)
{
    std::vector<uint8_t> out;
    // Two rows of three encoded row by row (and a pad byte) fill a 2 x 3 frame exactly.
    std::vector<uint8_t> f = fragment({{2, 1, 2, 3, 2, 4, 5, 6, 0}});
    EXPECT_TRUE(rle_decode_frame(f.data(), f.size(), 2, 3, 1, 8, out));
    const struct {
        std::vector<std::vector<uint8_t>> segments;
        int rows, cols, samples, bits;
    } cases[] = {
        // Wrong segment count for the sample format.
        {{{0xFD, 1}}, 2, 2, 1, 16}, {{{0xFD, 1}}, 2, 2, 3, 8}, {{{0xFD, 1}}, 2, 2, 1, 12},
        // A segment that ends short, even when only the first of three does.
        {{{0xFE, 1}}, 2, 2, 1, 8}, {{{0xFE, 1}, {0xFD, 2}, {0xFD, 3}}, 2, 2, 3, 8},
        // A run past the plane is not written; the rest cannot fill it.
        {{{0xF0, 9}}, 2, 2, 1, 8},
        // The rows above under a header one row or one column short (they would show sheared).
        {{{2, 1, 2, 3, 2, 4, 5, 6, 0}}, 1, 3, 1, 8}, {{{2, 1, 2, 3, 2, 4, 5, 6, 0}}, 2, 2, 1, 8},
        // A literal cut by the end of the fragment.
        {{{3, 1, 2}}, 2, 2, 1, 8},
    };
    for (const auto& c : cases) {
        f = fragment(c.segments);
        EXPECT_FALSE(rle_decode_frame(f.data(), f.size(), c.rows, c.cols, c.samples, c.bits, out))
            << c.segments[0].size() << " " << c.rows << "x" << c.cols << " " << c.samples << "x" << c.bits;
    }
    // First offset other than 64; offset past the end; header shorter than 64 bytes.
    f = fragment({{0xFD, 1}});
    f[4] = 65;
    EXPECT_FALSE(rle_decode_frame(f.data(), f.size(), 2, 2, 1, 8, out));
    f = fragment({{0xFD, 1}, {0xFD, 1}, {0xFD, 1}});
    f[12] = 0xF0;
    EXPECT_FALSE(rle_decode_frame(f.data(), f.size(), 2, 2, 3, 8, out));
    EXPECT_FALSE(rle_decode_frame(f.data(), 63, 2, 2, 3, 8, out));
    // A header claiming a frame far larger than the fragment could ever fill.
    f = fragment({{0x81, 1}});
    EXPECT_FALSE(rle_decode_frame(f.data(), f.size(), 65535, 65535, 1, 8, out));
    EXPECT_TRUE(out.size() < 1000000);
}
