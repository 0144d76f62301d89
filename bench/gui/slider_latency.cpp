// Latency of the desktop program's own work: from a filter-size slider event to the end
// of the next canvas paint, on the bundled CT sample (or a 512 x 512 synthetic phantom when
// the sample is absent) at fit zoom in a 1024 x 768 canvas; the paint alone; and every
// filter choice on a noisy 1024 x 1024 phantom.
//
//   xvfb-run -a -s "-screen 0 1600x1200x24" build-bench/bench/gui_slider_latency
//   VOXMIRA_BENCH_REPS=5 ... --benchmark_filter=Filter   (a quicker pass over the filters)
//
// Each repetition is one event; the aggregates report the median and 95th percentile.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <GL/gl.h>
#include <wx/app.h>
#include <wx/dir.h>
#include <wx/filename.h>
#include <wx/log.h>
#include <wx/slider.h>
#include <wx/utils.h>

#include "app/main_app.h"
#include "app/main_frame.h"
#include "core/codes.h"
#include "core/record.h"
#include "commands/startup.h"
#include "app/gl_canvas.h"
#include "commands/pipeline.h"

wxIMPLEMENT_APP_NO_MAIN(MyApp);

namespace {

using clock_type = std::chrono::steady_clock;

void pump(int ms)
{
    const auto end = clock_type::now() + std::chrono::milliseconds(ms);
    while (clock_type::now() < end) {
        wxTheApp->ProcessPendingEvents();
        wxTheApp->Yield(true);
        wxMilliSleep(2);
    }
}

// A CT-like phantom, as a loader would leave it.
void load_phantom(int n)
{
    reset_info();
    info.width = info.height = n;
    info.data_colour = 0;
    info.channels = 1;
    // Grey data are processed and shown in Grey, as every loader leaves them (the record's
    // default space is RGB, which would show the plane through a scaled colour copy).
    info.colour = info.data_colour;
    info.raw_image = new int[(size_t)n * n];
    for (int y = 0; y < n; y++)
        for (int x = 0; x < n; x++) {
            const double d = std::hypot(x - n / 2.0, (y - n / 2.0) * 1.15);
            const int v = d > n * 0.45 ? -1000 : d > n * 0.4 ? 1200 : 40 + (x * 7 + y * 3) % 40;
            info.raw_image[(size_t)y * n + x] = v * 16;
        }
    info.data_min = -1000;
    info.data_max = 1200;
    info.window_centre = 40;
    info.window_range = 400;
}

bool start()
{
    wxString sample;
    const wxString dir = VOXMIRA_SAMPLES "/ct_phantom";
    if (wxDir::Exists(dir)) {
        wxArrayString files;
        wxDir::GetAllFiles(dir, &files, "*.dcm", wxDIR_FILES);
        files.Sort();
        if (!files.empty()) sample = files[0];
    }
    if (!wxGetApp().start_up(sample.empty() ? std::vector<wxString>{}
                                            : std::vector<wxString>{sample}))
        return false;
    while (!myframe->IsShownOnScreen()) pump(10);
    if (!info.raw_image) {
        std::fprintf(stderr, "sample series not found; using a 512 x 512 phantom\n");
        load_phantom(512);
        derive_first_view(info.window_width, info.window_height);
        sample_image();
        process_image();
        myframe->reset_controls();
    } else {
        std::fprintf(stderr, "sample: %s\n", (const char*)sample.utf8_str());
    }
    // A 1024 x 768 canvas at fit zoom.
    for (int i = 0; i < 20; i++) {
        const wxSize now = myframe->canvas->GetClientSize();
        if (now == wxSize(1024, 768) && info.window_width == 1024) break;
        const wxSize c = myframe->GetClientSize();
        myframe->SetClientSize(c.x + 1024 - now.x, c.y + 768 - now.y);
        pump(100);
    }
    wxCommandEvent fit(wxEVT_MENU, ID_ZOOM_FIT);
    myframe->GetEventHandler()->ProcessEvent(fit);
    pump(200);
    std::fprintf(stderr, "canvas %i x %i, image %i x %i, zoom %.3f\n", info.window_width,
                 info.window_height, info.width, info.height, info.zoom);
    return true;
}

double quantile(const std::vector<double>& v, double q)
{
    std::vector<double> s(v);
    std::sort(s.begin(), s.end());
    return s[std::min(s.size() - 1, (size_t)std::ceil(q * s.size()) - 1)];
}

void SliderEventToPaint(benchmark::State& state)
{
    wxSlider* slider = myframe->slider(ID_FILTER_SIZE);
    for (auto _ : state) {
        const int value = info.filter_size == 3 ? 4 : 3;
        const unsigned long painted = myframe->canvas->paint_count;
        const auto t0 = clock_type::now();
        slider->SetValue(value);
        wxScrollEvent e(wxEVT_SCROLL_THUMBTRACK, ID_FILTER_SIZE, value, wxHORIZONTAL);
        e.SetEventObject(slider);
        slider->GetEventHandler()->ProcessEvent(e);
        while (myframe->canvas->paint_count == painted) {
            wxTheApp->ProcessPendingEvents();
            wxTheApp->Yield(true);
        }
        glFinish();
        state.SetIterationTime(std::chrono::duration<double>(clock_type::now() - t0).count());
    }
}

// The same with filter `filter` (mask `mask`) on a noisy 1024 x 1024 phantom at fit zoom,
// the filter size moving between `size` and size - 1: what a user tuning the filter waits
// for after each slider step.
void FilterSliderEventToPaint(benchmark::State& state, int filter, int mask, int size)
{
    static int ready_for = -1;
    if (ready_for != filter * 100 + mask) {
        ready_for = filter * 100 + mask;
        load_phantom(1024);
        for (size_t i = 0; i < (size_t)1024 * 1024; i++) info.raw_image[i] += (int)((i * 2654435761u) % 97) * 16 - 48 * 16;
        info.file_name = "phantom";
        info.filter = filter;
        info.mask = mask;
        info.filter_size = size;
        info.level = 60;
        wxCommandEvent fit(wxEVT_MENU, ID_ZOOM_FIT);
        myframe->GetEventHandler()->ProcessEvent(fit);
        sample_image();
        process_image();
        myframe->reset_controls();
        pump(200);
        std::fprintf(stderr, "filter %i mask %i: image %i x %i, zoom %.3f\n", filter, mask, info.width,
                     info.height, info.zoom);
    }
    wxSlider* slider = myframe->slider(ID_FILTER_SIZE);
    for (auto _ : state) {
        const int value = info.filter_size == size ? size - 1 : size;
        const unsigned long painted = myframe->canvas->paint_count;
        const auto t0 = clock_type::now();
        slider->SetValue(value);
        wxScrollEvent e(wxEVT_SCROLL_THUMBTRACK, ID_FILTER_SIZE, value, wxHORIZONTAL);
        e.SetEventObject(slider);
        slider->GetEventHandler()->ProcessEvent(e);
        while (myframe->canvas->paint_count == painted) {
            wxTheApp->ProcessPendingEvents();
            wxTheApp->Yield(true);
        }
        glFinish();
        state.SetIterationTime(std::chrono::duration<double>(clock_type::now() - t0).count());
    }
}

void PaintOnly(benchmark::State& state)
{
    for (auto _ : state) {
        const auto t0 = clock_type::now();
        myframe->canvas->paint_now();
        glFinish();
        state.SetIterationTime(std::chrono::duration<double>(clock_type::now() - t0).count());
    }
}

// Repetitions per benchmark: VOXMIRA_BENCH_REPS, else 100 for the paint figures and 20
// for each filter.
int repetitions(int fallback)
{
    const char* v = std::getenv("VOXMIRA_BENCH_REPS");
    return v && std::atoi(v) > 0 ? std::atoi(v) : fallback;
}

void configure(benchmark::internal::Benchmark* b, int reps)
{
    b->Iterations(1)->Repetitions(reps)->UseManualTime()->Unit(benchmark::kMillisecond)
        ->ReportAggregatesOnly(true)
        ->ComputeStatistics("p95", [](const std::vector<double>& v) { return quantile(v, 0.95); });
}

// Every filter choice with the default mask (local) at size 3 <-> 2, and the median with the
// fixed circular mask at 5 <-> 4.
void register_benchmarks()
{
    configure(benchmark::RegisterBenchmark("SliderEventToPaint", SliderEventToPaint), repetitions(100));
    configure(benchmark::RegisterBenchmark("PaintOnly", PaintOnly), repetitions(100));
    static const char* names[FILTER_KINDS] = {"None",    "Mean",          "Gaussian",          "Median",
                                              "Opening", "Closing",       "OCCO",              "Grain",
                                              "OCCOLevelling", "GaussianLevelling", "ImageGuided",
                                              "Anisotropic",   "Bitonic"};
    for (int f = 1; f < FILTER_KINDS; f++)
        configure(benchmark::RegisterBenchmark((std::string("FilterSliderEventToPaint/") + names[f]).c_str(),
                                               FilterSliderEventToPaint, f, (int)MASK_LOCAL, 3),
                  repetitions(20));
    configure(benchmark::RegisterBenchmark("FilterSliderEventToPaint/MedianCircular5", FilterSliderEventToPaint,
                                           (int)FILTER_MEDIAN, (int)MASK_CIRCLE, 5),
              repetitions(20));
}

}  // namespace

int main(int argc, char** argv)
{
    int wx_argc = 1;
    char name[] = "voxmira";
    char* wx_argv[] = {name, nullptr};
    if (!wxEntryStart(wx_argc, wx_argv)) {
        std::fprintf(stderr, "cannot start wxWidgets (no display?)\n");
        return 1;
    }
    delete wxLog::SetActiveTarget(new wxLogStderr);
    if (!start()) return 1;
    register_benchmarks();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    myframe->Close(true);
    pump(100);
    wxTheApp->OnExit();
    wxEntryCleanup();
    return 0;
}
