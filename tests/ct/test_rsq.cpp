// Micro-CT raw files: header refusals, frames against the file's own bytes, the sinogram
// cache, the ramp filter and FFT against naive transforms, the phantom against its truth.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstring>
#include <fstream>
#include <string>
#include <valarray>
#include <vector>
#include <wx/log.h>

#include "core/record.h"
#include "ct/fft.h"
#include "ct/reconstruction.h"
#include "ct/rsq_file.h"

namespace {

const double pi = 3.14159265358979323846;

std::string fixture(const std::string& name) { return std::string(VOXMIRA_FIXTURES) + "/rsq/" + name; }

std::vector<uint8_t> bytes_of(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), {});
}

void put_int(std::vector<uint8_t>& b, size_t at, int32_t v) { std::memcpy(b.data() + at, &v, 4); }

std::string write_temp(const std::vector<uint8_t>& b, const std::string& name)
{
    const std::string path = ::testing::TempDir() + name;
    std::ofstream(path, std::ios::binary).write((const char*)b.data(), (std::streamsize)b.size());
    return path;
}

bool load_frame(const std::string& path, int f)
{
    std::vector<char> name(path.begin(), path.end());
    name.push_back('\0');
    return load_rsq_file(name.data(), f, true);
}

// Loads frame f of `path` in `mode` (and `recon`) into a fresh record.
bool load(const std::string& path, int mode, int f, int recon = 0)
{
    reset_info();
    info.xtreme_load = mode;
    info.xtreme_recon = recon;
    return load_frame(path, -1) && (f == 1 || load_frame(path, f));
}

std::vector<int> raw() { return std::vector<int>(info.raw_image, info.raw_image + (size_t)info.width * info.height); }

// The fixture's layout as the generator made it: binning 8, 83 views, 128 used samples,
// 19 records in stacks of 7.
const int X = 134, Y = 85, Z = 19, S = 7, N = 2, lead = 4;

int16_t sample(const std::vector<uint8_t>& file, int record, int row, int x)
{
    int16_t v;
    std::memcpy(&v, file.data() + 512 + (((size_t)record * Y + row) * X + lead + x) * 2, 2);
    return v;
}

}  // namespace

TEST(RsqHeader, UndefinedOrUnbackedGeometryIsRefusedWithAReason)
{
    const std::vector<uint8_t> good = bytes_of(fixture("phantom.rsq"));
    rsq_layout l;
    std::string why;
    ASSERT_TRUE(read_rsq_layout(good.data(), good.size(), l, why)) << why;
    // Two stacks of 3 shown records and 1 of the partial stack; 128 used samples.
    EXPECT_EQ(std::make_pair(l.Fr, l.P), std::make_pair(7, 128));
    // Sizes zero, negative or one short of the data; binning 0, 139 (no fan) or 1 (stacks of
    // 56, none whole); stacks of 4 (nothing shown); no sample pitch; more records than the
    // file holds; no view beside the reference rows; data beyond the end.
    const std::pair<size_t, int32_t> cases[] = {
        {44, 0}, {48, 0}, {52, 0}, {56, -1}, {60, -1}, {44, X - 1}, {48, Y - 1}, {52, Z - 1}, {92, X - 1},
        {92, 139 * X}, {92, 1 * X}, {96, 8 * 4}, {72, 0}, {52, Z + 1}, {48, 1}, {48, 2}, {508, 1000}};
    for (const auto& [at, value] : cases) {
        std::vector<uint8_t> bad = good;
        put_int(bad, at, value);
        EXPECT_FALSE(read_rsq_layout(bad.data(), bad.size(), l, why)) << "offset " << at << " value " << value;
        EXPECT_FALSE(why.empty()) << "offset " << at;
    }
    // More than 8192 used samples: refused before any row is read.
    std::vector<uint8_t> wide = good;
    put_int(wide, 44, 9000);
    put_int(wide, 92, 8 * 9000);
    EXPECT_FALSE(read_rsq_layout(wide.data(), wide.size(), l, why));
    // Not a raw file at all: refused without a reason (the next loader may take it).
    std::vector<uint8_t> other = good;
    other[3] = 'x';
    EXPECT_FALSE(read_rsq_layout(other.data(), other.size(), l, why));
    EXPECT_TRUE(why.empty());
    EXPECT_FALSE(read_rsq_layout(good.data(), 100, l, why));
}

