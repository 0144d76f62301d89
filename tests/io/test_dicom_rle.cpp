// DICOM RLE fragments built by hand: PackBits runs and literals, the -128 no-op, segment
// order for colour and 16-bit samples, and refusal of fragments that cannot be right.
#include <gtest/gtest.h>

#include <cstring>

#include "io/rle_decode.h"

namespace {

std::vector<uint8_t> fragment(const std::vector<std::vector<uint8_t>>& segments)
{
    std::vector<uint8_t> f(64, 0);
    auto put32 = [&](size_t at, uint32_t v) { for (int b = 0; b < 4; b++) f[at + b] = (uint8_t)(v >> (8 * b)); };
    put32(0, (uint32_t)segments.size());
    for (size_t s = 0; s < segments.size(); s++) {
        put32(4 + 4 * s, (uint32_t)f.size());
        f.insert(f.end(), segments[s].begin(), segments[s].end());
    }
    return f;
}

struct rle_case {
    std::vector<std::vector<uint8_t>> segments;
    int rows, cols, samples, bits;
};

}  // namespace

TEST(DicomRle, RunsLiteralsNoOpAndSegmentOrder)
{
    // 16-bit samples: the high-byte segment first; they land as host words.
    const uint16_t words[2] = {0x1234, 0xFF01};
    std::vector<uint8_t> host(4);
    std::memcpy(host.data(), words, 4);
    const std::pair<rle_case, std::vector<uint8_t>> cases[] = {
        // 2 x 3 pixels: a run of 3 x 7 (control -2), -128 ignored, literal 1 2 3 (control 2).
        {{{{0xFE, 7, 0x80, 2, 1, 2, 3}}, 2, 3, 1, 8}, {7, 7, 7, 1, 2, 3}},
        // Two rows of three encoded row by row (and a pad byte) fill the frame exactly.
        {{{{2, 1, 2, 3, 2, 4, 5, 6, 0}}, 2, 3, 1, 8}, {1, 2, 3, 4, 5, 6}},
        // Colour: each segment fills its byte of every pixel.
        {{{{0xFF, 10}, {1, 20, 21}, {0xFF, 30}}, 1, 2, 3, 8}, {10, 20, 30, 10, 21, 30}},
        {{{{1, 0x12, 0xFF}, {1, 0x34, 0x01}}, 1, 2, 1, 16}, host},
    };
    for (const auto& [c, expected] : cases) {
        const std::vector<uint8_t> f = fragment(c.segments);
        std::vector<uint8_t> out;
        ASSERT_TRUE(rle_decode_frame(f.data(), f.size(), c.rows, c.cols, c.samples, c.bits, out));
        EXPECT_EQ(out, expected);
    }
}

TEST(DicomRle, FragmentsThatCannotBeRightAreRefused)
{
    std::vector<uint8_t> out, f;
    const rle_case cases[] = {
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
        // A header claiming a frame far larger than the fragment could ever fill (last: the
        // output must not have been sized for it).
        {{{0x81, 1}}, 65535, 65535, 1, 8},
    };
    for (const auto& c : cases) {
        f = fragment(c.segments);
        EXPECT_FALSE(rle_decode_frame(f.data(), f.size(), c.rows, c.cols, c.samples, c.bits, out))
            << c.segments[0].size() << " " << c.rows << "x" << c.cols << " " << c.samples << "x" << c.bits;
    }
    EXPECT_LT(out.size(), 1000000u);
    // First offset other than 64; offset past the end; header shorter than 64 bytes.
    f = fragment({{0xFD, 1}});
    f[4] = 65;
    EXPECT_FALSE(rle_decode_frame(f.data(), f.size(), 2, 2, 1, 8, out));
    f = fragment({{0xFD, 1}, {0xFD, 1}, {0xFD, 1}});
    f[12] = 0xF0;
    EXPECT_FALSE(rle_decode_frame(f.data(), f.size(), 2, 2, 3, 8, out));
    EXPECT_FALSE(rle_decode_frame(f.data(), 63, 2, 2, 3, 8, out));
}
