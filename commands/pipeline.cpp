// The processing pipeline: sample_image and process_image.
#include "commands/pipeline.h"
#include "commands/filter_choice.h"

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

// Low-pass copy of the raw image for sub-sampling by s, channel by channel.
static std::vector<int> prefiltered_raw(int n, int s)
{
    const int w = info.width, h = info.height;
    const size_t pixels = (size_t)w * h;
    std::vector<int> out(pixels * n);
    const double sigma = (s - 1) + 0.5;
    filter_planes(info.raw_image, w, h, n, out.data(),
                  [sigma](int* in, int pw, int ph, int* o) { gaussian_blur_2d(in, pw, ph, sigma, o); });
    return out;
}

// The sampled plane, its size and range, built beside the record.
struct sampled_plane {
    std::unique_ptr<int[]> samples;
    int w = 0, h = 0;
    bool colour_processing = false;
    bool converted = false;
    int lo = 0, hi = 0;
};

static sampled_plane sample_raw()
{
    sampled_plane out;
    const int n = info.data_colour != COLOUR_GREY ? info.channels : 1;
    const int s = std::max(info.subsample, 1);
    std::vector<int> filtered;
    const int* source = info.raw_image;
    if (s >= 2 && info.subsample_filter) {
        filtered = prefiltered_raw(n, s);
        source = filtered.data();
    }

    const int w = info.width / s, h = info.height / s;
    out.w = w;
    out.h = h;
    const size_t src_row = (size_t)info.width * n;

    if (info.data_colour != COLOUR_GREY && info.colour == COLOUR_GREY) {
        // One grey plane in the scale of the Grey channel factor.
        out.samples.reset(new int[(size_t)w * h]);
        int* const plane = out.samples.get();
        double f;
        channel_factor(COLOUR_GREY, &f, (colour_t)info.data_colour);
        const int summed = info.data_colour == COLOUR_RAW ? 4 : 3;
        const double divisor = summed * f;
        for (int y = 0; y < h; y++)
            for (int x = 0; x < w; x++) {
                const int* p = source + (size_t)y * s * src_row + (size_t)x * s * n;
                double sum = 0.0;
                for (int k = 0; k < std::min(summed, n); k++) sum += p[k];
                plane[(size_t)y * w + x] = (int)(sum / divisor + 0.5);
            }
        return out;
    }
    out.colour_processing = info.data_colour != COLOUR_GREY;
    out.samples.reset(new int[(size_t)w * h * n]);
    int* const plane = out.samples.get();
    for (int y = 0; y < h; y++) {
        const int* row = source + (size_t)y * s * src_row;
        int* o = plane + (size_t)y * w * n;
        if (s == 1) {
            std::copy(row, row + (size_t)w * n, o);  // whole rows at once
        } else if (n == 1) {
            for (int x = 0; x < w; x++) o[x] = row[(size_t)x * s];
        } else {
            for (int x = 0; x < w; x++)
                for (int k = 0; k < n; k++) o[(size_t)x * n + k] = row[(size_t)x * s * n + k];
        }
    }
    filtered.clear();
    filtered.shrink_to_fit();

    if (!out.colour_processing) return out;
    int converted = 0;
    if (info.data_colour == COLOUR_RGB && n == 3)
        converted = from_rgb(plane, w, h, (colour_t)info.colour);
    else if (info.data_colour == COLOUR_RAW && n == 4)
        converted = from_raw(plane, w, h, (colour_t)info.colour);
    if (!converted) return out;  // RGB processed as RGB, say: the loader's range stays
    out.converted = true;
    out.lo = INT_MAX;
    out.hi = INT_MIN;
    const size_t count = (size_t)w * h * n;
    for (size_t i = 0; i < count; i++) {
        const int v = plane[i] / 16;
        out.lo = std::min(out.lo, v);
        out.hi = std::max(out.hi, v);
    }
    return out;
}

