// The record-free steps of the pipeline.
#include "commands/filter_run.h"

#include <algorithm>
#include <climits>
#include <string>
#include <vector>

#include "commands/filter_choice.h"
#include "core/memory.h"
#include "processing/colour.h"
#include "processing/filter_dispatch.h"
#include "processing/gaussian_filter.h"
#include "processing/multires.h"
#include "processing/noise_estimation.h"
#include "processing/planes.h"

// Low-pass copy of the raw image for sub-sampling by s, channel by channel.
static std::vector<int> prefiltered_raw(const int* raw, int w, int h, int n, int s)
{
    const size_t pixels = (size_t)w * h;
    std::vector<int> out(pixels * n);
    const double sigma = (s - 1) + 0.5;
    filter_planes(const_cast<int*>(raw), w, h, n, out.data(),
                  [sigma](int* in, int pw, int ph, int* o) { gaussian_blur_2d(in, pw, ph, sigma, o); });
    return out;
}

sampled_plane sample_plane(const int* raw, const sampling_params& sp)
{
    sampled_plane out;
    const int n = sp.data_colour != COLOUR_GREY ? sp.channels : 1;
    const int s = std::max(sp.subsample, 1);
    std::vector<int> filtered;
    const int* source = raw;
    if (s >= 2 && sp.subsample_filter) {
        filtered = prefiltered_raw(raw, sp.width, sp.height, n, s);
        source = filtered.data();
    }

    const int w = sp.width / s, h = sp.height / s;
    out.w = w;
    out.h = h;
    const size_t src_row = (size_t)sp.width * n;

    if (sp.data_colour != COLOUR_GREY && sp.colour == COLOUR_GREY) {
        // One grey plane in the scale of the Grey channel factor.
        out.samples.reset(new int[(size_t)w * h]);
        int* const plane = out.samples.get();
        double f;
        channel_factor(COLOUR_GREY, &f, (colour_t)sp.data_colour);
        const int summed = sp.data_colour == COLOUR_RAW ? 4 : 3;
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
    out.colour_processing = sp.data_colour != COLOUR_GREY;
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
    if (sp.data_colour == COLOUR_RGB && n == 3)
        converted = from_rgb(plane, w, h, (colour_t)sp.colour);
    else if (sp.data_colour == COLOUR_RAW && n == 4)
        converted = from_raw(plane, w, h, (colour_t)sp.colour);
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

// Noise estimate of `image` (w x h) into `noise`: of the plane itself, or of one plane
// taken from a colour image (one channel, or the scaled grey plane). Returns the level the
// map is relative to (the automatic level with levelling).
int estimate_noise_of(const int* image, int w, int h, int* noise, int channel, const filter_params& p)
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
static void run_pyramid(const filter_image& top, int* top_noise, const filter_params& base, const pyramid_params& pyr)
{
    struct level_t {
        int w, h;
        std::vector<int> input, output, noise;
    };
    const int n = base.planes();
    const int levels = std::max(pyr.levels, 1);
    const int w0 = top.width, h0 = top.height;
    // The levels quantise and overwrite the top input: they work on a copy.
    std::vector<int> top_in(top.in, top.in + (size_t)w0 * h0 * n);

    // Level values: q0 the base level, then divided by the tuning divisors.
    std::vector<int> q(levels);
    double value = base.use_level ? base.level : base.data_max;
    q[0] = (int)(value + 0.5);
    for (int k = 1; k < levels; k++) {
        if (k == 1)
            value = value / (base.filter_size * pyr.first_divisor / 10.0) * (base.noise_kind == 2 ? 1.5 : 1.0);
        else
            value = value / (pyr.later_divisor / 12.0);
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

int filter_sampled(const filter_image& img, filter_params p, int* noise, const pyramid_params& pyramid,
                   const std::function<void(const filter_params&)>& before_estimate)
{
    p.noise = noise;
    p.noise_width = img.width;
    p.noise_height = img.height;
    const bool transform = p.colour_processing && p.noise_colour && filter_traits_of(p.filter).noise_transform;
    if (transform)
        inverse_gamma_and_apply_anscombe(img.in, img.width, img.height, (colour_t)p.colour, 2.5 - 1.0 / 10, 0, 0, 0);
    if (p.levelling) {
        if (before_estimate) before_estimate(p);
        p.level = estimate_noise_of(img.in, img.width, img.height, noise, 0, p);
    }
    if (img.width > 0 && img.height > 0) {
        if (p.filter_iterate && p.filter != FILTER_NONE)
            run_pyramid(img, noise, p, pyramid);
        else
            run_filter(img, p);
    }
    if (transform)
        inverse_anscombe_and_apply_gamma(img.out, img.width, img.height, (colour_t)p.colour, 2.4, 0, 0, 0);
    return p.level;
}