// Frames map to the inner records of each stack, the last stack partial; every frame the
// slider offers loads, one more does not.
TEST(RsqFrames, EveryOfferedFrameLoadsInEveryModeAndNoOther)
{
    const std::vector<uint8_t> file = bytes_of(fixture("phantom.rsq"));
    rsq_layout l;
    std::string why;
    ASSERT_TRUE(read_rsq_layout(file.data(), file.size(), l, why));
    std::vector<int> shown;
    for (int q = 0; q < Z; q++) {
        const int inner = q % S, stack_size = q / S < Z / S ? S : Z % S;
        if (inner >= N && inner < stack_size - N) shown.push_back(q);
    }
    ASSERT_EQ((int)shown.size(), l.Fr);
    for (int f = 1; f <= l.Fr; f++) EXPECT_EQ(rsq_record_of_frame(l, f), shown[f - 1]) << f;

    wxLogNull quiet;
    for (int mode = 0; mode <= 4; mode++) {
        const int last = mode == 1 ? Y : l.Fr;
        EXPECT_TRUE(load(fixture("phantom.rsq"), mode, last)) << "mode " << mode;
        EXPECT_EQ(std::vector<int>({info.frames, info.frame, info.file_type}), std::vector<int>({last, last, -7}));
        EXPECT_FALSE(load(fixture("phantom.rsq"), mode, last + 1)) << "mode " << mode;
    }
}

TEST(RsqFrames, SinogramAndProjectionSamplesFromTheFileBytes)
{
    const std::vector<uint8_t> file = bytes_of(fixture("phantom.rsq"));
    rsq_layout l;
    std::string why;
    ASSERT_TRUE(read_rsq_layout(file.data(), file.size(), l, why));
    // Sample x of data row `row` of record q against its dark (row 0) and bright (row 1) levels.
    auto converted = [&](int q, int row, int x) {
        const int I = sample(file, q, row, x), Dk = sample(file, q, 0, x), Br = sample(file, q, 1, x);
        const double a = -1000.0 * std::log((double)(I - Dk) / (Br - Dk));
        return std::isfinite(a) && a > 0 ? (int)(16 * a) : 0;
    };
    // Sinogram of frame 5: row r is data row r + 2 of its record.
    const int q5 = rsq_record_of_frame(l, 5);
    ASSERT_TRUE(load(fixture("phantom.rsq"), 0, 5));
    ASSERT_EQ(std::make_pair(info.width, info.height), std::make_pair(128, Y - 2));
    for (int r = 0; r < Y - 2; r += 7)
        for (int x = 0; x < 128; x++) ASSERT_EQ(info.raw_image[r * 128 + x], converted(q5, r + 2, x));
    EXPECT_DOUBLE_EQ(info.pixel_width, 0.104);

    // X-ray projection: frames 1 and 2 the reference rows raw x 16, frame 3 converted.
    for (int f : {1, 2, 3}) {
        ASSERT_TRUE(load(fixture("phantom.rsq"), 1, f));
        ASSERT_EQ(info.height, 7);
        for (int r = 0; r < 7; r++) {
            const int q = rsq_record_of_frame(l, r + 1);
            for (int x = 0; x < 128; x += 5) {
                const int expected = f <= 2 ? 16 * sample(file, q, f - 1, x) : converted(q, 2, x);
                ASSERT_EQ(info.raw_image[r * 128 + x], expected) << "frame " << f << " row " << r;
            }
        }
    }
    // 0 for a sample at the dark level, bright at the dark level, or brighter than bright.
    EXPECT_EQ(std::vector<int>({rsq_convert(500, 500, 30000), rsq_convert(800, 500, 500), rsq_convert(31000, 500, 30000),
                                rsq_convert(-32768, 32767, -32768)}),
              std::vector<int>(4, 0));
}

