// The bitonic filter and its local-mask variant.
#include "processing/bitonic_filter.h"
#include "processing/orientation_field.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "core/work_plane.h"
#include "processing/anisotropic_filter.h"
#include "processing/colour.h"
#include "processing/gaussian_filter.h"
#include "processing/grain_filter.h"
#include "processing/local_rank_filter.h"
#include "processing/masks.h"
#include "processing/noise_transforms.h"
#include "processing/rank_filter.h"
#include "processing/row_bands.h"

int bitonic_blend(int o, int c, int so, int sc)
{
    // Cubes of errors near 48000 x 16 exceed 64 bits' worth of products: doubles.
    const double op = (double)o + so, cp = (double)c - sc;
    const double a = std::fabs((double)so), b = std::fabs((double)sc);
    const double a3 = a * a * a, b3 = b * b * b;
    if (a3 + b3 > 0) return (int)((op * b3 + cp * a3) / (a3 + b3));
    return (int)((op + cp) * 0.5);
}

void bitonic_filter(int* in, int w, int h, int r, double c, int* out, const double* angle,
                    const double* strength, const filter_params& p)
{
    if (!in || !out || w < 1 || h < 1) return;
    const size_t n = (size_t)w * h;
    if (r < 1) {
        if (in != out) std::copy(in, in + n, out);
        return;
    }
    double sigma = 1.3 * r;
    work_plane<int> O(n), C(n);
    std::vector<double> field_angle, field_strength;
    std::vector<int> index;
    mask_family family;
    const bool varying = p.mask == MASK_VARYING;
    if (p.mask == MASK_AREA) {
        grain_filter_2d_pair(w, h, r, in, c, O.data(), in, 1 - c, C.data());
        // The grains' errors are smoothed less, but at least by the narrowest kernel: below
        // sigma 1 the Gaussian copies its input and the filter would return the image as it was.
        sigma = std::max(sigma * 0.25, 1.0);
    } else if (varying) {
        field_angle.assign(n, 0.0);
        field_strength.assign(n, 0.0);
        if (angle && strength) {
            std::copy(angle, angle + n, field_angle.begin());
            std::copy(strength, strength + n, field_strength.begin());
        } else {
            orientation_field(in, w, h, 1.3 * r, field_angle.data(), field_strength.data(), nullptr);
        }
        family = make_family(MASK_VARYING, r);
        index.resize(n);
        for (size_t i = 0; i < n; i++) index[i] = family_mask_for(family, field_angle[i], field_strength[i]);
        varied_rank_2d(in, w, h, r, c, O.data(), 1 - c, C.data(), index.data(), index.data(), family, p);
    } else {
        rank_2d(in, w, h, r, c, O.data(), 1 - c, C.data(), false, p);
    }

    work_plane<int> eO(n), eC(n), sO(n), sC(n);
    over_row_bands(h, (long long)n, [&](int y0, int y1, yield_clock*) {
        for (size_t i = (size_t)y0 * w; i < (size_t)y1 * w; i++) {
            eO[i] = in[i] - O[i];
            eC[i] = C[i] - in[i];
        }
    });
    {
        const filter_params q = p.scaled_level(1.5);
        if (varying && family.count() >= 2) {
            // Where the image has little structure of its own, the chosen masks say which way
            // the errors should be smoothed.
            const int shapes = family.shapes();
            const double t = std::pow(5.5 / (r + 5) - 0.05, 2);
            for (size_t i = 0; i < n; i++) {
                if (field_strength[i] >= t) continue;
                const int m = index[i], s = family.shape_of[m];
                const double e = std::pow(1 - (double)s / std::max(shapes - 1, 1), 2) * 0.65;
                if (e >= t) continue;
                field_strength[i] = e;
                field_angle[i] = family.orientation_of[m] * M_PI / family.orientations[s];
            }
            int* ins[2] = {eO.data(), eC.data()};
            int* outs[2] = {sO.data(), sC.data()};
            anisotropic_filter_planes(ins, outs, 2, w, h, sigma, 0.6, field_angle.data(), field_strength.data(), q);
        } else {
            filter_2d(eO.data(), w, h, sigma, sO.data(), q);
            filter_2d(eC.data(), w, h, sigma, sC.data(), q);
        }
    }
    // The blend (cubes and a division per pixel) row band by row band.
    over_row_bands(h, (long long)n * 8, [&](int y0, int y1, yield_clock*) {
        for (size_t i = (size_t)y0 * w; i < (size_t)y1 * w; i++) out[i] = bitonic_blend(O[i], C[i], sO[i], sC[i]);
    });
}

