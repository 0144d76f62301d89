// The whole-image filter entry points, and the one place a filter run meets the record:
// the settings read from it and the probe window written back once a run has finished.
#include "processing/filter_entries.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "core/record.h"
#include "processing/anisotropic_filter.h"
#include "processing/bitonic_filter.h"
#include "processing/colour.h"
#include "processing/gaussian_filter.h"
#include "processing/grain_filter.h"
#include "processing/guided_filter.h"
#include "processing/levelling.h"
#include "processing/local_rank_filter.h"
#include "processing/orientation_field.h"
#include "processing/rank_filter.h"

filter_params filter_params_from_record()
{
    filter_params p;
    p.filter = info.filter;
    p.level = info.level;
    p.use_level = info.use_level != 0;
    p.levelling = info.levelling != 0;
    p.mask = info.mask;
    p.angle = info.angle;
    p.filter_size = info.filter_size;
    p.centile = info.centile;
    p.centile_alt = info.centile_alt;
    p.noise = info.noise_image;
    p.noise_width = info.proc_width;
    p.noise_height = info.proc_height;
    p.noise_kind = info.noise_kind;
    p.restrict_kind = info.dev_values[0];
    p.interpolate_kind = info.dev_values[1];
    // Micro-CT raw data always sort.
    p.rank_histogram = info.use_histogram && info.file_type != FILE_MICRO_CT;
    p.colour = info.colour;
    p.channels = info.channels;
    p.colour_processing = info.colour_processing != 0;
    p.noise_colour = info.noise_colour != 0;
    p.filter_iterate = info.filter_iterate != 0;
    p.data_max = info.data_max;
    p.probe_mode = info.probe_mode;
    p.probe_x = info.cursor.x;
    p.probe_y = info.cursor.y;
    return p;
}

filter_image filter_image_from_record()
{
    return filter_image{info.sampled_image, info.processed_image, info.proc_width, info.proc_height};
}

void store_probe(const probe_window& probe)
{
    if (probe.size < 1 || probe.cells.size() != (size_t)probe.size * probe.size) return;
    int* const cells = new int[probe.cells.size()];
    std::copy(probe.cells.begin(), probe.cells.end(), cells);
    release_array(info.probe_values);
    info.probe_values = cells;
    info.probe_count = probe.size;
}

void copy_input(const filter_image& img, const filter_params& p)
{
    if (!img.in || !img.out || img.width < 1 || img.height < 1) return;
    const size_t count = (size_t)img.width * img.height * p.planes();
    if (img.in != img.out) std::copy(img.in, img.in + count, img.out);
}

void filter_each_channel(const filter_image& img, const filter_params& p, const plane_filter& filter)
{
    if (!img.in || !img.out || img.width < 1 || img.height < 1) return;
    filter_planes(img.in, img.width, img.height, p.planes(), img.out, filter);
}

namespace {

bool usable(const filter_image& img) { return img.in && img.out && img.width >= 1 && img.height >= 1; }

// The plane that steers colour filters: the scaled grey plane of a colour image, or the
// image itself.
std::vector<int> steering_plane(const filter_image& img, const filter_params& p)
{
    const size_t pixels = (size_t)img.width * img.height;
    if (!p.colour_processing) return std::vector<int>(img.in, img.in + pixels);
    std::vector<int> grey(pixels, 0);
    to_grey(img.in, img.width, img.height, (colour_t)p.colour, grey.data(), true);
    return grey;
}

}  // namespace

void average_2d(const filter_image& img, const filter_params& p)
{
    const int r = p.filter_size;
    filter_each_channel(img, p, [&](int* in, int w, int h, int* out) { mean_2d(in, w, h, r, out, p); });
}

void gauss_2d(const filter_image& img, const filter_params& p)
{
    const double sigma = p.filter_size * 1.3;
    filter_each_channel(img, p, [&](int* in, int w, int h, int* out) { filter_2d(in, w, h, sigma, out, p); });
}

void guided_2d(const filter_image& img, const filter_params& p)
{
    const int r = p.filter_size, level = p.level;
    filter_each_channel(img, p, [r, level](int* in, int w, int h, int* out) { guided_filter(in, w, h, r, level, out); });
}

void anisotropic_2d(const filter_image& img, const filter_params& p)
{
    const int w = img.width, h = img.height;
    if (!usable(img)) return;
    const double sigma = p.filter_size * 1.3, a = (p.centile_alt + 1) / 10.0;
    if (!p.colour_processing) {
        anisotropic_filter_2d(img.in, w, h, sigma, a, img.out, nullptr, nullptr, nullptr, false, p);
        return;
    }
    // One orientation field from the grey plane steers every channel.
    std::vector<int> grey = steering_plane(img, p);
    std::vector<double> angle((size_t)w * h), strength((size_t)w * h);
    orientation_field(grey.data(), w, h, sigma, angle.data(), strength.data(), nullptr);
    filter_each_channel(img, p, [&](int* in, int pw, int ph, int* out) {
        anisotropic_filter_2d(in, pw, ph, sigma, a, out, angle.data(), strength.data(), nullptr, false, p);
    });
}

varying_masks varying_mask_choice(const int* plane, int w, int h, int r, const filter_params& p)
{
    const size_t pixels = (size_t)w * h;
    std::vector<double> angle(pixels), strength(pixels);
    orientation_field(const_cast<int*>(plane), w, h, r * 1.3, angle.data(), strength.data(), nullptr);
    varying_masks v{make_family(p.mask, r), std::vector<int>(pixels)};
    for (size_t i = 0; i < pixels; i++) v.index[i] = family_mask_for(v.family, angle[i], strength[i]);
    return v;
}