// The reconstruction of each record correlates with the phantom inside the field of view;
// row 0 and the corners keep the empty value; the reductions shrink the slice.
TEST(RsqReconstruction, PhantomSlicesMatchTheirTruthAtEveryReduction)
{
    const std::vector<uint8_t> truth_bytes = bytes_of(fixture("phantom_truth.bin"));
    const size_t plane = 128 * 128;
    ASSERT_EQ(truth_bytes.size(), 7 * plane * 2);
    auto correlation = [&](int frame) {
        double sx = 0, sy = 0, sxx = 0, syy = 0, sxy = 0, n = 0;
        for (int y = 0; y < 128; y++)
            for (int x = 0; x < 128; x++) {
                if ((x - 64) * (x - 64) + (y - 64) * (y - 64) >= 60 * 60) continue;
                int16_t t;
                std::memcpy(&t, truth_bytes.data() + ((frame - 1) * plane + y * 128 + x) * 2, 2);
                const double a = info.raw_image[y * 128 + x], b = t;
                sx += a, sy += b, sxx += a * a, syy += b * b, sxy += a * b, n++;
            }
        return (sxy - sx * sy / n) / std::sqrt((sxx - sx * sx / n) * (syy - sy * sy / n));
    };
    for (int recon : {0, 1})
        for (int frame : {1, 4, 7}) {
            ASSERT_TRUE(load(fixture("phantom.rsq"), 2, frame, recon));
            EXPECT_GE(correlation(frame), 0.95) << "frame " << frame << " recon " << recon;
            for (int x = 0; x < 128; x++) ASSERT_EQ(info.raw_image[x], -16000);
            EXPECT_EQ(info.raw_image[127 * 128 + 127], -16000);
            EXPECT_TRUE(info.window_centre == 450 && info.window_range == 3100);
        }
    ASSERT_TRUE(load(fixture("phantom.rsq"), 4, 1));
    EXPECT_EQ(info.width, 32);
    EXPECT_DOUBLE_EQ(info.pixel_width, 4 * 0.104);
}

// Parallel-FDK keeps 2N filtered records when the frame steps by one and filters one;
// across a stack boundary every slot is new. With N = 0 it is the planar reconstruction.
TEST(RsqReconstruction, CacheSlidesByOneRecordAndNoNeighboursEqualsPlanar)
{
    ASSERT_TRUE(load(fixture("phantom.rsq"), 2, 1, 1));
    const int slots = 2 * N + 1;
    ASSERT_EQ(info.rsq_neighbours, N);
    const std::string path = fixture("phantom.rsq");
    const size_t slot_values = (size_t)(info.width / 2) * info.width;
    auto contents = [&] {
        std::vector<std::vector<double>> c;
        for (int j = 0; j < slots; j++) c.emplace_back(info.rsq_cache[j], info.rsq_cache[j] + slot_values);
        return c;
    };
    const std::vector<double*> before(info.rsq_cache, info.rsq_cache + slots);
    ASSERT_TRUE(load_frame(path, 2));
    // One step: the kept slots move by one (the same arrays), one is filtered.
    for (int j = 0; j + 1 < slots; j++) EXPECT_EQ(info.rsq_cache[j], before[j + 1]) << j;
    const std::vector<int> stepped = raw();
    const auto stepped_slots = contents();
    ASSERT_TRUE(load_frame(path, 4));  // record 3 -> 9: the next stack
    const std::vector<int> jumped = raw();
    const auto jumped_slots = contents();
    // Whatever the path, a frame's slots and slice are those of a fresh load.
    ASSERT_TRUE(load(fixture("phantom.rsq"), 2, 2, 1));
    EXPECT_EQ(contents(), stepped_slots);
    EXPECT_EQ(raw(), stepped);
    ASSERT_TRUE(load(fixture("phantom.rsq"), 2, 4, 1));
    EXPECT_EQ(contents(), jumped_slots);
    EXPECT_EQ(raw(), jumped);

    // Binning 19: no neighbours, so the cone table can only choose the record itself.
    std::vector<uint8_t> file = bytes_of(fixture("phantom.rsq"));
    put_int(file, 92, 19 * X);
    put_int(file, 96, 19 * S);
    const std::string single = write_temp(file, "single_record.rsq");
    ASSERT_TRUE(load(single, 2, 3, 0));
    const std::vector<int> planar = raw();
    ASSERT_TRUE(load(single, 2, 3, 1));
    EXPECT_EQ(info.rsq_neighbours, 0);
    EXPECT_EQ(raw(), planar);
    std::remove(single.c_str());
}

