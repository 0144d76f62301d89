// Image-file loading: a 4096 x 4096 16-bit TIFF through the libtiff path, and the
// discovery of a 100-file PNG sequence (first open of one member). bench/compare_images.sh
// times the whole voxmira-batch process against tifffile on the same TIFF.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <tiffio.h>
#include <vector>
#include <wx/app.h>
#include <wx/image.h>

#include "core/record.h"
#include "io/image_file.h"

namespace {

std::string folder()
{
    static std::string dir;
    if (dir.empty()) {
        char pattern[] = "/tmp/voxmira_bench_XXXXXX";
        dir = std::string(mkdtemp(pattern)) + "/";
    }
    return dir;
}

std::string big_tiff()
{
    static std::string path;
    if (!path.empty()) return path;
    path = folder() + "big.tif";
    TIFF* tif = TIFFOpen(path.c_str(), "w");
    const uint32_t n = 4096;
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, n);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, n);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, (uint16_t)16);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, (uint16_t)1);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, (uint16_t)PHOTOMETRIC_MINISBLACK);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, (uint32_t)64);
    std::vector<uint16_t> row(n);
    for (uint32_t y = 0; y < n; y++) {
        for (uint32_t x = 0; x < n; x++) row[x] = (uint16_t)(x * 13 + y * 7);
        TIFFWriteScanline(tif, row.data(), y, 0);
    }
    TIFFClose(tif);
    return path;
}

std::string png_sequence()
{
    static std::string first;
    if (!first.empty()) return first;
    wxImage image(16, 16);
    for (int k = 0; k < 100; k++) {
        char name[64];
        std::snprintf(name, sizeof name, "seq_%04d.png", k);
        image.SaveFile(wxString(folder() + name), wxBITMAP_TYPE_PNG);
    }
    first = folder() + "seq_0000.png";
    return first;
}

bool first_open(const std::string& path)
{
    reset_info();
    info.file_name = path;
    std::vector<char> buffer(path.begin(), path.end());
    buffer.push_back('\0');
    return load_image_file(buffer.data(), -1);
}

void BM_load_tiff16_4096(benchmark::State& state)
{
    const std::string path = big_tiff();
    for (auto _ : state) {
        if (!first_open(path)) state.SkipWithError("not loaded");
        benchmark::DoNotOptimize(info.raw_image);
    }
}
BENCHMARK(BM_load_tiff16_4096)->Unit(benchmark::kMillisecond)->Repetitions(7)->ReportAggregatesOnly(true);

void BM_png_sequence_discovery_100(benchmark::State& state)
{
    const std::string path = png_sequence();
    for (auto _ : state) {
        if (!first_open(path) || info.frames != 100) state.SkipWithError("sequence not found");
    }
}
BENCHMARK(BM_png_sequence_discovery_100)->Unit(benchmark::kMicrosecond)->Repetitions(7)->ReportAggregatesOnly(true);

}  // namespace

int main(int argc, char** argv)
{
    wxInitializer wx;
    wxInitAllImageHandlers();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    reset_info();
    return 0;
}
