// The filter family on a 1024 x 1024 12-bit image (noise over a smooth ramp): the median
// with the circular mask at r = 1, 3, 7, 15 by both rank strategies, and the mean,
// Gaussian (with and without the level), guided and anisotropic filters at r = 3; and the
// default bitonic filter (local mask, r = 3, level 60) on 8-bit noise (sigma 20) over a
// smooth pattern at 512, 1024 and 2048 square, run after run in one process as the slider
// runs it (freed planes kept, so no first-touch page faults after the first run).
//
//   build-bench/bench/bench_filters [--benchmark_filter=median]
//   /usr/bin/python3 bench/filters_vs_opencv.py    (the OpenCV peers in the same run)
#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include <benchmark/benchmark.h>

#include "core/memory.h"
#include "core/record.h"
#include "processing/anisotropic_filter.h"
#include "processing/bitonic_filter.h"
#include "processing/filter_entries.h"
#include "processing/gaussian_filter.h"
#include "processing/guided_filter.h"
#include "processing/rank_filter.h"

namespace {

const int side = 1024;

const std::vector<int>& picture()
{
    static const std::vector<int> image = [] {
        std::vector<int> v((size_t)side * side);
        std::mt19937 rng(1);
        std::normal_distribution<double> noise(0, 80);
        for (int y = 0; y < side; y++)
            for (int x = 0; x < side; x++)
                v[(size_t)y * side + x] = (int)std::clamp(1000 + x + y + noise(rng), 0.0, 4095.0) * 16;
        return v;
    }();
    return image;
}

void setup()
{
    reset_info();
    info.mask = 0;
    info.level = 200;
    info.data_max = 4095;
}

void BM_median(benchmark::State& state)
{
    setup();
    info.use_histogram = state.range(1) != 0;
    std::vector<int> in = picture(), out(in.size());
    const filter_params p = filter_params_from_record();
    for (auto _ : state) rank_2d(in.data(), side, side, (int)state.range(0), 0.5, out.data(), 0, nullptr, false, p);
    state.SetLabel(info.use_histogram ? "histogram" : "sorting");
}
BENCHMARK(BM_median)
    ->ArgsProduct({{1, 3, 7, 15}, {1, 0}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_mean(benchmark::State& state)
{
    setup();
    std::vector<int> in = picture(), out(in.size());
    const filter_params p = filter_params_from_record();
    for (auto _ : state) mean_2d(in.data(), side, side, 3, out.data(), p);
}
BENCHMARK(BM_mean)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_gaussian(benchmark::State& state)
{
    setup();
    info.filter = 2;
    info.use_level = state.range(0) != 0;
    std::vector<int> in = picture(), out(in.size());
    const filter_params p = filter_params_from_record();
    for (auto _ : state) filter_2d(in.data(), side, side, 3 * 1.3, out.data(), p);
    state.SetLabel(info.use_level ? "with the level" : "plain");
}
BENCHMARK(BM_gaussian)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_guided(benchmark::State& state)
{
    setup();
    std::vector<int> in = picture(), out(in.size());
    for (auto _ : state) guided_filter(in.data(), side, side, 3, 200, out.data());
}
BENCHMARK(BM_guided)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_anisotropic(benchmark::State& state)
{
    setup();
    std::vector<int> in = picture(), out(in.size());
    const filter_params p = filter_params_from_record();
    for (auto _ : state)
        anisotropic_filter_2d(in.data(), side, side, 3 * 1.3, 0.6, out.data(), nullptr, nullptr, nullptr, false, p);
}
BENCHMARK(BM_anisotropic)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_bitonic_local(benchmark::State& state)
{
    keep_freed_memory();
    reset_info();
    info.mask = 2;
    info.level = 60;
    info.data_max = 255;
    const int n = (int)state.range(0);
    std::vector<int> in((size_t)n * n), out(in.size());
    std::mt19937 rng(2);
    std::normal_distribution<double> noise(0, 20);
    for (int y = 0; y < n; y++)
        for (int x = 0; x < n; x++) {
            const double clean = 128 + 90 * std::sin(x * 0.02) * std::cos(y * 0.015) + (((x / 64) + (y / 64)) % 2 ? 30 : -30);
            in[(size_t)y * n + x] = (int)std::clamp(std::round(clean + noise(rng)), 0.0, 255.0) * 16;
        }
    const filter_params p = filter_params_from_record();
    for (auto _ : state) bitonic_x_filter(in.data(), n, n, 3, info.centile / 100.0, out.data(), p);
}
BENCHMARK(BM_bitonic_local)->Arg(512)->Arg(1024)->Arg(2048)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
