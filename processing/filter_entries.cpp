// The whole-image filter entry points: each reads the sampled image and the filter settings
// from the record and writes the processed image, a colour image channel by channel, steered
// by one plane (the scaled grey plane) where the filter follows the structure.
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
#include "processing/level_scope.h"
#include "processing/levelling.h"
#include "processing/local_rank_filter.h"
#include "processing/masks.h"
#include "processing/rank_filter.h"

void copy_sampled_to_processed()
{
    if (!info.sampled_image || !info.processed_image) return;
    const int n = info.colour_processing ? info.channels : 1;
    const size_t count = (size_t)info.proc_width * info.proc_height * n;
    if (info.sampled_image != info.processed_image)
        std::copy(info.sampled_image, info.sampled_image + count, info.processed_image);
}

void filter_each_channel(const plane_filter& filter)
{
    const int w = info.proc_width, h = info.proc_height;
    if (!info.sampled_image || !info.processed_image || w < 1 || h < 1) return;
    filter_planes(info.sampled_image, w, h, info.colour_processing ? info.channels : 1,
                  info.processed_image, filter);
}

namespace {

// The plane that steers colour filters: the scaled grey plane of a colour image, or the
// image itself.
std::vector<int> steering_plane()
{
    const int w = info.proc_width, h = info.proc_height;
    const size_t pixels = (size_t)w * h;
    if (!info.colour_processing) return std::vector<int>(info.sampled_image, info.sampled_image + pixels);
    std::vector<int> grey(pixels, 0);
    to_grey(info.sampled_image, w, h, (colour_t)info.colour, grey.data(), true);
    return grey;
}

}  // namespace

void average_2d()
{
    const int r = info.filter_size;
    filter_each_channel([r](int* in, int w, int h, int* out) { mean_2d(in, w, h, r, out); });
}

void gauss_2d()
{
    const double sigma = info.filter_size * 1.3;
    filter_each_channel([sigma](int* in, int w, int h, int* out) { filter_2d(in, w, h, sigma, out); });
}

void guided_2d(int level)
{
    const int r = info.filter_size;
    filter_each_channel([r, level](int* in, int w, int h, int* out) { guided_filter(in, w, h, r, level, out); });
}

void anisotropic_2d()
{
    const int w = info.proc_width, h = info.proc_height;
    if (!info.sampled_image || !info.processed_image || w < 1 || h < 1) return;
    const double sigma = info.filter_size * 1.3, a = (info.centile_alt + 1) / 10.0;
    if (!info.colour_processing) {
        anisotropic_filter_2d(info.sampled_image, w, h, sigma, a, info.processed_image, nullptr, nullptr,
                              nullptr, false);
        return;
    }
    // One orientation field from the grey plane steers every channel.
    std::vector<int> grey = steering_plane();
    std::vector<double> angle((size_t)w * h), strength((size_t)w * h);
    anisotropic_filter_2d(grey.data(), w, h, sigma, a, nullptr, angle.data(), strength.data(), nullptr, true);
    filter_each_channel([&](int* in, int pw, int ph, int* out) {
        anisotropic_filter_2d(in, pw, ph, sigma, a, out, angle.data(), strength.data(), nullptr, false);
    });
}

std::vector<int> varying_mask_choice(const int* plane, int w, int h, int r)
{
    const size_t pixels = (size_t)w * h;
    std::vector<double> angle(pixels), strength(pixels);
    {
        level_off off;
        anisotropic_filter_2d(const_cast<int*>(plane), w, h, r * 1.3, 0.6, nullptr, angle.data(),
                              strength.data(), nullptr, true);
    }
    create_mask_info(r);
    std::vector<int> index(pixels);
    for (size_t i = 0; i < pixels; i++) index[i] = family_mask_for(angle[i], strength[i]);
    return index;
}