void centile_2d(const filter_image& img, const filter_params& p, double c)
{
    const int w = img.width, h = img.height, r = p.filter_size;
    if (!usable(img)) return;
    switch (p.mask) {
    case MASK_LOCAL: {  // steered by a smoothed guide
        std::vector<int> grey = steering_plane(img, p), guide(grey.size());
        anisotropic_filter_2d(grey.data(), w, h, 1.2 * r, 0.6, guide.data(), nullptr, nullptr, nullptr, false,
                              p.scaled_level(3));
        const bool opening = c <= 0.5;
        rank_2d_x(img.in, w, h, p.planes(), r, opening ? c : 1 - c, opening ? img.out : nullptr,
                  opening ? nullptr : img.out, guide.data(), grey.data(), p);
        return;
    }
    case MASK_AREA:
        filter_each_channel(img, p, [r, c](int* in, int pw, int ph, int* out) { grain_filter_2d(in, pw, ph, r, c, out); });
        return;
    case MASK_VARYING: {  // chosen per pixel from the orientation field
        std::vector<int> grey = steering_plane(img, p);
        const varying_masks v = varying_mask_choice(grey.data(), w, h, r, p);
        filter_each_channel(img, p, [&](int* in, int pw, int ph, int* out) {
            varied_rank_2d(in, pw, ph, r, c, out, 0, nullptr, v.index.data(), v.index.data(), v.family, p);
        });
        return;
    }
    default:
        filter_each_channel(img, p, [&](int* in, int pw, int ph, int* out) {
            rank_2d(in, pw, ph, r, c, out, 0, nullptr, false, p);
        });
    }
}

void grain_2d(const filter_image& img, const filter_params& p)
{
    const int r = p.filter_size;
    filter_each_channel(img, p, [r](int* in, int w, int h, int* out) { grain_filter_2d(in, w, h, r, 0.5, out); });
}

void bitonic_2d(const filter_image& img, const filter_params& p, double c)
{
    const int w = img.width, h = img.height, r = p.filter_size;
    if (!usable(img)) return;
    if (p.mask == MASK_LOCAL) {
        bitonic_x_filter(img.in, w, h, r, c, img.out, p);
        return;
    }
    std::vector<double> angle, strength;
    if (p.mask == MASK_VARYING && r >= 1) {
        // One orientation field, from the grey plane for colour, steers every channel.
        std::vector<int> grey = steering_plane(img, p);
        angle.resize(grey.size());
        strength.resize(grey.size());
        orientation_field(grey.data(), w, h, r * 1.3, angle.data(), strength.data(), nullptr);
    }
    filter_each_channel(img, p, [&](int* in, int pw, int ph, int* out) {
        bitonic_filter(in, pw, ph, r, c, out, angle.empty() ? nullptr : angle.data(),
                       strength.empty() ? nullptr : strength.data(), p);
    });
}

namespace {

// What OCCO needs besides the plane: the local mask's guide (built with the level off) or
// the varying mask's per-pixel choice.
struct occo_steering {
    std::vector<int> grey, guide;
    varying_masks varying;
    void run(int* in, int w, int h, int r, double c, int* out, const filter_params& p)
    {
        occo_plane(in, w, h, r, c, out, guide.empty() ? nullptr : guide.data(), guide.empty() ? nullptr : grey.data(),
                   varying.index.empty() ? nullptr : &varying.family,
                   varying.index.empty() ? nullptr : varying.index.data(), p);
    }
};

occo_steering steer_occo(const filter_image& img, const filter_params& p, int r)
{
    occo_steering s;
    if (p.mask == MASK_LOCAL) {
        s.grey = steering_plane(img, p);
        s.guide.resize(s.grey.size());
        anisotropic_filter_2d(s.grey.data(), img.width, img.height, 1.2 * r, 0.6, s.guide.data(), nullptr, nullptr,
                              nullptr, false, p.level_off().scaled_level(3));
    } else if (p.mask == MASK_VARYING) {
        std::vector<int> grey = steering_plane(img, p);
        s.varying = varying_mask_choice(grey.data(), img.width, img.height, r, p);
    }
    return s;
}

}  // namespace

void occo_2d(const filter_image& img, const filter_params& p, double c)
{
    const int r = p.filter_size;
    if (!usable(img)) return;
    occo_steering s = steer_occo(img, p, r);
    // Every channel is admitted by the grey plane against the grey guide.
    filter_each_channel(img, p, [&](int* in, int w, int h, int* out) { s.run(in, w, h, r, c, out, p); });
}

void self_dual_2d(const filter_image& img, const filter_params& p, double c, bool occo_marker)
{
    const int r = p.filter_size;
    if (!usable(img)) return;
    occo_steering s = occo_marker ? steer_occo(img, p, r) : occo_steering{};
    const int channels = p.planes();
    const int per_channel = (img.width + img.height) / 4;
    int channel = 0;
    bool cancelled = false;
    filter_each_channel(img, p, [&](int* in, int w, int h, int* out) {
        // The marker: the OCCO of the plane, or its Gaussian.
        if (occo_marker)
            s.run(in, w, h, r, c, out, p);
        else
            gaussian_blur_2d(in, w, h, 1.3 * r, out);
        // Every channel's marker uses the mask family of the filter's size (the varying mask's
        // choice of the grey plane).
        if (!cancelled)
            cancelled = !self_dual_levelling(in, w, h, c, out, channel * per_channel, channels * per_channel, p);
        channel++;
    });
}
