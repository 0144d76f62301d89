// The processing pipeline: sample_image and process_image.
#include "commands/pipeline.h"

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
#include "processing/level_scope.h"
#include "core/ui.h"
#include "display/display_image.h"
#include "evaluation/compare.h"
#include "processing/colour.h"
#include "processing/filter_dispatch.h"
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

// Filters whose input the sensor-noise transform linearises and stabilises.
static bool transformed_filter(int f) { return f == 1 || f == 2 || f == 9 || f == 10 || f == 11; }

// Noise estimate of `image` (the current working size) into noise_image: of the plane
// itself, or of one plane taken from a colour image (one channel, or the scaled grey
// plane); the estimator reads what it is given as one plane.
static void estimate_noise_of(int* image, int channel)
{
    const int w = info.proc_width, h = info.proc_height;
    if (!info.noise_image || w < 1 || h < 1) return;
    within_memory("the noise estimate of a " + std::to_string(w) + " x " + std::to_string(h) + " image", [&] {
        if (!info.colour_processing) {
            estimate_noise_image(image, w, h, info.noise_image);
            return;
        }
        const int n = info.channels;
        const size_t pixels = (size_t)w * h;
        std::vector<int> plane(pixels, 0);
        if (channel >= 1 && channel <= n)
            extract_plane(image, pixels, n, channel - 1, plane.data());
        else
            to_grey(image, w, h, (colour_t)info.colour, plane.data(), true);
        estimate_noise_image(plane.data(), w, h, info.noise_image);
    });
}

static int* new_zeroed(size_t count) { return new int[count](); }

// Every sample to its whole level, and data_min / data_max to the range of those levels.
static void quantise(int* image, size_t count)
{
    int lo = INT_MAX, hi = INT_MIN;
    for (size_t i = 0; i < count; i++) {
        const int level = (int)(image[i] * 0.0625 + 0.5);
        image[i] = level * 16;
        lo = std::min(lo, level);
        hi = std::max(hi, level);
    }
    if (count) {
        info.data_min = lo;
        info.data_max = hi;
    }
}

// The multi-resolution pass: the filter runs on every level of a pyramid of the (crop)
// image on the way down, each level's detail kept, and again on the way up on the coarse
// result plus the detail. Level values fall with the resolution.
static void run_pyramid(int n)
{
    struct level_t {
        int w, h;
        std::vector<int> input, output, noise;
    };
    const int levels = std::max(info.iterations, 1);
    const int w0 = info.proc_width, h0 = info.proc_height;
    std::vector<int> kept(info.sampled_image, info.sampled_image + (size_t)w0 * h0 * n);
    const int saved_min = info.data_min, saved_max = info.data_max;
    int* const top_in = info.sampled_image;
    int* const top_out = info.processed_image;
    int* const top_noise = info.noise_image;
    // The levels quantise and overwrite the top input; it and the record's planes, size
    // and range are put back however the pass ends.
    struct top_restore {
        const std::vector<int>& kept;
        int *in, *out, *noise;
        int w, h, lo, hi;
        ~top_restore()
        {
            std::copy(kept.begin(), kept.end(), in);
            info.sampled_image = in;
            info.processed_image = out;
            info.noise_image = noise;
            info.proc_width = w;
            info.proc_height = h;
            info.data_min = lo;
            info.data_max = hi;
        }
    } restore_top{kept, top_in, top_out, top_noise, w0, h0, saved_min, saved_max};

    // Level values: q0 the base level, then divided by the tuning divisors.
    std::vector<int> q(levels);
    double value = info.use_level ? info.level : info.data_max;
    q[0] = (int)(value + 0.5);
    for (int k = 1; k < levels; k++) {
        if (k == 1)
            value = value / (info.filter_size * info.dev_values[3] / 10.0) * (info.noise_kind == 2 ? 1.5 : 1.0);
        else
            value = value / (info.dev_values[4] / 12.0);
        q[k] = (int)(value + 0.5);
    }
    // Level sizes and arrays; a level exists only while half the one above exceeds twice
    // the filter size in both directions.
    std::vector<level_t> pyramid(1);
    pyramid[0].w = w0;
    pyramid[0].h = h0;
    for (int k = 1; k < levels; k++) {
        const level_t& up = pyramid.back();
        if (std::min((up.w - 1) / 2, (up.h - 1) / 2) <= 2 * info.filter_size) break;
        level_t l;
        l.w = (up.w - 1) / 2 + 1;
        l.h = (up.h - 1) / 2 + 1;
        l.input.resize((size_t)l.w * l.h * n);
        l.output.resize((size_t)l.w * l.h * n);
        if (info.levelling) l.noise.resize((size_t)l.w * l.h);
        pyramid.push_back(std::move(l));
    }
    auto in_of = [&](int k) { return k == 0 ? top_in : pyramid[k].input.data(); };
    auto out_of = [&](int k) { return k == 0 ? top_out : pyramid[k].output.data(); };
    auto noise_of = [&](int k) { return k == 0 ? top_noise : (pyramid[k].noise.empty() ? nullptr : pyramid[k].noise.data()); };
    auto make_current = [&](int k) {
        info.sampled_image = in_of(k);
        info.processed_image = out_of(k);
        info.noise_image = noise_of(k);
        info.proc_width = pyramid[k].w;
        info.proc_height = pyramid[k].h;
    };
    auto filter_level = [&](int k) {
        quantise(in_of(k), (size_t)pyramid[k].w * pyramid[k].h * n);
        run_filter();
    };

    // Down.
    int coarsest = 0;
    for (int k = 0; k < levels; k++) {
        info.multires_level = k;
        if (k >= 1) {
            info.use_level = 1;
            info.level = q[k];
            if (info.filter_size < 1 || q[k] < 2 || k >= (int)pyramid.size()) break;
            const level_t &up = pyramid[k - 1], &here = pyramid[k];
            restrict_data(out_of(k - 1), up.w, up.h, in_of(k), here.w, here.h);
            interpolate_data(in_of(k), here.w, here.h, in_of(k - 1), up.w, up.h);
            int* detail = out_of(k - 1);
            const int* smooth = in_of(k - 1);
            for (size_t i = 0; i < (size_t)up.w * up.h * n; i++) detail[i] -= smooth[i];
            if (info.levelling && noise_of(k - 1) && noise_of(k))
                restrict(noise_of(k - 1), up.w, up.h, noise_of(k), here.w, here.h);
            make_current(k);
        }
        filter_level(k);
        coarsest = k;
    }
    // Up.
    for (int j = coarsest; j >= 1; j--) {
        info.multires_level = -j;
        info.use_level = 1;
        info.level = q[j];
        const level_t &here = pyramid[j], &up = pyramid[j - 1];
        interpolate_data(out_of(j), here.w, here.h, in_of(j - 1), up.w, up.h);
        int* sum = in_of(j - 1);
        int* detail = out_of(j - 1);
        const size_t count = (size_t)up.w * up.h * n;
        if (info.level < 1) {
            for (size_t i = 0; i < count; i++) detail[i] += sum[i];
        } else {
            for (size_t i = 0; i < count; i++) sum[i] += detail[i];
            make_current(j - 1);
            filter_level(j - 1);
        }
    }
}

