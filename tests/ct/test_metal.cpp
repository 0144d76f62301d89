// Metal-artefact reduction against the phantom scanned without its metal, the iteration
// rule, the simulated acquisition against its defining formulas, and the batch verbs.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "../batch_runner.h"
#include "../processing/pipeline_fixture.h"
#include "commands/metal_run.h"
#include "commands/open_data_set.h"
#include "commands/pipeline.h"
#include "core/record.h"
#include "core/ui.h"
#include "ct/metal_pipeline.h"
#include "ct/reconstruction.h"

namespace {

std::string phantom(const std::string& name) { return std::string(VOXMIRA_FIXTURES) + "/mar/" + name; }

bool open_slice(const std::string& path) { return open_data_set(wxString(path.c_str(), wxConvLibc), 1); }

std::vector<int> plane(const int* p) { return std::vector<int>(p, p + (size_t)info.proc_width * info.proc_height); }

// Error against the same scan without the metal, which shares the acquisition, over the body
// at a distance d from the metal: near it as 5 x 5 means (the streaks there are broad), far
// from it pixel by pixel (the fine streaks reach across).
struct artefact_scorer {
    std::vector<int> reference;
    std::vector<double> distance;
    int w = 0, h = 0;
    double rmse(const std::vector<int>& v, double d0, double d1, int r) const
    {
        double sum = 0;
        size_t n = 0;
        for (int y = 0; y < h; y++)
            for (int x = 0; x < w; x++) {
                const size_t i = (size_t)y * w + x;
                if (reference[i] <= -950 * 16 || distance[i] <= d0 || distance[i] > d1) continue;
                double e = 0;
                int k = 0;
                for (int yy = std::max(y - r, 0); yy <= std::min(y + r, h - 1); yy++)
                    for (int xx = std::max(x - r, 0); xx <= std::min(x + r, w - 1); xx++, k++)
                        e += v[(size_t)yy * w + xx] - reference[(size_t)yy * w + xx];
                sum += (e / (16.0 * k)) * (e / (16.0 * k));
                n++;
            }
        return std::sqrt(sum / std::max<size_t>(n, 1));
    }
    double near(const std::vector<int>& v) const { return rmse(v, 3, 10, 2); }
    double far(const std::vector<int>& v) const { return rmse(v, 20, 1e9, 0); }
};

std::string slice_name(int z) { return "mar_000" + std::to_string(z) + ".dcm"; }

// Leaves slice z of the metal phantom loaded.
artefact_scorer score_slice(int z)
{
    artefact_scorer s;
    EXPECT_TRUE(open_slice(phantom("nometal/" + slice_name(z))));
    s.reference = plane(info.raw_image);
    EXPECT_TRUE(open_slice(phantom("metal/" + slice_name(z))));
    s.w = info.width;
    s.h = info.height;
    std::vector<std::pair<int, int>> metal;
    for (int y = 0; y < s.h; y++)
        for (int x = 0; x < s.w; x++)
            if (info.raw_image[(size_t)y * s.w + x] >= 2800 * 16) metal.push_back({x, y});
    s.distance.assign((size_t)s.w * s.h, 1e9);
    for (size_t i = 0; i < s.distance.size(); i++)
        for (auto [x, y] : metal)
            s.distance[i] = std::min(s.distance[i], std::hypot(int(i % s.w) - x, int(i / s.w) - y));
    return s;
}

}  // namespace

TEST(Metal, EveryMethodRemovesStreaksNearTheMetalAndAddsNoneFarFromIt)
{
    for (int z = 1; z <= 3; z++) {
        const artefact_scorer s = score_slice(z);
        const std::vector<int> uncorrected = plane(info.raw_image);
        for (int method = 1; method <= 6; method++) {
            ASSERT_TRUE(open_slice(phantom("metal/" + slice_name(z))));
            set_metal_choice(method);
            ASSERT_TRUE(metal_apply()) << "method " << method;
            const std::vector<int> corrected = plane(info.processed_image);
            // A correction of the wrong sign, or back-projected along the wrong rays, keeps
            // or doubles the streaks near the metal; one that lands beside its rays streaks
            // the far tissue.
            SCOPED_TRACE(::testing::Message() << "slice " << z << ", method " << method);
            EXPECT_LT(s.near(corrected), 0.9 * s.near(uncorrected));
            EXPECT_LT(s.far(corrected), s.far(uncorrected));
            // The corrected slice is the new sampled image, so "Cont." goes on from it.
            EXPECT_EQ(corrected, plane(info.sampled_image));
            EXPECT_TRUE(ui_last_status(2).StartsWith("MAR in ")) << ui_last_status(2);
        }
    }
}

