// SSIM maps against scikit-image's structural_similarity (Gaussian weights, sigma 1.5),
// whose values were computed once and committed with the fixtures.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>
#include <wx/image.h>

#include "evaluation/ssim.h"

namespace {

std::vector<int> grey_plane(const std::string& name, int& w, int& h)
{
    wxImage image(wxString(std::string(VOXMIRA_FIXTURES) + "/images/" + name), wxBITMAP_TYPE_PNG);
    w = image.GetWidth();
    h = image.GetHeight();
    std::vector<int> plane((size_t)w * h);
    for (size_t i = 0; i < plane.size(); i++) plane[i] = image.GetData()[3 * i];
    return plane;
}

// scikit-image leaves out a border of 5 pixels (its 11-tap window) from the mean.
double interior_mean(const std::vector<int>& map, int w, int h)
{
    double sum = 0;
    int n = 0;
    for (int y = 5; y < h - 5; y++)
        for (int x = 5; x < w - 5; x++, n++) sum += map[(size_t)y * w + x];
    return sum / n / 4080;
}

}  // namespace

TEST(Ssim, AgreesWithScikitImageAndIsOneOnIdenticalImages)
{
    int w, h;
    std::vector<int> clean = grey_plane("ssim_clean.png", w, h);
    std::vector<int> noisy = grey_plane("ssim_noisy.png", w, h);
    std::vector<int> smooth = grey_plane("ssim_smooth.png", w, h);
    ASSERT_EQ(w, 48);
    ASSERT_EQ(h, 40);
    std::vector<int> map_noisy(w * h, -1), map_smooth(w * h, -1);
    ssim(clean.data(), noisy.data(), w, h, map_noisy.data(), smooth.data(), map_smooth.data());

    std::ifstream expected(std::string(VOXMIRA_FIXTURES) + "/images/ssim_expected.txt");
    std::string line;
    int rows = 0;
    while (std::getline(expected, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream fields(line);
        std::string name;
        double mean, at_20_24, mean9, at9;
        fields >> name >> mean >> at_20_24 >> mean9 >> at9;
        const std::vector<int>& map = name == "noisy" ? map_noisy : map_smooth;
        // scikit-image's window has 11 taps; the 9-tap window leaves out its outer pair
        // (0.2 % of the weight per direction), which moves local variances by about 1 %.
        EXPECT_NEAR(interior_mean(map, w, h), mean, 0.006) << name;
        EXPECT_NEAR(map[20 * w + 24] / 4080.0, at_20_24, 0.015) << name;
        // Against the same 9-tap index: only the truncation to 1/4080 steps remains.
        double whole = 0;
        for (int v : map) whole += v;
        EXPECT_NEAR(whole / map.size() / 4080, mean9, 1.0 / 4080) << name;
        EXPECT_NEAR(map[20 * w + 24] / 4080.0, at9, 1.0 / 4080) << name;
        rows++;
    }
    EXPECT_EQ(rows, 2);

    // An image against itself is 1 everywhere.
    std::vector<int> map(w * h), map2(w * h, -7);
    ssim(clean.data(), clean.data(), w, h, map.data(), nullptr, map2.data());
    EXPECT_EQ(map, std::vector<int>(w * h, 4080));
    EXPECT_EQ(map2, std::vector<int>(w * h, -7)) << "no z: the second map is untouched";

    // A one-pixel image: edge replication makes every window that pixel.
    int one_x = 100, one_y = 100, out = 0;
    ssim(&one_x, &one_y, 1, 1, &out, nullptr, nullptr);
    EXPECT_EQ(out, 4080);
}

TEST(Ssim, LargeImagesGiveTheSameMapAsTheirRows)
{
    // Images of 2^16 pixels or more are split between two threads; each half computed on
    // its own (with the rows around the split) must give the same values.
    const int w = 256, h = 300;
    std::vector<int> x(w * h), y(w * h);
    for (int i = 0; i < w * h; i++) {
        x[i] = (i * 37 + (i / w) * 11) % 256;
        y[i] = (x[i] + (i % 7) * 9) % 256;
    }
    std::vector<int> whole(w * h);
    ssim(x.data(), y.data(), w, h, whole.data(), nullptr, nullptr);
    // A band of 40 rows around the split: its inner rows see the same neighbourhoods.
    const int y0 = 130, rows = 40;
    std::vector<int> band(w * rows);
    ssim(x.data() + y0 * w, y.data() + y0 * w, w, rows, band.data(), nullptr, nullptr);
    for (int r = 4; r < rows - 4; r++)
        for (int c = 0; c < w; c++) ASSERT_EQ(band[r * w + c], whole[(y0 + r) * w + c]) << r << "," << c;
}
