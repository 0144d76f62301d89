// The processing pipeline: sample_image and process_image.
#include "commands/pipeline.h"
#include "commands/filter_choice.h"
#include "commands/filter_run.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cmath>
#include <memory>
#include <optional>
#include <string>
#include <vector>
#include <wx/intl.h>

#include "core/memory.h"
#include "core/record.h"
#include "core/ui.h"
#include "display/display_image.h"
#include "evaluation/compare.h"
#include "processing/colour.h"
#include "processing/filter_dispatch.h"
#include "processing/filter_entries.h"
#include "processing/gaussian_filter.h"
#include "processing/multires.h"
#include "processing/noise_estimation.h"
#include "processing/planes.h"

// The comparison with a loaded reference; tests replace it to watch the calls.
static void compare_visible_region(int x0, int y0, int x1, int y1) { compare_to_ref(x0, y0, x1, y1); }
void (*pipeline_compare_hook)(int x0, int y0, int x1, int y1) = compare_visible_region;

// ---------------------------------------------------------------------------------------
// sample_image

// The record's sampling settings.
static sampling_params sampling_params_from_record()
{
    sampling_params s;
    s.width = info.width;
    s.height = info.height;
    s.data_colour = info.data_colour;
    s.channels = info.channels;
    s.colour = info.colour;
    s.subsample = info.subsample;
    s.subsample_filter = info.subsample_filter != 0;
    return s;
}

void sample_image()
{
    if (!info.raw_image) return;
    // The new plane is complete before the record changes: refused for memory, the record
    // keeps the sampled image it had.
    sampled_plane fresh;
    within_memory("sub-sampling a " + std::to_string(info.width) + " x " + std::to_string(info.height) + " image",
                  [&] { fresh = sample_plane(info.raw_image, sampling_params_from_record()); });
    release_array(info.sampled_image);
    info.sampled_image = fresh.samples.release();
    info.proc_width = fresh.w;
    info.proc_height = fresh.h;
    info.colour_processing = fresh.colour_processing;
    if (fresh.converted) {
        info.data_min = fresh.lo;
        info.data_max = fresh.hi;
    }
}

// ---------------------------------------------------------------------------------------
// process_image

// Largest even number not above v.
static int even_floor(int v) { return v - (((v % 2) + 2) % 2); }

visible_region pipeline_visible_region()
{
    visible_region v;
    const int ph = info.proc_height, pw = info.proc_width;
    const double s = std::max(info.subsample, 1);
    if (!(info.zoom > 0)) {
        // No usable zoom: treat the whole image as visible.
        v.r0 = v.c0 = 0;
        v.r1 = ph;
        v.c1 = pw;
    } else {
        const double hh = -info.window_height * 0.5 / info.zoom;
        const double hw = -info.window_width * 0.5 / info.zoom;
        // A centre far outside the image leaves an empty region, never a negative one.
        auto clamp_first = [](double a, int size) {
            return (int)std::clamp(std::floor(a), 0.0, (double)size);
        };
        auto clamp_last = [](double a, int first, int size) {
            return (int)std::clamp(std::ceil(a) + 1, (double)first, (double)size);
        };
        v.r0 = clamp_first((hh + info.centre.y) / s, ph);
        v.r1 = clamp_last((info.centre.y - hh) / s, v.r0, ph);
        v.c0 = clamp_first((hw + info.centre.x) / s, pw);
        v.c1 = clamp_last((info.centre.x - hw) / s, v.c0, pw);
    }
    const int m = std::max(info.filter_size, 0);
    v.R0 = std::max(0, even_floor(v.r0 - m));
    v.C0 = std::max(0, even_floor(v.c0 - m));
    v.R1 = std::min(ph, v.r1 + m);
    v.C1 = std::min(pw, v.c1 + m);
    return v;
}

static int* new_zeroed(size_t count) { return new int[count](); }

// Set while a pipeline run is active: a filter that yields lets the event loop call
// process_image again, which then returns at once (a re-entry guard, not state).
static bool inside = false;

bool pipeline_running() { return inside || ui_long_run_active(); }

static bool view_stale = false;
bool pipeline_view_stale() { return view_stale; }
void forget_cancelled_view() { view_stale = false; }

// Stores a residual histogram in the record, reusing its array when the size is the same.
static void store_histogram(const std::vector<int>& histogram)
{
    const int bins = (int)histogram.size();
    if (bins != info.histogram_bins || !info.histogram) {
        int* const fresh = bins > 0 ? new int[bins]() : nullptr;
        release_array(info.histogram);
        info.histogram_bins = bins;
        info.histogram = fresh;
    }
    if (info.histogram) std::copy(histogram.begin(), histogram.end(), info.histogram);
}

namespace {

// What a run leaves for the record; stored only when the run has finished.
struct region_result {
    std::unique_ptr<int[]> processed, noise;
    long long process_time = 0;
    int level = 0;
    std::vector<int> histogram;
    bool has_histogram = false;
    probe_window probe;
};

}  // namespace