void bitonic_x_filter(int* in, int w, int h, int r, double c, int* out, const filter_params& p)
{
    if (!in || !out || w < 1 || h < 1) return;
    const int channels = p.colour_processing ? std::clamp(p.channels, 1, 4) : 1;
    const size_t pixels = (size_t)w * h, count = pixels * channels;
    if (r < 1) {
        if (in != out) std::copy(in, in + count, out);
        return;
    }
    const double sigma = 1.2 * r;
    // The guide: the grey plane smoothed along its own orientation field.
    // One channel is its own grey plane.
    work_plane<int> grey_of_colour, guide(pixels);
    if (channels > 1) {
        grey_of_colour.resize(pixels);
        to_grey(in, w, h, (colour_t)p.colour, grey_of_colour.data(), true);
    }
    int* grey = channels > 1 ? grey_of_colour.data() : in;
    work_plane<double> angle(pixels), strength(pixels), extra;
    {
        const filter_params q = p.scaled_level(3);
        if (q.level < 114) extra.resize(pixels);
        orientation_field(grey, w, h, sigma, angle.data(), strength.data(), extra.empty() ? nullptr : extra.data());
        // From here on the field is needed only as the smoother reads it.
        field_vectors(angle.data(), strength.data(), w, h, 0.6);
        int* guide_plane = guide.data();
        anisotropic_filter_vectors(&grey, &guide_plane, 1, w, h, sigma, angle.data(), strength.data(),
                                   extra.empty() ? nullptr : extra.data(), q);
    }
    const double *vx = angle.data(), *vy = strength.data();
    extra = work_plane<double>();
    work_plane<int> O(count), C(count);
    rank_2d_x(in, w, h, channels, r, std::min(c, 0.5), O.data(), C.data(), guide.data(), grey, p);
    grey_of_colour = work_plane<int>();
    guide = work_plane<int>();

    // The errors are measured on the input as given, or on its transform for colour noise.
    const bool transform = channels > 1 && p.noise_colour;
    work_plane<int> transformed;
    const int* input = in;
    if (transform) {
        transformed.assign(in, in + count);
        input = transformed.data();
        for (work_plane<int>* plane : {&transformed, &O, &C})
            inverse_gamma_and_apply_anscombe(plane->data(), w, h, (colour_t)p.colour, 2.4, 0, 0, 0);
    }
    {
        const filter_params q = p.scaled_level(1.4);
        if (channels == 1) {
            // One plane: the opening and closing become their errors in place, and are found
            // again from the input when blended.
            over_row_bands(h, (long long)pixels, [&](int y0, int y1, yield_clock*) {
                for (size_t i = (size_t)y0 * w; i < (size_t)y1 * w; i++) {
                    O[i] = in[i] - O[i];
                    C[i] = C[i] - in[i];
                }
            });
            const int* ins[2] = {O.data(), C.data()};
            anisotropic_filter_rows(ins, 2, w, h, sigma, vx, vy, [&](int y, int* const* smoothed) {
                for (size_t i = (size_t)y * w, x = 0; x < (size_t)w; i++, x++)
                    out[i] = bitonic_blend(in[i] - O[i], C[i] + in[i], smoothed[0][x], smoothed[1][x]);
            }, q);
        } else {
            work_plane<int> eO(pixels), eC(pixels);
            for (int ch = 0; ch < channels; ch++) {
                for (size_t i = 0; i < pixels; i++) {
                    const size_t at = i * channels + ch;
                    eO[i] = input[at] - O[at];
                    eC[i] = C[at] - input[at];
                }
                // Each row blended as soon as its errors are smoothed.
                const int* ins[2] = {eO.data(), eC.data()};
                anisotropic_filter_rows(ins, 2, w, h, sigma, vx, vy, [&](int y, int* const* smoothed) {
                    for (int x = 0; x < w; x++) {
                        const size_t at = ((size_t)y * w + x) * channels + ch;
                        out[at] = bitonic_blend(O[at], C[at], smoothed[0][x], smoothed[1][x]);
                    }
                }, q);
            }
        }
    }
    if (transform) inverse_anscombe_and_apply_gamma(out, w, h, (colour_t)p.colour, 2.4, 0, 0, 0);
}
