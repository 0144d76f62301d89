// Vendor formats: Sonix ultrasound layouts and tags, QCT slices, DXA records and the
// row-shift correction, and their refusals.
#include <gtest/gtest.h>

#include <tuple>
#include <wx/log.h>

#include "commands/loader_chain.h"
#include "image_test_support.h"
#include "io/dfe_file.h"
#include "io/qct_file.h"
#include "io/sonix_file.h"

namespace {

std::string write_bytes(const std::string& name, const std::vector<unsigned char>& bytes)
{
    const std::string path = fresh_folder() + name;
    write_file(path, std::vector<char>(bytes.begin(), bytes.end()));
    return path;
}

// The fixture at `path` with `values` written from byte `at` on, saved afresh.
std::string with_bytes(const std::string& path, size_t at, const std::vector<unsigned char>& values)
{
    const std::vector<char> raw = file_bytes(path);
    std::vector<unsigned char> bytes(raw.begin(), raw.end());
    std::copy(values.begin(), values.end(), bytes.begin() + (long)at);
    return write_bytes("patched" + path.substr(path.rfind('.')), bytes);
}

// A Sonix header of these fields followed by 64 bytes of 1.
std::vector<unsigned char> sonix_file(int frames, int d1, int d2, int bits, int frequency)
{
    std::vector<unsigned char> h(76, 0);
    const int at[5] = {4, 8, 12, 16, 60};
    const int v[5] = {frames, d1, d2, bits, frequency};
    for (int k = 0; k < 5; k++)
        for (int b = 0; b < 4; b++) h[at[k] + b] = (unsigned char)((uint32_t)v[k] >> (8 * b));
    h.resize(76 + 64, 1);
    return h;
}

}  // namespace

TEST(Sonix, RfLinesBecomeRowsWithTheirSpacing)
{
    const std::string path = vendor_fixture("lines.rf");
    ASSERT_TRUE(open_with(load_sonix_file, path));
    // A line of samples a row.
    EXPECT_EQ(std::tie(info.width, info.height, info.file_type, info.frames, info.first_frame, info.frame,
                       info.sonix_mode),
              std::make_tuple(5, 3, FILE_SONIX, 2, 1, 1, 2));
    EXPECT_NEAR(info.pixel_width, 0.01925, 1e-12);
    EXPECT_NEAR(info.pixel_height, 0.234, 1e-12);
    // Line 1 is negative: -100 + s.
    EXPECT_EQ(std::tie(info.data_colour, info.raw_image[5 + 2], info.data_min, info.data_max),
              std::make_tuple(0, -98 * 16, -100, 104));
    ASSERT_TRUE(reload_frame(2));
    EXPECT_EQ(std::tie(info.raw_image[0], info.data_min), std::make_tuple(200 * 16, -200));

    // Another frequency (20 MHz, 0x01312D00) gives mode 1 and a spacing of half a sample period.
    ASSERT_TRUE(load_with(load_sonix_file, with_bytes(path, 60, {0x00, 0x2D, 0x31, 0x01})));
    EXPECT_EQ(info.sonix_mode, 1);
    EXPECT_NEAR(info.pixel_width, 0.0385, 1e-12);
}

TEST(Sonix, ColourFramesWithTagsAndGreyFramesWithout)
{
    ASSERT_TRUE(open_with(load_sonix_file, vendor_fixture("tagged.b32")));
    EXPECT_EQ(std::tie(info.file_type, info.data_colour, info.channels, info.width, info.height),
              std::make_tuple(FILE_SONIX_TAGGED, 1, 3, 2, 2));
    // Bytes 10, 20, 30, 255 are B, G, R, x.
    EXPECT_EQ(std::tie(info.raw_image[0], info.raw_image[1], info.raw_image[2], info.data_min, info.data_max),
              std::make_tuple(30 * 16, 20 * 16, 10 * 16, 10, 33));
    ASSERT_TRUE(reload_frame(2));  // past the second tag
    EXPECT_EQ(info.raw_image[2], 110 * 16);

    ASSERT_TRUE(open_with(load_sonix_file, vendor_fixture("grey.b8")));
    EXPECT_EQ(std::tie(info.file_type, info.width, info.height, info.frames, info.sonix_mode),
              std::make_tuple(FILE_SONIX, 4, 2, 3, 0));
    ASSERT_TRUE(reload_frame(3));
    EXPECT_EQ(info.raw_image[7], (100 + 7) * 16);
}