// The filtering of process_image: the region v (with its margin) of the sampled image is
// filtered into new processed (and noise) planes; the record is only read.
static void filter_region(const visible_region& v, bool need_noise, region_result& result)
{
    using clock = std::chrono::steady_clock;
    filter_params p = filter_params_from_record();
    const int n = p.planes();
    const int full_w = info.proc_width, full_h = info.proc_height;
    const size_t full_pixels = (size_t)full_w * full_h;
    int* const full_sampled = info.sampled_image;
    result.processed.reset(new int[full_pixels * n]);
    result.noise.reset(need_noise ? new_zeroed(full_pixels) : nullptr);
    int* const full_processed = result.processed.get();
    int* const full_noise = result.noise.get();

    const int crop_w = v.C1 - v.C0, crop_h = v.R1 - v.R0;
    const bool cropped = !(v.R0 == 0 && v.C0 == 0 && v.R1 == full_h && v.C1 == full_w && !p.noise_colour);

    filter_image img{full_sampled, full_processed, full_w, full_h};
    int* noise = full_noise;
    std::unique_ptr<int[]> crop_sampled, crop_processed, crop_noise;
    if (cropped) {
        std::copy(full_sampled, full_sampled + full_pixels * n, full_processed);
        const size_t crop_pixels = (size_t)crop_w * crop_h;
        if (full_noise) crop_noise.reset(new_zeroed(crop_pixels));
        crop_sampled.reset(new int[crop_pixels * n]);
        crop_processed.reset(new int[crop_pixels * n]);
        for (int y = 0; y < crop_h; y++) {
            const int* from = full_sampled + ((size_t)(y + v.R0) * full_w + v.C0) * n;
            std::copy(from, from + (size_t)crop_w * n, crop_sampled.get() + (size_t)y * crop_w * n);
        }
        img = filter_image{crop_sampled.get(), crop_processed.get(), crop_w, crop_h};
        noise = crop_noise.get();
        p.probe_x = (short)(p.probe_x - v.C0);
        p.probe_y = (short)(p.probe_y - v.R0);
    }
    p.noise = noise;
    p.noise_width = img.width;
    p.noise_height = img.height;
    p.probe_out = &result.probe;

    const auto started = clock::now();  // the crop is not timed
    pyramid_params pyramid;
    pyramid.levels = info.iterations;
    pyramid.first_divisor = pyramid_first_divisor();
    pyramid.later_divisor = pyramid_later_divisor();
    result.level = filter_sampled(img, p, noise, pyramid, [&](const filter_params& transformed) {
        if (info.show_histogram) {
            result.histogram = estimate_histogram(img.in, img.width, img.height, transformed, info.channel);
            result.has_histogram = true;
        }
    });

    const long long micro =
        std::chrono::duration_cast<std::chrono::microseconds>(clock::now() - started).count();
    result.process_time = micro / 1000;

    if (!p.levelling) {
        if (info.show_histogram) {
            result.histogram = estimate_histogram(img.out, img.width, img.height, p, info.channel);
            result.has_histogram = true;
        }
        if (info.show_noise) estimate_noise_of(img.out, img.width, img.height, noise, info.channel, p);
    }

    if (cropped) {
        // Only the visible region goes back; the margin was there to feed the filter.
        for (int y = v.r0; y < v.r1; y++) {
            const int* from = crop_processed.get() + ((size_t)(y - v.R0) * crop_w + (v.c0 - v.C0)) * n;
            std::copy(from, from + (size_t)(v.c1 - v.c0) * n, full_processed + ((size_t)y * full_w + v.c0) * n);
            if (full_noise) {
                const int* nf = crop_noise.get() + (size_t)(y - v.R0) * crop_w + (v.c0 - v.C0);
                std::copy(nf, nf + (v.c1 - v.c0), full_noise + (size_t)y * full_w + v.c0);
            }
        }
    }
}

// process_image over region v, rebuilding the display image with `display`.
static void process_region(const visible_region& v, bool display)
{
    if (!info.sampled_image || inside) return;
    inside = true;
    // Clears the guard however the run ends (an allocation failure included).
    struct guard_reset {
        ~guard_reset() { inside = false; }
    } reset_inside;

    const bool need_noise = info.show_noise || info.levelling;
    region_result result;
    try {
        // Filtering the view may be cancelled (a newer slider value, the Escape key); a
        // whole-image run, whose result is about to be saved, may not.
        std::optional<ui_cancellable_run> cancellable;
        if (display) cancellable.emplace();
        within_memory("filtering a " + std::to_string(info.proc_width) + " x " +
                          std::to_string(info.proc_height) + " image",
                      [&] { filter_region(v, need_noise, result); });
    } catch (const ui_cancelled&) {
        // The record is as it was: the picture stays; the run that replaces it (if any) is
        // waiting.
        ui_status(2, _("Filtering cancelled"));
        view_stale = true;
        return;
    }
    if (display) view_stale = false;
    // Complete: the new planes and results replace the record's.
    release_array(info.processed_image);
    release_array(info.noise_image);
    info.processed_image = result.processed.release();
    info.noise_image = result.noise.release();
    info.process_time = result.process_time;
    info.level = result.level;
    info.multires_level = 1;
    if (result.has_histogram) store_histogram(result.histogram);
    store_probe(result.probe);

    const bool filtered = info.filter != FILTER_NONE;
    if (filtered) ui_status(2, wxString::Format(_("Filtering took %li ms"), (long)info.process_time));

    info.backproject_pending = 0;
    if (display) create_display_image();
    inside = false;
    if (filtered && info.ref_image && pipeline_compare_hook) pipeline_compare_hook(v.c0, v.r0, v.c1, v.r1);
}

void process_image() { process_region(pipeline_visible_region(), true); }

void process_whole_image(bool display)
{
    const int w = info.proc_width, h = info.proc_height;
    process_region(visible_region{0, h, 0, w, 0, h, 0, w}, false);
    if (display) create_display_image();
}
