// DICOM reading in-process: the lossless JPEG decoder on a large RGB frame, a whole first
// open of that file, and the first open of a 500-file numbered series. The data are made
// by bench/dicom_peer_compare.py; set VOXMIRA_DICOM_BENCH_DATA to its data folder. Without
// it only the bundled CT sample series is timed.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>
#include <wx/app.h>
#include <wx/log.h>

#include "core/record.h"
#include "io/dicom_reader.h"
#include "io/lossless_jpeg.h"

namespace {

std::string data_folder()
{
    const char* d = std::getenv("VOXMIRA_DICOM_BENCH_DATA");
    return d ? d : "";
}

bool open_file(const std::string& path)
{
    reset_info();
    std::vector<char> buffer(path.begin(), path.end());
    buffer.push_back('\0');
    return load_dicom_file(buffer.data(), -1);
}

// The first fragment of the file's encapsulated pixel data (found by its item tag after the
// pixel data tag; good enough for files made by dcmcjpeg).
std::vector<unsigned char> first_fragment(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    std::vector<unsigned char> all((std::istreambuf_iterator<char>(f)), {});
    const unsigned char pixel[] = {0xE0, 0x7F, 0x10, 0x00};
    size_t at = 0;
    for (size_t i = 0; i + 4 < all.size(); i++)
        if (std::equal(pixel, pixel + 4, all.begin() + i)) at = i;
    const unsigned char item[] = {0xFE, 0xFF, 0x00, 0xE0};
    int seen = 0;
    for (size_t i = at; i + 8 < all.size(); i++)
        if (std::equal(item, item + 4, all.begin() + i) && ++seen == 2) {
            const uint32_t n = all[i + 4] | all[i + 5] << 8 | all[i + 6] << 16 | (uint32_t)all[i + 7] << 24;
            if (i + 8 + n <= all.size()) return {all.begin() + i + 8, all.begin() + i + 8 + n};
        }
    return {};
}

void BM_LosslessDecodeRgb3072x2048(benchmark::State& state)
{
    const std::string dir = data_folder();
    std::vector<unsigned char> stream = first_fragment(dir + "/rgb_3072x2048_ll.dcm");
    if (dir.empty() || stream.empty()) {
        state.SkipWithError("set VOXMIRA_DICOM_BENCH_DATA (bench/dicom_peer_compare.py)");
        return;
    }
    std::vector<unsigned char> out((size_t)3072 * 2048 * 3);
    for (auto _ : state) {
        const int r = JPEGLosslessDecodeImage(stream.data(), out.data(), 24, (int)stream.size(),
                                              out.size());
        benchmark::DoNotOptimize(r);
    }
}
BENCHMARK(BM_LosslessDecodeRgb3072x2048)->Unit(benchmark::kMillisecond);

void BM_OpenRgbLosslessFile(benchmark::State& state)
{
    const std::string dir = data_folder();
    if (dir.empty()) {
        state.SkipWithError("set VOXMIRA_DICOM_BENCH_DATA (bench/dicom_peer_compare.py)");
        return;
    }
    for (auto _ : state) benchmark::DoNotOptimize(open_file(dir + "/rgb_3072x2048_ll.dcm"));
}
BENCHMARK(BM_OpenRgbLosslessFile)->Unit(benchmark::kMillisecond);

void BM_OpenSeries500(benchmark::State& state)
{
    const std::string dir = data_folder();
    if (dir.empty()) {
        state.SkipWithError("set VOXMIRA_DICOM_BENCH_DATA (bench/dicom_peer_compare.py)");
        return;
    }
    for (auto _ : state) benchmark::DoNotOptimize(open_file(dir + "/series/ct_0001.dcm"));
}
BENCHMARK(BM_OpenSeries500)->Unit(benchmark::kMillisecond);

void BM_OpenBundledCtSeries(benchmark::State& state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(
            open_file(std::string(VOXMIRA_SAMPLES) + "/ct_phantom/ct_phantom_0001.dcm"));
}
BENCHMARK(BM_OpenBundledCtSeries)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv)
{
    wxInitializer wx_init;
    wxLog::EnableLogging(false);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
