// The batch tool's image-file verbs end to end: the bundled denoising pair (compare, and the
// report of a filter run), save and sequence, each checked against what it wrote.
#include <gtest/gtest.h>

#include "batch_runner.h"

#include <cmath>
#include <cstdio>
#include <string>
#include <wx/image.h>

#include "../io/image_test_support.h"
#include "io/image_file.h"

TEST(BatchImages, SamplePairReportsTheIndependentPsnr)
{
    const std::string noisy = std::string(VOXMIRA_SAMPLES) + "/camera_all_noise_016.png";
    const std::string clean = std::string(VOXMIRA_SAMPLES) + "/camera_all_ref_016.png";
    // PSNR in the reference's range (25/41 of full scale), computed here from the files.
    wxImage a(wxString(noisy), wxBITMAP_TYPE_PNG), b(wxString(clean), wxBITMAP_TYPE_PNG);
    ASSERT_TRUE(a.IsOk() && b.IsOk());
    const double range = 25.0 / 41;
    double sum = 0;
    const int n = a.GetWidth() * a.GetHeight();
    for (int i = 0; i < n; i++) {
        const double d = (a.GetData()[3 * i] - b.GetData()[3 * i]) / 255.0 / range;
        sum += d * d;
    }
    const double psnr = -10 * std::log10(sum / n);
    const batch_run_result cmp = run_batch("compare " + noisy);
    ASSERT_EQ(cmp.status, 0) << cmp.out;
    double reported = 0, result = 0, gain = 1;
    ASSERT_EQ(std::sscanf(cmp.out.c_str(), "PSNR(dB) %lf to %lf = %lf", &reported, &result, &gain), 3) << cmp.out;
    EXPECT_NEAR(reported, psnr, 0.01);
    EXPECT_EQ(gain, 0.0);

    // A filter that smooths (the level off) raises the PSNR against the paired reference.
    const std::string saved = ::testing::TempDir() + "camera_gauss.png";
    batch_run_result r = run_batch("process " + noisy + " --filter 2 --no-level --save " + saved, false);
    ASSERT_EQ(r.status, 0) << r.out;
    const size_t at = r.out.find("PSNR(dB) ");
    ASSERT_NE(at, std::string::npos) << r.out;
    ASSERT_EQ(std::sscanf(r.out.c_str() + at, "PSNR(dB) %lf to %lf = %lf", &reported, &result, &gain), 3);
    EXPECT_NEAR(reported, psnr, 0.01);
    EXPECT_GT(result, reported + 1.0);
    EXPECT_NEAR(gain, result - reported, 0.011);
    // The saved result is the processed image, of the input's size.
    r = run_batch("info " + saved + " --loader image", false);
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("\"width\":512,\"height\":512"), std::string::npos) << r.out;
    EXPECT_EQ(run_batch("process " + noisy + " --save out.xyz").status, 2) << "a bad --save type fails first";

    // An explicit reference: "Open reference" keeps ref_range 1 for a name without
    // "_all_noise"; the SSIM form is asked for.
    const batch_run_result ssim = run_batch("compare " + noisy + " --ref " + clean + " --ssim");
    ASSERT_EQ(ssim.status, 0) << ssim.out;
    EXPECT_EQ(ssim.out.rfind("SNR (SSIM) ", 0), 0u) << ssim.out;
    r = run_batch("process " + noisy + " --filter 2 --no-level --out " + saved + " --ssim", false);
    EXPECT_NE(r.out.find("SNR (SSIM) "), std::string::npos) << r.out;
    std::remove(saved.c_str());

    const batch_run_result missing = run_batch("compare " + clean);
    EXPECT_EQ(missing.status, 1) << missing.out;
    EXPECT_EQ(run_batch("compare " + noisy + " --ref " + image_fixture("colour.png")).status, 1);
}

TEST(BatchImages, SaveAndSequenceWriteWhatTheCommandsWrite)
{
    const std::string dir = fresh_folder();
    batch_run_result r = run_batch("save " + image_fixture("minmax16.tif") + " --out " + dir + "p.tif");
    ASSERT_EQ(r.status, 0) << r.out;
    fresh_record(dir + "p.tif");
    ASSERT_TRUE(load_with(load_image_file, dir + "p.tif"));
    EXPECT_EQ(info.raw_image[0], 100 * 16 * 16);  // range 100 .. 3860: 8 x 3860 < 32768, factor 16

    r = run_batch("save " + image_fixture("colour.png") + " --displayed --out " + dir + "d.bin");
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(file_bytes(dir + "d.bin").size(), 5u * 4 * 3);
    EXPECT_EQ(run_batch("save " + image_fixture("colour.png") + " --out " + dir + "x.gif").status, 2);
    EXPECT_EQ(run_batch("save " + image_fixture("colour.png")).status, 2);

    for (int k = 3; k <= 7; k++) {
        char name[32];
        std::snprintf(name, sizeof name, "frame_%04d.png", k);
        copy_file(image_fixture(std::string("seq/") + name), dir + name);
    }
    r = run_batch("sequence " + dir + "frame_0003.png --out " + dir + "avg.png --subsample 2 --average");
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out, "2\n");
    wxImage first(wxString(dir + "avg_0001.png"), wxBITMAP_TYPE_PNG);
    ASSERT_TRUE(first.IsOk());
    EXPECT_EQ(first.GetData()[0], 35);
    r = run_batch("sequence " + dir + "frame_0003.png --out " + dir + "all.bmp --displayed");
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out, "5\n");
}
