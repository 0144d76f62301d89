// voxmira-batch "process" and "display": arguments, and the output of a loaded image
// against the same arithmetic computed here.
#include <gtest/gtest.h>

#include "batch_runner.h"

#include <fstream>
#include <iterator>
#include <string>
#include <vector>
#include <wx/image.h>

#include "../processing/pipeline_fixture.h"
#include "core/record.h"
#include "display/interpolation.h"
#include "display_reference.h"
#include "commands/pipeline.h"

namespace {

std::vector<unsigned char> read_file(const std::string& name)
{
    std::ifstream f(name, std::ios::binary);
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(f), {});
}

// A grey PNG written here; the image loader reads it as value x 16.
class BatchPipelineOnImage : public ::testing::Test {
protected:
    void SetUp() override
    {
        levels.resize(w * h);
        for (int y = 0; y < h; y++)
            for (int x = 0; x < w; x++) levels[y * w + x] = (x * 13 + y * 29 + (x * y) % 17) % 256;
        wxImage image(w, h);
        for (int i = 0; i < w * h; i++)
            for (int c = 0; c < 3; c++) image.GetData()[i * 3 + c] = (unsigned char)levels[i];
        png = ::testing::TempDir() + "batch_pipeline_grey.png";
        ASSERT_TRUE(image.SaveFile(png, wxBITMAP_TYPE_PNG));
    }
    void TearDown() override { reset_info(); }

    const int w = 40, h = 30;
    std::vector<int> levels;
    std::string png;
};

TEST_F(BatchPipelineOnImage, ProcessWritesTheFilteredImage)
{
    const std::string out = ::testing::TempDir() + "processed.bin";
    batch_run_result r = run_batch("process " + png + " --out " + out, false);
    ASSERT_EQ(r.status, 0) << r.out;
    std::vector<unsigned char> bytes = read_file(out);
    ASSERT_EQ(bytes.size(), (size_t)w * h * 4);
    for (int i = 0; i < w * h; i++) {
        const int v = bytes[i * 4] | bytes[i * 4 + 1] << 8 | bytes[i * 4 + 2] << 16 | bytes[i * 4 + 3] << 24;
        ASSERT_EQ(v, levels[i] * 16);
    }
    // A filter run reports its time (what it writes: BatchImages.SamplePair...).
    r = run_batch("process " + png + " --filter 2 --no-level --size 2 --out " + out);
    EXPECT_NE(r.out.find("Filtering took "), std::string::npos) << r.out;
}

TEST_F(BatchPipelineOnImage, DisplayMatchesTheDescribedArithmetic)
{
    const std::string out = ::testing::TempDir() + "display.bin";
    const batch_run_result r = run_batch("display " + png +
                                       " --size 96x64 --zoom 2.5 --centre 17,12 --interp 7"
                                       " --window 110,180 --line 2,3,30,20 --out " + out,
                                   false);
    ASSERT_EQ(r.status, 0) << r.out;
    const std::vector<unsigned char> got = read_file(out);

    std::vector<int> samples(w * h);
    for (int i = 0; i < w * h; i++) samples[i] = levels[i] * 16;
    install_image(w, h, 0, 1, samples);
    info.window_width = 96;
    info.window_height = 64;
    info.zoom = 2.5;
    info.centre = vertex2s{17, 12};
    info.window_centre = 110;
    info.window_range = 180;
    select_interpolation(7);
    sample_image();
    info.processed_image = new int[w * h];
    std::copy(info.sampled_image, info.sampled_image + w * h, info.processed_image);
    info.proc_width = w;
    info.proc_height = h;
    ASSERT_EQ(got.size(), 96u * 64 * 3);
    EXPECT_EQ(display_reference::first_difference(got.data()), -1);
    // The profile: (int)(4 x length) samples, one a line.
    size_t lines = 0;
    for (char c : r.out) lines += c == '\n';
    EXPECT_EQ(lines, (size_t)(4 * std::hypot(28.0, 17.0)));
}

}  // namespace
