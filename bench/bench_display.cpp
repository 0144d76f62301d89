// The display stage and the pipeline on large images.
//
//   display/bspline, display/lanczos3: create_display_image for a 1920 x 1080 window
//     showing a 1024 x 1024 grey image fitted to the window (bench/display_vs_opencv.py
//     times cv2.resize of the same image to the same size beside it).
//   pipeline/sample_process_4096: sample_image + process_image, no filter, 4096 x 4096,
//     shown fitted in a 1920 x 1080 window; sample_4096 and display_4096 time the parts.
#include <benchmark/benchmark.h>

#include <ctime>
#include <random>
#include <wx/app.h>

#include "core/record.h"
#include "display/display_image.h"
#include "display/interpolation.h"
#include "commands/pipeline.h"

namespace {

void install_grey(int w, int h, int window_w, int window_h)
{
    reset_info();
    info.width = w;
    info.height = h;
    info.data_colour = 0;
    info.channels = 1;
    info.colour = 0;
    info.raw_image = new int[(size_t)w * h];
    std::mt19937 rng(1);
    std::uniform_int_distribution<int> level(0, 4095 * 16);
    for (size_t i = 0; i < (size_t)w * h; i++) info.raw_image[i] = level(rng);
    info.window_width = window_w;
    info.window_height = window_h;
    info.display_image = new unsigned char[(size_t)window_w * window_h * 3];
    info.window_centre = 2048;
    info.window_range = 4096;
    set_default_zoom();
}

// CPU time of the whole process (every thread), in milliseconds.
double process_cpu_ms()
{
    timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

void display_fit(benchmark::State& state, int kind)
{
    install_grey(1024, 1024, 1920, 1080);
    select_interpolation(kind);
    sample_image();
    process_image();
    // On a shared machine the wall time includes waiting for a core; the CPU time of all
    // threads is reported beside it.
    double cpu = 0;
    for (auto _ : state) {
        const double start = process_cpu_ms();
        create_display_image();
        cpu += process_cpu_ms() - start;
        benchmark::DoNotOptimize(info.display_image[1920 * 540 * 3 + 960 * 3]);
    }
    state.counters["cpu_all_threads_ms"] = benchmark::Counter(cpu / state.iterations());
    reset_info();
}

void BM_display_bspline(benchmark::State& state) { display_fit(state, INTERP_BSPLINE); }
void BM_display_lanczos3(benchmark::State& state) { display_fit(state, INTERP_LANCZOS3); }
void BM_display_catmull_rom(benchmark::State& state) { display_fit(state, INTERP_CATMULL_ROM); }
void BM_display_bilinear(benchmark::State& state) { display_fit(state, INTERP_LINEAR); }

void BM_sample_process_4096(benchmark::State& state)
{
    // The whole image fitted in a 1920 x 1080 window, so all of it is processed, and the
    // display stage runs at the end as in the program.
    install_grey(4096, 4096, 1920, 1080);
    select_interpolation(INTERP_BSPLINE);
    for (auto _ : state) {
        sample_image();
        process_image();
        benchmark::DoNotOptimize(info.processed_image[0]);
    }
    reset_info();
}

void BM_sample_4096(benchmark::State& state)
{
    install_grey(4096, 4096, 1920, 1080);
    for (auto _ : state) {
        sample_image();
        benchmark::DoNotOptimize(info.sampled_image[0]);
    }
    reset_info();
}

void BM_display_4096(benchmark::State& state)
{
    install_grey(4096, 4096, 1920, 1080);
    select_interpolation(INTERP_BSPLINE);
    sample_image();
    process_image();
    for (auto _ : state) {
        create_display_image();
        benchmark::DoNotOptimize(info.display_image[0]);
    }
    reset_info();
}

}  // namespace

BENCHMARK(BM_display_bspline)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_display_lanczos3)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_display_catmull_rom)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_display_bilinear)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_sample_process_4096)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_sample_4096)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_display_4096)->Unit(benchmark::kMillisecond)->UseRealTime();

int main(int argc, char** argv)
{
    wxInitializer wx_init;
    info.histogram_bins = 256;
    info.histogram = new int[256]();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
