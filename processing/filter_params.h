// What a filter kernel reads besides its planes: the settings of one run, passed by value
// so that a kernel never looks at the application's state and a callee that wants another
// level gets a copy with it changed.
#pragma once

#include <vector>

#include "core/codes.h"

// The masks a varying-mask rank filter chooses from per pixel: shapes from the thinnest
// ellipse to the circle, each in a number of orientations. Mask m is orientation
// orientation_of[m] (of orientations[s] spread over pi) of shape s = shape_of[m]; the
// masks of shape s start at index first[s].
struct mask_family {
    bool varied = false;               // the varying family (else one shape, one orientation)
    std::vector<int> orientations;     // per shape
    std::vector<double> major, minor;  // semi-axes per shape
    std::vector<int> first;            // first mask index per shape
    std::vector<int> shape_of, orientation_of;  // per mask
    int shapes() const { return (int)orientations.size(); }
    int count() const { return (int)shape_of.size(); }
};

// The probe display's window: the samples under the mask at the probe pixel, size x size
// cells (size 0: no kernel probed). Kernels fill one the caller owns; the caller stores it
// once the run has finished.
struct probe_window {
    std::vector<int> cells;
    int size = 0;
};

struct filter_params {
    int filter = FILTER_NONE;  // the "Filter" choice (the Gaussian thresholds with the level)
    int level = 0;             // the level, in whole levels
    bool use_level = false;    // whether the level is in force
    bool levelling = false;    // the automatic level (the noise map scales the level)
    int mask = MASK_CIRCLE;
    double angle = 0.0;        // orientation of the line and ellipse masks, degrees
    int filter_size = 0;
    double centile = 0.0;      // percent
    int centile_alt = 0;       // the anisotropy control (anisotropy = (centile_alt + 1) / 10)
    // The noise map (one value per pixel, 4096 x 16 is the level) of the plane being filtered,
    // noise_width x noise_height; used only with levelling and for planes of that size.
    const int* noise = nullptr;
    int noise_width = 0, noise_height = 0;
    int noise_kind = 0;        // 1 and 2: sensor noise
    int restrict_kind = 2, interpolate_kind = 2;  // the pyramid's resampling kernels
    bool rank_histogram = true;  // rank filters by running histogram (else by sorting)
    int colour = 0;            // colour space of the samples (colour_t)
    int channels = 1;          // interleaved channels of the image
    bool colour_processing = false;
    bool noise_colour = false;  // colour filters work on the noise-stabilised transform
    bool filter_iterate = false;
    int data_max = 255;        // largest level of the data (the mean filter's probe picture)
    // The probe: mode 1 shows the first pass's window, 2 the second's; x, y the pixel.
    int probe_mode = 0, probe_x = -1, probe_y = -1;
    probe_window* probe_out = nullptr;  // where the window goes (none when null)

    // Channels the image interleaves: `channels` for colour processing, else 1.
    int planes() const { return colour_processing ? channels : 1; }
    // The noise map where it applies to a w x h plane, else null.
    const int* noise_for(int w, int h) const
    {
        return levelling && noise && w == noise_width && h == noise_height ? noise : nullptr;
    }
    // A copy with the level scaled by `factor` (rounded).
    filter_params scaled_level(double factor) const
    {
        filter_params p = *this;
        p.level = (int)(level * factor + 0.5);
        return p;
    }
    // A copy without the level.
    filter_params level_off() const
    {
        filter_params p = *this;
        p.use_level = false;
        return p;
    }
    // A copy with mask kind m.
    filter_params with_mask(int m) const
    {
        filter_params p = *this;
        p.mask = m;
        return p;
    }
    // A copy that does not probe.
    filter_params unprobed() const
    {
        filter_params p = *this;
        p.probe_mode = 0;
        p.probe_out = nullptr;
        return p;
    }
    bool probes(int w, int h) const
    {
        return probe_mode && probe_out && probe_x >= 0 && probe_y >= 0 && probe_x < w && probe_y < h;
    }
};
