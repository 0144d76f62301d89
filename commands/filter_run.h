// The steps of the processing pipeline that need no record: sub-sampling and colour
// conversion of a raw image, and the filtering of a sampled image with the sensor-noise
// transform, the automatic level and the multi-resolution pyramid around the filter. The
// pipeline (pipeline.cpp) runs them on the record's planes; the Python module on its own.
#pragma once

#include <functional>
#include <memory>

#include "processing/filter_entries.h"

// What sub-sampling and the colour conversion read of the data and the settings.
struct sampling_params {
    int width = 0, height = 0;  // of the raw image
    int data_colour = 0;        // the data's layout (colour_t)
    int channels = 1;           // interleaved channels of the raw image
    int colour = 0;             // the processing colour space
    int subsample = 1;
    bool subsample_filter = true;  // the Gaussian pre-filter of sigma subsample - 0.5
};

// The sampled plane, its size and, when a colour conversion ran, its range in levels.
struct sampled_plane {
    std::unique_ptr<int[]> samples;
    int w = 0, h = 0;
    bool colour_processing = false;
    bool converted = false;
    int lo = 0, hi = 0;
};

// Sub-samples `raw` by s.subsample (pre-filtered when asked) and converts colour data into
// s.colour. Colour data processed in Grey become one plane (channel sum / (channels x Grey
// factor)).
sampled_plane sample_plane(const int* raw, const sampling_params& s);

// The pyramid's settings beyond the filter's: its number of levels and the tuning divisors
// of the level values (first step, later steps).
struct pyramid_params {
    int levels = 1;
    int first_divisor = 24, later_divisor = 24;
};

// Noise estimate of `image` (w x h) into `noise`: of the plane itself, or of one plane
// taken from a colour image (channel 1..n, or the scaled grey plane). Returns the level
// the map is relative to (the automatic level with levelling).
int estimate_noise_of(const int* image, int w, int h, int* noise, int channel, const filter_params& p);

// Filters img as the pipeline does: colour data with the noise model go through the
// sensor-noise transform (in place on img.in, which the caller must own) and back;
// with the automatic level the level is estimated into `noise` (img.width x img.height,
// zeroed) first, and `before_estimate` (when set) sees the transformed input then; with
// p.filter_iterate the pyramid runs. Returns the level used.
int filter_sampled(const filter_image& img, filter_params p, int* noise, const pyramid_params& pyramid,
                   const std::function<void(const filter_params&)>& before_estimate = {});
