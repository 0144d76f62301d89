// The lossless JPEG decoder on hand-built streams: start values, difference categories,
// restart markers, output layouts, and refusal of malformed or hostile streams.
#include <gtest/gtest.h>

#include <cstring>
#include <tuple>

#include "dicom_test_support.h"
#include "io/lossless_jpeg.h"

namespace {

// Builds lossless streams whose one Huffman table gives every category 0..16 a 5-bit code
// equal to the category, so the entropy data are easy to write by hand.
class stream_builder {
public:
    stream_builder(int width, int height, int components, int precision, int predictor)
        : w_(width), h_(height), nc_(components), p_(precision), ss_(predictor) {}
    int restart = 0, point_transform = 0, frame_marker = 0xC3;

    // Appends one difference: its category code and extra bits.
    void difference(int diff)
    {
        int cat = 0, extra = 0;
        if (diff == 32768) {
            cat = 16;
        } else if (diff != 0) {
            const int a = diff < 0 ? -diff : diff;
            while ((1 << cat) <= a) cat++;
            extra = diff > 0 ? diff : diff + (1 << cat) - 1;
        }
        bits(cat, 5);
        if (cat > 0 && cat < 16) bits(extra, cat);
    }
    void restart_marker(int n)
    {
        pad();
        entropy_.insert(entropy_.end(), {0xFF, (uint8_t)(0xD0 + n)});
    }
    std::vector<uint8_t> finish()
    {
        pad();
        const uint8_t nc = (uint8_t)nc_;
        std::vector<uint8_t> s = {0xFF, 0xD8};
        // Frame header: precision, height, width, then per component its id, 1 x 1, table 0.
        std::vector<uint8_t> frame = {(uint8_t)p_, hi(h_), lo(h_), hi(w_), lo(w_), nc};
        for (int c = 0; c < nc_; c++) frame.insert(frame.end(), {(uint8_t)(c + 1), 0x11, 0});
        marker(s, frame_marker, frame);
        // One DC table: 17 codes of length 5 for the categories 0 .. 16.
        std::vector<uint8_t> table = {0x00, 0, 0, 0, 0, 17, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
        for (int v = 0; v <= 16; v++) table.push_back((uint8_t)v);
        marker(s, 0xC4, table);
        if (restart) marker(s, 0xDD, {hi(restart), lo(restart)});
        std::vector<uint8_t> scan = {nc};
        for (int c = 0; c < nc_; c++) scan.insert(scan.end(), {(uint8_t)(c + 1), 0x00});
        scan.insert(scan.end(), {(uint8_t)ss_, 0, (uint8_t)point_transform});
        marker(s, 0xDA, scan);
        s.insert(s.end(), entropy_.begin(), entropy_.end());
        s.insert(s.end(), {0xFF, 0xD9});
        return s;
    }

private:
    static uint8_t hi(int v) { return (uint8_t)(v >> 8); }
    static uint8_t lo(int v) { return (uint8_t)v; }
    // A marker segment: the marker, its length and `body`.
    static void marker(std::vector<uint8_t>& s, int m, const std::vector<uint8_t>& body)
    {
        s.insert(s.end(), {0xFF, (uint8_t)m, hi((int)body.size() + 2), lo((int)body.size() + 2)});
        s.insert(s.end(), body.begin(), body.end());
    }
    void bits(int value, int n)
    {
        for (int i = n - 1; i >= 0; i--) {
            acc_ = (acc_ << 1) | ((value >> i) & 1);
            if (++count_ < 8) continue;
            entropy_.push_back((uint8_t)acc_);
            if ((acc_ & 0xFF) == 0xFF) entropy_.push_back(0);  // byte stuffing
            acc_ = count_ = 0;
        }
    }
    void pad() { while (count_) bits(1, 1); }

    int w_, h_, nc_, p_, ss_;
    std::vector<uint8_t> entropy_;
    unsigned acc_ = 0, count_ = 0;
};

int decode(std::vector<uint8_t> stream, std::vector<uint8_t>& out, int out_bits)
{
    return JPEGLosslessDecodeImage(stream.data(), out.data(), out_bits, (int)stream.size(), out.size());
}

}  // namespace

// Whole frames decoded from hand-written differences, their samples as bytes or host words.
TEST(LosslessJpeg, FramesFromTheirDifferences)
{
    const struct {
        int width, height, components, precision, predictor, point_transform;
        std::vector<int> differences;
        int out_bits;
        std::vector<int> samples;
    } cases[] = {
        // Precision 12, predictor 1: 2048 + 5, then left neighbour - 3; second row from above.
        {2, 2, 1, 12, 1, 0, {5, -3, 100, -1}, 16, {2053, 2050, 2153, 2152}},
        // With a point transform of 2 the start is 2^(12 - 2 - 1); samples are not shifted.
        {1, 1, 1, 12, 1, 2, {1}, 16, {513}},
        // Category 16 adds half the word range: 32768 + 32768 wraps to 0.
        {3, 1, 1, 16, 1, 0, {32768, 32768, -32767}, 16, {0, 32768, 1}},
        // Three components give RGB bytes; the 8-bit layout takes the first component.
        {2, 1, 3, 8, 1, 0, {10, -20, 30, 1, 2, 3}, 24, {138, 108, 158, 139, 110, 161}},
        {2, 1, 3, 8, 1, 0, {10, -20, 30, 1, 2, 3}, 8, {138, 139}},
    };
    for (const auto& c : cases) {
        stream_builder b(c.width, c.height, c.components, c.precision, c.predictor);
        b.point_transform = c.point_transform;
        for (int d : c.differences) b.difference(d);
        std::vector<uint8_t> out(c.samples.size() * (c.out_bits == 16 ? 2 : 1));
        ASSERT_EQ(decode(b.finish(), out, c.out_bits), 0);
        std::vector<uint16_t> w(out.size() / 2);
        std::memcpy(w.data(), out.data(), w.size() * 2);
        EXPECT_EQ(c.out_bits == 16 ? std::vector<int>(w.begin(), w.end()) : std::vector<int>(out.begin(), out.end()),
                  c.samples);
    }
}

TEST(LosslessJpeg, EveryPredictorAgainstItsFormula)
{
    // Row 0: 128+10=138, 138+4=142, 142-6=136. Row 1 starts from above (138+2=140), then
    // each predictor from Ra=140 (left), Rb=142 (above), Rc=138 (above left), difference 3.
    const int expected[8] = {0, 143, 145, 141, 147, 145, 146, 144};
    for (int ss = 1; ss <= 7; ss++) {
        stream_builder b(3, 2, 1, 8, ss);
        for (int d : {10, 4, -6, 2, 3, 0}) b.difference(d);
        std::vector<uint8_t> out(6);
        ASSERT_EQ(decode(b.finish(), out, 8), 0) << ss;
        EXPECT_EQ(out[4], expected[ss]) << "predictor " << ss;
        EXPECT_EQ(out[3], 140);
    }
}

TEST(LosslessJpeg, RestartIntervalsRestartPredictionAndCheckTheirNumber)
{
    // One row per interval, 2 x 3 pixels.
    auto build = [](int second_marker) {
        stream_builder b(2, 3, 1, 8, 2);
        b.restart = 2;
        for (int d : {1, 1}) b.difference(d);  // 129, 130
        b.restart_marker(0);
        for (int d : {-1, 2}) b.difference(d);  // a fresh first row: 127, 129
        b.restart_marker(second_marker);
        for (int d : {0, 0}) b.difference(d);  // 128, 128
        return b.finish();
    };
    std::vector<uint8_t> out(6);
    ASSERT_EQ(decode(build(1), out, 8), 0);
    EXPECT_EQ(out, (std::vector<uint8_t>{129, 130, 127, 129, 128, 128}));
    EXPECT_EQ(decode(build(2), out, 8), -1);  // RST2 where RST1 belongs

    // Intervals that are not whole rows cannot be lossless data.
    stream_builder odd(2, 2, 1, 8, 1);
    odd.restart = 3;
    for (int i = 0; i < 4; i++) odd.difference(0);
    EXPECT_EQ(decode(odd.finish(), out = std::vector<uint8_t>(4), 8), -1);
}

TEST(LosslessJpeg, WideFramesBeyondFourThousandColumns)
{
    stream_builder b(5000, 2, 1, 8, 1);
    for (int i = 0; i < 10000; i++) b.difference(i == 0 ? 1 : (i == 9999 ? 7 : 0));
    std::vector<uint8_t> out(10000);
    ASSERT_EQ(decode(b.finish(), out, 8), 0);
    EXPECT_EQ(std::make_tuple(out[4999], out[5000], out[9999]), std::make_tuple(129, 129, 136));
}

TEST(LosslessJpeg, MalformedStreamsAreRefused)
{
    auto good = [] {
        stream_builder b(4, 4, 1, 8, 1);
        for (int i = 0; i < 16; i++) b.difference(i % 5 - 2);
        return b.finish();
    };
    std::vector<uint8_t> out(16);
    ASSERT_EQ(decode(good(), out, 8), 0);

    // Output that does not match the frame, either way; one component cannot fill RGB.
    for (const auto& [size, bits] : {std::pair<size_t, int>{15, 8}, {17, 8}, {48, 24}}) {
        std::vector<uint8_t> wrong(size);
        EXPECT_EQ(decode(good(), wrong, bits), -1) << size;
    }

    // Every truncation of the stream fails or decodes, never overruns.
    const std::vector<uint8_t> whole = good();
    for (size_t n = 1; n < whole.size() - 2; n++) {
        EXPECT_EQ(decode(std::vector<uint8_t>(whole.begin(), whole.begin() + n), out, 8), -1) << n;
    }

    // Entropy data that stop at the end-of-image marker rows before the frame is full.
    stream_builder short_data(64, 64, 1, 8, 1);
    for (int i = 0; i < 70; i++) short_data.difference(1);
    std::vector<uint8_t> frame(64 * 64);
    EXPECT_EQ(decode(short_data.finish(), frame, 8), -1);

    // Single bytes that spoil a good stream: a DCT frame marker, precision 17, a zero width,
    // predictor (Ss) 0, Huffman counts that cannot form a code (three codes of length 1), a
    // segment length running past the end.
    const size_t dht = 2 + 2 + 11, sos = dht + 2 + 2 + 1 + 16 + 17;
    ASSERT_EQ(good()[sos + 1], 0xDA);
    const std::vector<std::vector<std::pair<size_t, uint8_t>>> spoilt = {
        {{3, 0xC0}}, {{6, 17}}, {{9, 0}, {10, 0}}, {{sos + 7, 0}}, {{dht + 5, 3}}, {{dht + 2, 0xFF}}};
    for (const auto& edits : spoilt) {
        std::vector<uint8_t> s = good();
        for (const auto& e : edits) s[e.first] = e.second;
        EXPECT_EQ(decode(s, out, 8), -1) << edits[0].first;
    }
    // A scan whose table is not defined (the one table given is AC, or another number): the
    // user is told why.
    for (const uint8_t table : {0x10, 0x02}) {
        std::vector<uint8_t> s = good();
        s[dht + 4] = table;
        dicom_test::log_catcher log;
        EXPECT_EQ(decode(s, out, 8), -1);
        EXPECT_NE(log.text.find("Huffman table for lossless JPEG is not defined."), std::string::npos) << (int)table;
    }
}

TEST(LosslessJpeg, FrameHeaderIsReadWithoutDecoding)
{
    stream_builder b(300, 200, 3, 12, 4);
    const std::vector<uint8_t> s = b.finish();
    lossless_jpeg_frame f;
    ASSERT_TRUE(lossless_jpeg_read_frame(s.data(), s.size(), f));
    EXPECT_EQ(std::tie(f.width, f.height, f.components, f.precision, f.marker),
              std::make_tuple(300, 200, 3, 12, 0xC3));
    EXPECT_FALSE(lossless_jpeg_read_frame(s.data() + 1, s.size() - 1, f));

    // A DCT stream whose AC table comes before its frame: the header is still read (so a
    // baseline image can be checked before the JPEG handler sizes it), decoding refuses it.
    std::vector<uint8_t> dct = {0xFF, 0xD8, 0xFF, 0xC4, 0x00, 0x14, 0x10, 1};
    dct.resize(dct.size() + 16, 0);
    dct.insert(dct.end(), {0xFF, 0xC0, 0, 11, 8, 0, 16, 0, 24, 1, 1, 0x11, 0});
    ASSERT_TRUE(lossless_jpeg_read_frame(dct.data(), dct.size(), f));
    EXPECT_EQ(std::tie(f.marker, f.width, f.height), std::make_tuple(0xC0, 24, 16));
    std::vector<uint8_t> out(24 * 16);
    EXPECT_EQ(decode(dct, out, 8), -1);
}