// Frame 6 of the bundled series has a 300 HU insert (centre 150, 158, radius 9) in line with
// its metal. The refined methods keep it (removing all fine detail of rays through metal as
// noise cut it with a dark line: mean 355, deviation 79 HU).
TEST(Metal, RefinedMethodsKeepAContrastInsertInLineWithTheMetal)
{
    auto insert = [](const int* v) {
        double sum = 0, sum2 = 0;
        int n = 0;
        for (int y = 152; y <= 164; y++)
            for (int x = 144; x <= 156; x++)
                if ((x - 150) * (x - 150) + (y - 158) * (y - 158) <= 36) {
                    const double hu = v[(size_t)y * info.proc_width + x] / 16.0;
                    sum += hu, sum2 += hu * hu, n++;
                }
        const double mean = sum / n;
        return std::make_pair(mean, std::sqrt(std::max(sum2 / n - mean * mean, 0.0)));
    };
    const std::string frame = std::string(VOXMIRA_SAMPLES) + "/ct_phantom/ct_phantom_0006.dcm";
    ASSERT_TRUE(open_slice(frame));
    const auto [mean0, sd0] = insert(info.raw_image);
    for (int method = 4; method <= 6; method++) {
        ASSERT_TRUE(open_slice(frame));
        set_metal_choice(method);
        ASSERT_TRUE(metal_apply());
        const auto [mean, sd] = insert(info.processed_image);
        EXPECT_NEAR(mean, mean0, 30) << "method " << method;
        EXPECT_LT(sd, 2 * sd0) << "method " << method;
    }
}

TEST(Metal, SliceWithoutMetalIsLeftAsItWas)
{
    ASSERT_TRUE(open_slice(phantom("nometal/mar_0002.dcm")));
    const std::vector<int> loaded = plane(info.raw_image);
    // One level above the densest pixel: the line finds that pixel (threshold - 1), but no
    // ray meets metal, so nothing runs and no time is reported.
    const int densest = *std::max_element(loaded.begin(), loaded.end()) / 16;
    info.metal_smooth_frames = 0;
    ui_status(2, "before");
    for (int threshold : {2800, densest + 1})
        for (int method : {1, 3, 4, 6}) {
            set_metal_choice(method);
            info.metal_threshold = threshold;
            EXPECT_FALSE(metal_apply()) << threshold << ", method " << method;
            EXPECT_TRUE(plane(info.processed_image) == loaded && plane(info.sampled_image) == loaded);
        }
    EXPECT_EQ(ui_last_status(2), "before");
}

TEST(Metal, IterationsStopOnlyWhenTheChangeIsSmall)
{
    // "Min change" 0 never stops early; a large one stops after the second iteration; a
    // prior with range 0 (the slider's lower end) runs without dividing by zero.
    const struct { int method, convergence, range, iterations; } rows[] = {
        {1, 0, 500, 4}, {3, 0, 500, 3}, {4, 0, 500, 5}, {6, 0, 500, 3}, {1, 100, 500, 6}, {2, 20, 0, 3}};
    for (const auto& r : rows) {
        ASSERT_TRUE(open_slice(phantom("metal/mar_0001.dcm")));
        set_metal_choice(r.method);
        info.metal_convergence = r.convergence;
        info.metal_range = r.range;
        info.metal_iterations = r.iterations;
        ASSERT_TRUE(metal_apply());
        EXPECT_GE(info.metal_iteration, r.convergence ? 2 : r.iterations) << "method " << r.method;
        EXPECT_LE(info.metal_iteration, r.iterations) << "method " << r.method;
        EXPECT_TRUE(std::isfinite(info.metal_change));
        EXPECT_TRUE(ui_last_status(2).EndsWith(wxString::Format(" secs (%i iterations)", info.metal_iteration)));
        // "RMAR (predict back)" is ready to predict again.
        EXPECT_EQ(info.metal_predict_back != 0, r.method == 6);
    }
}

namespace {

// A 64 x 64 slice of 0 HU, 3000 HU in the top-left pixel, in the "Sinogram" load mode.
void install_flat_slice()
{
    std::vector<int> v(64 * 64, 0);
    v[0] = 3000 * 16;
    install_image(64, 64, 0, 1, v);
    info.file_type = 0;
    info.data_min = -1000;
    info.data_max = 3000;
    info.xtreme_load = 0;
}

}  // namespace

TEST(Metal, FilterParameterWindowsTheRampWithExponentAQuarterPerStep)
{
    install_flat_slice();
    info.xtreme_load = 2;
    info.recon_filter = 75;
    info.recon_angle = 1;  // the lowest angle scale still projects one angle
    ASSERT_TRUE(reconstruct_slice());
    EXPECT_EQ(info.recon_angles, 1);
    EXPECT_TRUE(std::isfinite(info.metal_change));
    const std::vector<double> plain = make_ramp_filter(info.profile_length, 100);
    const int L = info.fft_length;
    ASSERT_EQ((int)plain.size(), L);
    for (int n : {1, L / 8, L / 4, L / 2 - 1})
        EXPECT_NEAR(info.ramp_filter[n], plain[n] * std::pow(std::cos(3.14159265358979 * n / L), 6.25),
                    1e-9 * std::abs(plain[n])) << n;
}

