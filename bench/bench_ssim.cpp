// SSIM with both maps on a 1024 x 1024 grey image (the comparison's SSIM report runs
// this per channel). bench/compare_ssim.sh times scikit-image on the same image.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <random>
#include <vector>

#include "evaluation/ssim.h"

namespace {

// The same synthetic planes the peer script builds: a smooth pattern, a noisy copy and
// a smoothed copy, 8-bit.
struct planes {
    static constexpr int size = 1024;
    std::vector<int> clean, noisy, smooth;
    planes() : clean(size * size), noisy(size * size), smooth(size * size)
    {
        std::mt19937 rng(7);
        std::normal_distribution<double> noise(0, 20);
        for (int y = 0; y < size; y++)
            for (int x = 0; x < size; x++) {
                const int i = y * size + x;
                clean[i] = (x * 3 + y * 5) % 256;
                const int n = clean[i] + (int)noise(rng);
                noisy[i] = n < 0 ? 0 : n > 255 ? 255 : n;
                smooth[i] = (3 * clean[i] + noisy[i]) / 4;
            }
    }
};

void BM_ssim_both_maps_1024(benchmark::State& state)
{
    static const planes p;
    std::vector<int> a(p.clean.size()), b(p.clean.size());
    for (auto _ : state) {
        ssim(const_cast<int*>(p.clean.data()), const_cast<int*>(p.noisy.data()), planes::size,
             planes::size, a.data(), const_cast<int*>(p.smooth.data()), b.data());
        benchmark::DoNotOptimize(a.data());
        benchmark::DoNotOptimize(b.data());
    }
}
BENCHMARK(BM_ssim_both_maps_1024)->Unit(benchmark::kMillisecond)->Repetitions(7)->ReportAggregatesOnly(true);

}  // namespace

BENCHMARK_MAIN();