void centile_2d(double c)
{
    const int w = info.proc_width, h = info.proc_height, r = info.filter_size;
    if (!info.sampled_image || !info.processed_image || w < 1 || h < 1) return;
    switch (info.mask) {
    case 2: {  // local mask, steered by a smoothed guide
        std::vector<int> grey = steering_plane(), guide(grey.size());
        {
            scaled_level level(3);
            anisotropic_filter_2d(grey.data(), w, h, 1.2 * r, 0.6, guide.data(), nullptr, nullptr, nullptr, false);
        }
        const int n = info.colour_processing ? info.channels : 1;
        std::vector<int> other((size_t)w * h * n);
        const bool opening = c <= 0.5;
        rank_2d_x(info.sampled_image, w, h, n, r, info.level, opening ? c : 1 - c, 0,
                  opening ? info.processed_image : other.data(), opening ? other.data() : info.processed_image,
                  guide.data(), grey.data());
        return;
    }
    case 7:  // the area attribute
        filter_each_channel([r, c](int* in, int pw, int ph, int* out) { grain_filter_2d(in, pw, ph, r, c, out); });
        return;
    case 1: {  // varying mask, chosen per pixel from the orientation field
        std::vector<int> grey = steering_plane();
        std::vector<int> index = varying_mask_choice(grey.data(), w, h, r);
        const int count = info.mask_count;
        filter_each_channel([&](int* in, int pw, int ph, int* out) {
            varied_rank_2d(in, pw, ph, r, c, out, 0, nullptr, index.data(), index.data(), count);
        });
        return;
    }
    default:
        filter_each_channel([r, c](int* in, int pw, int ph, int* out) {
            rank_2d(in, pw, ph, r, c, out, 0, nullptr, false);
        });
    }
}

void grain_2d()
{
    const int r = info.filter_size;
    filter_each_channel([r](int* in, int w, int h, int* out) { grain_filter_2d(in, w, h, r, 0.5, out); });
}

void bitonic_2d(double c)
{
    const int w = info.proc_width, h = info.proc_height, r = info.filter_size;
    if (!info.sampled_image || !info.processed_image || w < 1 || h < 1) return;
    if (info.mask == 2) {
        bitonic_x_filter(info.sampled_image, w, h, r, c, info.processed_image);
        return;
    }
    std::vector<double> angle, strength;
    if (info.mask == 1 && r >= 1) {
        // One orientation field, from the grey plane for colour, steers every channel.
        std::vector<int> grey = steering_plane();
        angle.resize(grey.size());
        strength.resize(grey.size());
        level_off off;
        anisotropic_filter_2d(grey.data(), w, h, r * 1.3, 0.6, nullptr, angle.data(), strength.data(), nullptr, true);
    }
    filter_each_channel([&](int* in, int pw, int ph, int* out) {
        bitonic_filter(in, pw, ph, r, c, out, angle.empty() ? nullptr : angle.data(),
                       strength.empty() ? nullptr : strength.data());
    });
}

namespace {

// What OCCO needs besides the plane: the local mask's guide (built with the level off, as
// centile_2d builds it) or the varying mask's per-pixel choice.
struct occo_steering {
    std::vector<int> grey, guide, masks;
};

occo_steering steer_occo(int r)
{
    const int w = info.proc_width, h = info.proc_height;
    occo_steering s;
    if (info.mask == 2) {
        s.grey = steering_plane();
        s.guide.resize(s.grey.size());
        level_off off;
        scaled_level level(3);
        anisotropic_filter_2d(s.grey.data(), w, h, 1.2 * r, 0.6, s.guide.data(), nullptr, nullptr, nullptr, false);
    } else if (info.mask == 1) {
        std::vector<int> grey = steering_plane();
        s.masks = varying_mask_choice(grey.data(), w, h, r);
    }
    return s;
}

}  // namespace

void occo_2d(double c)
{
    const int r = info.filter_size;
    if (!info.sampled_image || !info.processed_image || info.proc_width < 1 || info.proc_height < 1) return;
    occo_steering s = steer_occo(r);
    filter_each_channel([&](int* in, int w, int h, int* out) {
        // Every channel is admitted by the grey plane against the grey guide.
        occo_plane(in, w, h, r, c, out, s.guide.empty() ? nullptr : s.guide.data(),
                   s.guide.empty() ? nullptr : s.grey.data(), s.masks.empty() ? nullptr : s.masks.data());
    });
}

void self_dual_2d(double c, int occo_marker)
{
    const int r = info.filter_size;
    if (!info.sampled_image || !info.processed_image || info.proc_width < 1 || info.proc_height < 1) return;
    occo_steering s = occo_marker ? steer_occo(r) : occo_steering{};
    const int channels = info.colour_processing ? info.channels : 1;
    const int per_channel = (info.proc_width + info.proc_height) / 4;
    int channel = 0;
    bool cancelled = false;
    filter_each_channel([&](int* in, int w, int h, int* out) {
        // The marker: the OCCO of the plane, or its Gaussian.
        if (occo_marker)
            occo_plane(in, w, h, r, c, out, s.guide.empty() ? nullptr : s.guide.data(),
                       s.guide.empty() ? nullptr : s.grey.data(), s.masks.empty() ? nullptr : s.masks.data());
        else
            gaussian_blur_2d(in, w, h, 1.3 * r, out);
        if (!cancelled)
            cancelled = !self_dual_levelling(in, w, h, c, out, channel * per_channel, channels * per_channel);
        channel++;
    });
}