TEST(Sonix, BadHeadersAndShortFiles)
{
    wxLogNull quiet;
    fresh_record();
    for (const auto& bytes : {sonix_file(1, 4, 2, 12, 0), sonix_file(0, 4, 2, 8, 0), sonix_file(1, 0, 2, 8, 0),
                              sonix_file(1, 4, -2, 8, 0), sonix_file(1, 1 << 30, 1 << 30, 32, 0)})
        EXPECT_FALSE(load_with(load_sonix_file, write_bytes("bad.b8", bytes)));
    EXPECT_EQ(info.raw_image, nullptr);
    EXPECT_FALSE(load_with(load_sonix_file, write_bytes("tiny.b8", {1, 2, 3})));

    // A header promising 5 frames in a file holding 3 offers the 3.
    const std::string path = vendor_fixture("short.b8");
    info.file_name = path;
    ASSERT_TRUE(load_with(load_sonix_file, path));
    EXPECT_EQ(info.frames, 3);
    EXPECT_TRUE(reload_frame(3));
    EXPECT_FALSE(load_with(load_sonix_file, path, 4));
    EXPECT_EQ(info.frame, 3);
}

TEST(Qct, SlicesFromTheOffsetTable)
{
    const std::string path = vendor_fixture("slices.qct");
    ASSERT_TRUE(open_with(load_qct_file, path));
    // slices 1 and 2 of n = 3
    EXPECT_EQ(std::tie(info.file_type, info.first_frame, info.frame, info.frames, info.width, info.height),
              std::make_tuple(FILE_QCT, 1, 1, 2, 3, 2));
    EXPECT_EQ(std::tie(info.pixel_width, info.pixel_height, info.slice_thickness, info.slice_location,
                       info.position[2]),
              std::make_tuple(0.5, 0.75, 1.25, -15.0, -15.0));
    // Slice 1 holds 1010 + i: a stored 1000 would be water (0).
    EXPECT_EQ(std::tie(info.raw_image[0], info.data_max), std::make_tuple(10 * 16, 15));
    ASSERT_TRUE(reload_frame(2));
    EXPECT_EQ(std::tie(info.raw_image[0], info.slice_location), std::make_tuple(20 * 16, -10.0));
    wxLogNull quiet;
    EXPECT_FALSE(load_with(load_qct_file, path, 3));
    EXPECT_EQ(info.frame, 2);

    // Refused: a table of one slice (n = 1), a leading value other than 1, slice 1's offset
    // far outside the file, and a last slice missing its last sample.
    for (const auto& [at, value] : {std::pair<size_t, unsigned char>{40, 1}, {32, 2}, {48 + 8 + 7, 0x40}})
        EXPECT_FALSE(load_with(load_qct_file, with_bytes(path, at, {value}))) << at;
    const std::vector<char> raw = file_bytes(path);
    EXPECT_FALSE(load_with(load_qct_file, write_bytes("cut.qct", {raw.begin(), raw.end() - 1}), 2));
    EXPECT_EQ(info.raw_image[0], 20 * 16);
}

TEST(Dxa, RecordsFoundByTheirMarker)
{
    const std::string path = vendor_fixture("scan.dfe");
    ASSERT_TRUE(open_with(load_dfe_file, path));
    EXPECT_EQ(std::tie(info.file_type, info.frames, info.first_frame, info.width, info.height),
              std::make_tuple(FILE_DXA, 2, 0, 4, 3));
    EXPECT_NEAR(info.pixel_height, 0.10625, 1e-12);
    EXPECT_DOUBLE_EQ(info.slice_thickness, 0.01);
    // -32000 is stored but does not lower the range.
    EXPECT_EQ(std::tie(info.raw_image[0], info.raw_image[5], info.data_min, info.data_max),
              std::make_tuple(-32000 * 16, -100 * 16, -100, 100));
    ASSERT_TRUE(reload_frame(1));
    EXPECT_EQ(std::tie(info.width, info.raw_image[3]), std::make_tuple(2, 303 * 16));

    wxLogNull quiet;
    EXPECT_FALSE(load_with(load_dfe_file, path, 2));
    // Signature byte 3 must be zero; the first record claims 200 rows.
    for (const auto& [at, value] : {std::pair<size_t, unsigned char>{3, 1}, {13 + 8 + 5, 200}})
        EXPECT_FALSE(load_with(load_dfe_file, with_bytes(path, at, {value}))) << at;
    EXPECT_EQ(info.raw_image[3], 303 * 16);
}

