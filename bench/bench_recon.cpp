// The micro-CT reconstruction in-process: one planar slice from scratch (convert, rebin,
// ramp-filter, back-project), a frame step in "Planar projection" and a frame step in
// "Parallel-FDK" (the cache refilters one record). The raw file is the one
// bench/recon_vs_skimage.py makes (VOXMIRA_RSQ_BENCH_FILE); without it the test fixture.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "core/record.h"
#include "ct/rsq_file.h"

namespace {

std::vector<char> bench_file()
{
    const char* e = std::getenv("VOXMIRA_RSQ_BENCH_FILE");
    const std::string path = e ? e : std::string(VOXMIRA_FIXTURES) + "/rsq/phantom.rsq";
    std::vector<char> name(path.begin(), path.end());
    name.push_back('\0');
    return name;
}

void open_in(int recon)
{
    reset_info();
    info.xtreme_load = 2;
    info.xtreme_recon = recon;
}

void BM_ReconstructPlanarSlice(benchmark::State& state)
{
    std::vector<char> name = bench_file();
    open_in(0);
    for (auto _ : state) {
        flush_rsq_cache();
        if (!load_rsq_file(name.data(), 1, false)) state.SkipWithError("the raw file does not load");
    }
    state.counters["width"] = info.width;
}

// Steps forward one frame at a time (back to frame 1 at the end, cache flushed): every
// load filters the one record that is new.
void frame_steps(benchmark::State& state, int recon)
{
    std::vector<char> name = bench_file();
    open_in(recon);
    if (!load_rsq_file(name.data(), 1, false) || info.frames < 2) {
        state.SkipWithError("the raw file needs two frames");
        return;
    }
    int frame = 1;
    for (auto _ : state) {
        if (++frame > info.frames) {
            state.PauseTiming();
            frame = 1;
            flush_rsq_cache();
            load_rsq_file(name.data(), frame++, false);
            state.ResumeTiming();
        }
        load_rsq_file(name.data(), frame, false);
    }
}

void BM_PlanarFrameStep(benchmark::State& state) { frame_steps(state, 0); }
void BM_FdkFrameStep(benchmark::State& state) { frame_steps(state, 1); }

}  // namespace

BENCHMARK(BM_ReconstructPlanarSlice)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlanarFrameStep)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FdkFrameStep)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