// Set while process_image runs (the rank filters yield to the event loop meanwhile).
static bool inside = false;
// Cleared while a run that nobody watches processes the whole image.
static bool with_display = true;

bool pipeline_running() { return inside || ui_long_run_active(); }

namespace {

// What a pipeline run changes in the record while it works; put back as it was when the
// run cannot finish (an allocation failure).
struct pipeline_state {
    int *sampled, *processed, *noise;
    int proc_width, proc_height, filter_size, level, multires_level, data_min, data_max;
    uint8_t use_level;
    vertex2s cursor;

    pipeline_state()
        : sampled(info.sampled_image), processed(info.processed_image), noise(info.noise_image),
          proc_width(info.proc_width), proc_height(info.proc_height), filter_size(info.filter_size),
          level(info.level), multires_level(info.multires_level), data_min(info.data_min),
          data_max(info.data_max), use_level(info.use_level), cursor(info.cursor)
    {
    }
    void restore() const
    {
        info.sampled_image = sampled;
        info.processed_image = processed;
        info.noise_image = noise;
        info.proc_width = proc_width;
        info.proc_height = proc_height;
        info.filter_size = filter_size;
        info.level = level;
        info.multires_level = multires_level;
        info.data_min = data_min;
        info.data_max = data_max;
        info.use_level = use_level;
        info.cursor = cursor;
    }
};

}  // namespace