// The sinogram rows of a run without noise, and the noise of three runs at 40 dB: twice
// with the same seed, once with another.
TEST(Metal, SinogramRowsAreOffsetBy512AndSeededNoiseAt40dBHasOneRangePerSubsample)
{
    std::vector<int> runs[4];
    for (int k = 0; k < 4; k++) {
        install_flat_slice();
        info.recon_noise = k ? 40 : 0;
        info.recon_seed = k == 3 ? 7 : 1;
        ASSERT_TRUE(reconstruct_slice());
        runs[k] = plane(info.processed_image);
    }
    EXPECT_EQ(runs[1], runs[2]);
    EXPECT_NE(runs[1], runs[3]);
    const int K = info.recon_angles, w = info.proc_width, h = info.proc_height;
    ASSERT_GT(K, 8);
    ASSERT_LT(K, h);
    EXPECT_TRUE(info.backproject_pending);
    EXPECT_TRUE(ui_last_status(2).StartsWith("Reconstruction in "));
    const double pi = 3.14159265358979, f = K * 20.0 / ((double)(w + h) * (w + h) * pi);
    double sum = 0, sum2 = 0;
    for (int i = 0; i < h; i++) {
        // The ray through the image centre meets the bright corner only near 135 degrees.
        const int centre = runs[0][(size_t)i * w + w / 2];
        if (i >= K) {
            EXPECT_EQ(centre, 0) << "row " << i << " should be empty";
        } else if (std::abs(i * pi / K - 0.75 * pi) > 0.2) {
            EXPECT_EQ(centre, 512 * 16) << "row " << i;
        }
        for (int x = 0; x < w && i < K; x++) {
            const double noise = (runs[3][(size_t)i * w + x] - runs[0][(size_t)i * w + x]) / 16.0 / f;
            sum += noise;
            sum2 += noise * noise;
        }
    }
    const double n = (double)K * w, mean = sum / n, sd = std::sqrt(sum2 / n - mean * mean);
    EXPECT_NEAR(sd, 4000.0, 4000.0 * 0.06);
    EXPECT_NEAR(mean, 0.0, 4000.0 * 0.1);
}

TEST(Metal, RefusedOnColourAndWithoutData)
{
    reset_info();
    wxString why;
    EXPECT_FALSE(metal_apply(&why));
    EXPECT_FALSE(why.empty());
    EXPECT_FALSE(mar_data_refusal().empty());
    EXPECT_EQ(mdt_all_frames(nullptr), 0);

    install_image(8, 8, 1, 3, random_samples(8 * 8 * 3, 255, 3));
    const std::vector<int> raw(info.raw_image, info.raw_image + 8 * 8 * 3);
    why.clear();
    EXPECT_FALSE(reconstruct_slice(&why));
    EXPECT_TRUE(why.Contains("colour")) << why;
    EXPECT_TRUE(std::equal(raw.begin(), raw.end(), info.raw_image));
}

TEST(Metal, BatchVerbsCorrectReconstructAndRefuse)
{
    const std::string out = ::testing::TempDir() + "voxmira_mar.bin";
    batch_run_result r = run_batch("mar " + phantom("metal/mar_0001.dcm") + " --method 3 --out " + out, false);
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("\"ran\":true"), std::string::npos) << r.out;
    r = run_batch("recon " + phantom("nometal/mar_0001.dcm") + " --noise 30 --seed 3 --out " + out, false);
    EXPECT_EQ(r.status, 0) << r.out;
    // "Create MAR data" on three frames of the bundled series (the first without metal),
    // copied so that nothing is written beside the samples.
    const std::string dir = ::testing::TempDir() + "voxmira_mar_all/";
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    for (const char* name : {"ct_phantom_0002.dcm", "ct_phantom_0003.dcm", "ct_phantom_0004.dcm"})
        std::filesystem::copy_file(std::string(VOXMIRA_SAMPLES) + "/ct_phantom/" + name, dir + name);
    r = run_batch("mar " + dir + "ct_phantom_0003.dcm --all --method 1 --iterations 1", false);
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("\"frames_written\":3,\"frames_not_written\":0"), std::string::npos) << r.out;
    EXPECT_TRUE(std::filesystem::exists(dir + "bmar/ct_phantom_0004_refined.dcm"));
    // Refusals: both or neither of --out and --all, a method out of range, colour data.
    for (const std::string& bad :
         {"mar " + phantom("metal/mar_0001.dcm"), "mar " + phantom("metal/mar_0001.dcm") + " --all --out " + out,
          "mar " + phantom("metal/mar_0001.dcm") + " --method 7 --out " + out,
          "recon " + std::string(VOXMIRA_FIXTURES) + "/images/colour.png --out " + out}) {
        r = run_batch(bad);
        EXPECT_NE(r.status, 0) << bad << "\n" << r.out;
        EXPECT_NE(r.out.find("voxmira-batch"), std::string::npos) << r.out;
    }
}