void sample_image()
{
    if (!info.raw_image) return;
    // The new plane is complete before the record changes: refused for memory, the record
    // keeps the sampled image it had.
    sampled_plane fresh;
    within_memory("sub-sampling a " + std::to_string(info.width) + " x " + std::to_string(info.height) + " image",
                  [&] { fresh = sample_raw(); });
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

// Noise estimate of `image` (w x h) into `noise`: of the plane itself, or of one plane
// taken from a colour image (one channel, or the scaled grey plane). Returns the level the
// map is relative to (the automatic level with levelling).
static int estimate_noise_of(const int* image, int w, int h, int* noise, int channel, const filter_params& p)
{
    int level = p.level;
    if (!noise || w < 1 || h < 1) return level;
    within_memory("the noise estimate of a " + std::to_string(w) + " x " + std::to_string(h) + " image", [&] {
        if (!p.colour_processing) {
            level = estimate_noise_image(image, w, h, noise, p);
            return;
        }
        const int n = p.channels;
        const size_t pixels = (size_t)w * h;
        std::vector<int> plane(pixels, 0);
        if (channel >= 1 && channel <= n)
            extract_plane(image, pixels, n, channel - 1, plane.data());
        else
            to_grey(const_cast<int*>(image), w, h, (colour_t)p.colour, plane.data(), true);
        level = estimate_noise_image(plane.data(), w, h, noise, p);
    });
    return level;
}

static int* new_zeroed(size_t count) { return new int[count](); }

// Every sample to its whole level; returns the largest level.
static int quantise(int* image, size_t count, int old_max)
{
    int hi = INT_MIN;
    for (size_t i = 0; i < count; i++) {
        const int level = (int)(image[i] * 0.0625 + 0.5);
        image[i] = level * 16;
        hi = std::max(hi, level);
    }
    return count ? hi : old_max;
}

// The multi-resolution pass: the filter runs on every level of a pyramid of the (crop)
// image on the way down, each level's detail kept, and again on the way up on the coarse
// result plus the detail. Level values fall with the resolution. `top` is left as it was.
static void run_pyramid(const filter_image& top, int* top_noise, const filter_params& base)
{
    struct level_t {
        int w, h;
        std::vector<int> input, output, noise;
    };
    const int n = base.planes();
    const int levels = std::max(info.iterations, 1);
    const int w0 = top.width, h0 = top.height;
    // The levels quantise and overwrite the top input: they work on a copy.
    std::vector<int> top_in(top.in, top.in + (size_t)w0 * h0 * n);

    // Level values: q0 the base level, then divided by the tuning divisors.
    std::vector<int> q(levels);
    double value = base.use_level ? base.level : base.data_max;
    q[0] = (int)(value + 0.5);
    for (int k = 1; k < levels; k++) {
        if (k == 1)
            value = value / (base.filter_size * pyramid_first_divisor() / 10.0) * (base.noise_kind == 2 ? 1.5 : 1.0);
        else
            value = value / (pyramid_later_divisor() / 12.0);
        q[k] = (int)(value + 0.5);
    }
    // Level sizes and arrays; a level exists only while half the one above exceeds twice
    // the filter size in both directions.
    std::vector<level_t> pyramid(1);
    pyramid[0].w = w0;
    pyramid[0].h = h0;
    for (int k = 1; k < levels; k++) {
        const level_t& up = pyramid.back();
        if (std::min((up.w - 1) / 2, (up.h - 1) / 2) <= 2 * base.filter_size) break;
        level_t l;
        l.w = (up.w - 1) / 2 + 1;
        l.h = (up.h - 1) / 2 + 1;
        l.input.resize((size_t)l.w * l.h * n);
        l.output.resize((size_t)l.w * l.h * n);
        if (base.levelling) l.noise.resize((size_t)l.w * l.h);
        pyramid.push_back(std::move(l));
    }
    auto in_of = [&](int k) { return k == 0 ? top_in.data() : pyramid[k].input.data(); };
    auto out_of = [&](int k) { return k == 0 ? top.out : pyramid[k].output.data(); };
    auto noise_of = [&](int k) { return k == 0 ? top_noise : (pyramid[k].noise.empty() ? nullptr : pyramid[k].noise.data()); };
    // The level in force carries over from one level's run to the next.
    filter_params p = base;
    auto filter_level = [&](int k) {
        const level_t& l = pyramid[k];
        p.data_max = quantise(in_of(k), (size_t)l.w * l.h * n, base.data_max);
        p.noise = noise_of(k);
        p.noise_width = l.w;
        p.noise_height = l.h;
        // The probe shows the full-size level's mask; the coarser levels' cursor is elsewhere.
        run_filter(filter_image{in_of(k), out_of(k), l.w, l.h}, k == 0 ? p : p.unprobed());
    };

    // Down.
    int coarsest = 0;
    for (int k = 0; k < levels; k++) {
        if (k >= 1) {
            p.use_level = true;
            p.level = q[k];
            if (base.filter_size < 1 || q[k] < 2 || k >= (int)pyramid.size()) break;
            const level_t &up = pyramid[k - 1], &here = pyramid[k];
            const filter_params resampling = p.unprobed();
            restrict_data(out_of(k - 1), up.w, up.h, in_of(k), here.w, here.h, resampling);
            interpolate_data(in_of(k), here.w, here.h, in_of(k - 1), up.w, up.h, resampling);
            int* detail = out_of(k - 1);
            const int* smooth = in_of(k - 1);
            for (size_t i = 0; i < (size_t)up.w * up.h * n; i++) detail[i] -= smooth[i];
            if (base.levelling && noise_of(k - 1) && noise_of(k))
                restrict(noise_of(k - 1), up.w, up.h, noise_of(k), here.w, here.h, resampling);
        }
        filter_level(k);
        coarsest = k;
    }
    // Up.
    for (int j = coarsest; j >= 1; j--) {
        p.use_level = true;
        p.level = q[j];
        const level_t &here = pyramid[j], &up = pyramid[j - 1];
        interpolate_data(out_of(j), here.w, here.h, in_of(j - 1), up.w, up.h, p.unprobed());
        int* sum = in_of(j - 1);
        int* detail = out_of(j - 1);
        const size_t count = (size_t)up.w * up.h * n;
        if (p.level < 1) {
            for (size_t i = 0; i < count; i++) detail[i] += sum[i];
        } else {
            for (size_t i = 0; i < count; i++) sum[i] += detail[i];
            filter_level(j - 1);
        }
    }
}

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
    const bool transform = p.colour_processing && p.noise_colour && filter_traits_of(p.filter).noise_transform;
    if (transform)
        inverse_gamma_and_apply_anscombe(img.in, img.width, img.height, (colour_t)p.colour, 2.5 - 1.0 / 10, 0, 0, 0);
    if (p.levelling) {
        if (info.show_histogram) {
            result.histogram = estimate_histogram(img.in, img.width, img.height, p, info.channel);
            result.has_histogram = true;
        }
        p.level = estimate_noise_of(img.in, img.width, img.height, noise, 0, p);
    }
    result.level = p.level;

    if (img.width > 0 && img.height > 0) {
        if (p.filter_iterate && p.filter != FILTER_NONE) {
            run_pyramid(img, noise, p);
        } else {
            run_filter(img, p);
        }
    }
    if (transform)
        inverse_anscombe_and_apply_gamma(img.out, img.width, img.height, (colour_t)p.colour, 2.4, 0, 0, 0);

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