TEST(RsqReconstruction, ConeTableAndBackProjectionBands)
{
    // A source so close that outer rays have no real geometry: those take slot N.
    const int W = 16, k = 2, n = 3;
    std::vector<int> table(W * W);
    build_cone_table(table.data(), W, k, 10.0, 4.0, n);
    for (int j = 0; j < W; j++)
        for (int m = 0; m < W; m++) {
            const int v = table[j * W + m];
            EXPECT_TRUE(v >= 0 && v <= 2 * n);
            EXPECT_TRUE(std::abs(j - W / 2) * k < 10 || v == n) << j << "," << m;
        }
    // Rows back-projected in two bands equal the rows done at once.
    std::vector<double> slot((W / 2) * W);
    for (size_t i = 0; i < slot.size(); i++) slot[i] = std::sin(0.37 * i) * 50;
    double* slots[1] = {slot.data()};
    backprojection_input in;
    in.W = W;
    in.slots = slots;
    in.weight = 1.3;
    std::vector<int> whole(W * W, -16000), banded(W * W, -16000);
    back_project_angles(in, 0, W / 2, whole.data(), 0, W);
    for (int i = 0; i < W / 2; i += 3) {
        back_project_angles(in, i, std::min(i + 3, W / 2), banded.data(), 0, 5);
        back_project_angles(in, i, std::min(i + 3, W / 2), banded.data(), 5, W);
    }
    EXPECT_EQ(whole, banded);
}

// The FFT against a naive transform with the kernel exp(+2 pi i j n / N), the inverse
// against the original, for every power of two up to 4096.
TEST(Fft, MatchesANaiveTransformAndInvertsForEveryPowerOfTwo)
{
    for (size_t n = 1; n <= 4096; n *= 2) {
        std::valarray<std::complex<double>> x(n);
        for (size_t j = 0; j < n; j++) x[j] = {std::cos(0.3 * j * j + 1), std::sin(1.7 * j) - 0.2};
        const std::valarray<std::complex<double>> original = x;
        my_fft(x);
        double worst = 0;
        for (size_t m = 0; m < n; m += (n > 256 ? 37 : 1)) {
            std::complex<double> sum = 0;
            for (size_t j = 0; j < n; j++) sum += original[j] * std::polar(1.0, 2 * pi * (double)((j * m) % n) / n);
            worst = std::max(worst, std::abs(sum - x[m]));
        }
        EXPECT_LT(worst, 1e-9 * n) << n;
        my_ifft(x);
        for (size_t j = 0; j < n; j++) ASSERT_LT(std::abs(x[j] - original[j]), 1e-9) << n;
    }
    std::valarray<std::complex<double>> empty;
    my_ifft(empty);
    EXPECT_EQ(empty.size(), 0u);
}

// The ramp filter: the naive transform of its kernel at 100, and the cosine power of 99.
TEST(Fft, RampFilterWindowsAt100And99)
{
    EXPECT_EQ(make_ramp_filter(2, 100).size(), 4u);
    const int W = 6, L = 16;
    const std::vector<double> plain = make_ramp_filter(W, 100), windowed = make_ramp_filter(W, 99);
    ASSERT_EQ((int)plain.size(), L);
    std::vector<double> h(L, 0.0);
    h[0] = 0.25;
    for (int n = 1; n <= L / 2; n += 2) h[n] = -1.0 / (n * n * pi * pi);
    for (int n = L / 2 + 1; n < L; n++) h[n] = h[L - n];
    for (int m = 0; m < L; m++) {
        double re = 0;
        for (int j = 0; j < L; j++) re += h[j] * std::cos(2 * pi * j * m / L);
        EXPECT_NEAR(plain[m], re, 1e-12) << m;
        const int folded = m <= L / 2 ? m : L - m;
        const double w = folded == 0 ? 1.0 : std::pow(std::cos(pi * folded / L), 0.04);
        EXPECT_NEAR(windowed[m], re * w, 1e-12) << m;
    }
}