TEST(Dxa, RowShiftEstimateAndCorrection)
{
    // Rows above boundary 16 hold r, rows from 16 on hold r - 5: the rows match again
    // two rows apart, a shift of 2.0.
    const int w = 3, h = 32;
    std::vector<int> image(w * h);
    for (int i = 0; i < w * h; i++) image[i] = (i / w < 16 ? i / w : i / w - 5) * 16 * 10;
    EXPECT_DOUBLE_EQ(estimate_row_shift(image.data(), w, 16), 2.0);

    // No qualifying column (all below -3000) gives 0.0.
    std::vector<int> dark(w * h, -4000 * 16);
    EXPECT_DOUBLE_EQ(estimate_row_shift(dark.data(), w, 16), 0.0);

    // A vertical ramp needs no shift: the correction leaves it as it was.
    std::vector<int> ramp(w * h);
    for (int i = 0; i < w * h; i++) ramp[i] = (i / w * 7 + i % w) * 16;
    EXPECT_DOUBLE_EQ(estimate_row_shift(ramp.data(), w, 16), 0.0);
    std::vector<int> corrected = ramp;
    correct_row_shifts(corrected.data(), w, h);
    EXPECT_EQ(corrected, ramp);

    // With the shift of 2.0 every row of both blocks is stretched about the block centre:
    // row 0 of block 0 samples p = 0 + 2 x 7.5 / 7.5 = 2 (row 2 exactly).
    corrected = image;
    correct_row_shifts(corrected.data(), w, h);
    EXPECT_EQ(corrected[0], image[2 * w]);
    // Row 4: p = 4 + 2 x 3.5 / 7.5 = 4.9333: 0.0667 of row 4 and 0.9333 of row 5.
    EXPECT_EQ(corrected[4 * w], (int)(image[4 * w] * (1 - 14.0 / 15) + image[5 * w] * (14.0 / 15)));
    // Heights that are not a multiple of 16 are left alone.
    std::vector<int> odd(w * 40, 5);
    correct_row_shifts(odd.data(), w, 40);
    EXPECT_EQ(odd, std::vector<int>(w * 40, 5));
}

TEST(VendorDamaged, EveryTruncationIsRefusedOrReadsOnlyWhatIsThere)
{
    // Each fixture cut at every length (every third for the TIFF files): the loaders must
    // fail cleanly (record untouched) or load from the bytes present; the sanitizer build
    // checks the reads.
    wxLogNull quiet;
    const struct {
        std::string path;
        bool (*load)(char*, int);
    } files[] = {{vendor_fixture("lines.rf"), load_sonix_file},  {vendor_fixture("tagged.b32"), load_sonix_file},
                 {vendor_fixture("slices.qct"), load_qct_file},  {vendor_fixture("scan.dfe"), load_dfe_file},
                 {image_fixture("minmax16.tif"), load_image_file}, {image_fixture("pages16.tif"), load_image_file},
                 {image_fixture("ct16.tif"), load_image_file}};
    const std::string dir = fresh_folder();
    for (const auto& f : files) {
        const std::vector<char> whole = file_bytes(f.path);
        const bool tiff = f.load == load_image_file;
        for (size_t n = 0; n < whole.size(); n += tiff ? 3 : 1) {
            const std::string cut = dir + "cut" + f.path.substr(f.path.rfind('.'));
            write_file(cut, std::vector<char>(whole.begin(), whole.begin() + (long)n));
            fresh_record(cut);
            const bool loaded = load_with(f.load, cut);
            // A failure leaves the fresh record (width 1200, no samples).
            EXPECT_EQ(std::make_pair(info.raw_image != nullptr, loaded || info.width == 1200),
                      std::make_pair(loaded, true)) << f.path << " cut at " << n;
        }
    }
}