// The filtering of process_image: the new processed (and noise) planes are built beside
// the record's and replace them only when complete.
static void filter_visible_region(const visible_region& v, bool need_noise)
{
    using clock = std::chrono::steady_clock;
    const int n = info.colour_processing ? info.channels : 1;
    const int full_w = info.proc_width, full_h = info.proc_height;
    const size_t full_pixels = (size_t)full_w * full_h;
    std::unique_ptr<int[]> processed(new int[full_pixels * n]);
    std::unique_ptr<int[]> noise(need_noise ? new_zeroed(full_pixels) : nullptr);

    const int crop_w = v.C1 - v.C0, crop_h = v.R1 - v.R0;
    const bool cropped = !(v.R0 == 0 && v.C0 == 0 && v.R1 == full_h && v.C1 == full_w &&
                           !info.noise_colour);

    int* const full_sampled = info.sampled_image;
    int* const full_processed = processed.get();
    int* const full_noise = noise.get();
    info.processed_image = full_processed;
    info.noise_image = full_noise;
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
        info.noise_image = crop_noise.get();
        info.sampled_image = crop_sampled.get();
        info.processed_image = crop_processed.get();
        info.proc_width = crop_w;
        info.proc_height = crop_h;
        info.cursor.x = (short)(info.cursor.x - v.C0);
        info.cursor.y = (short)(info.cursor.y - v.R0);
    }

    const auto started = clock::now();  // the crop is not timed
    const bool transform = info.colour_processing && info.noise_colour &&
                           transformed_filter(info.filter);
    if (transform)
        inverse_gamma_and_apply_anscombe(info.sampled_image, info.proc_width, info.proc_height,
                                         (colour_t)info.colour, 2.5 - 1.0 / 10, 0, 0, 0);
    if (info.levelling) {
        if (info.show_histogram)
            estimate_histogram(info.sampled_image, info.proc_width, info.proc_height);
        estimate_noise_of(info.sampled_image, 0);
    }

    const int saved_size = info.filter_size, saved_level = info.level;
    const uint8_t saved_use_level = info.use_level;
    if (info.proc_width > 0 && info.proc_height > 0) {
        if (info.filter_iterate && info.filter != 0) {
            run_pyramid(n);
        } else {
            info.multires_level = 0;
            run_filter();
        }
    }
    info.multires_level = 1;
    info.filter_size = saved_size;
    info.level = saved_level;
    info.use_level = saved_use_level;
    if (transform)
        inverse_anscombe_and_apply_gamma(info.processed_image, info.proc_width, info.proc_height,
                                         (colour_t)info.colour, 2.4, 0, 0, 0);

    const long long micro =
        std::chrono::duration_cast<std::chrono::microseconds>(clock::now() - started).count();
    const long long process_time = micro / 1000;

    if (!info.levelling) {
        if (info.show_histogram)
            estimate_histogram(info.processed_image, info.proc_width, info.proc_height);
        if (info.show_noise) estimate_noise_of(info.processed_image, info.channel);
    }

    if (cropped) {
        // Only the visible region goes back; the margin was there to feed the filter.
        for (int y = v.r0; y < v.r1; y++) {
            const int* from = crop_processed.get() + ((size_t)(y - v.R0) * crop_w + (v.c0 - v.C0)) * n;
            std::copy(from, from + (size_t)(v.c1 - v.c0) * n,
                      full_processed + ((size_t)y * full_w + v.c0) * n);
            if (full_noise) {
                const int* nf = crop_noise.get() + (size_t)(y - v.R0) * crop_w + (v.c0 - v.C0);
                std::copy(nf, nf + (v.c1 - v.c0), full_noise + (size_t)y * full_w + v.c0);
            }
        }
        info.sampled_image = full_sampled;
        info.proc_width = full_w;
        info.proc_height = full_h;
    }
    // Complete: the new planes replace the record's (process_image frees the old ones).
    info.processed_image = processed.release();
    info.noise_image = noise.release();
    info.process_time = process_time;
}

void process_image()
{
    if (!info.sampled_image || inside) return;
    inside = true;
    // Clears the guard however the run ends (an allocation failure included).
    struct guard_reset {
        ~guard_reset() { inside = false; }
    } reset_inside;

    const bool need_noise = info.show_noise || info.levelling;
    const visible_region v = pipeline_visible_region();
    const pipeline_state before;
    try {
        // Filtering the view may be cancelled (a newer slider value, the Escape key); a
        // whole-image run, whose result is about to be saved, may not.
        std::optional<ui_cancellable_run> cancellable;
        if (with_display) cancellable.emplace();
        within_memory("filtering a " + std::to_string(info.proc_width) + " x " +
                          std::to_string(info.proc_height) + " image",
                      [&] { filter_visible_region(v, need_noise); });
    } catch (const ui_cancelled&) {
        // The picture stays as it was; the run that replaces it (if any) is waiting.
        before.restore();
        ui_status(2, _("Filtering cancelled"));
        return;
    } catch (...) {
        // The record keeps the planes it had; those the run built are gone with it.
        before.restore();
        throw;
    }
    delete[] before.processed;
    delete[] before.noise;
    info.cursor = before.cursor;

    const bool filtered = info.filter != 0 && filter_available();
    if (filtered)
        ui_status(2, wxString::Format(_("Filtering took %li ms"), (long)info.process_time));
    else if (info.filter != 0)
        ui_status(2, wxString::Format(_("%s is not available in this version"),
                                      wxGetTranslation(filter_label(info.filter))));

    info.backproject_pending = 0;
    if (with_display) create_display_image();
    inside = false;
    if (filtered && info.ref_image && pipeline_compare_hook)
        pipeline_compare_hook(v.c0, v.r0, v.c1, v.r1);
}

void process_whole_image(bool display)
{
    // So small a zoom makes every sampled pixel visible (the region is clamped to the image);
    // the view comes back however the run ends.
    {
        const scoped_field<double> whole(info.zoom, 1e-9);
        const scoped_field<bool> undisplayed(with_display, false);
        process_image();
    }
    if (display) create_display_image();
}
