// The image record and its reset between data sets.
#include "core/record.h"

#include <algorithm>

info_t info;
uint8_t key = 0;

// The cache array is sized when it is allocated; remember that size so a later change
// of rsq_neighbours can never make the release walk past the end of the array.
static int rsq_cache_allocated = 0;

info_t::~info_t() = default;

void release_mask_tables()
{
    release_array(info.mask_orientations);
    release_array(info.mask_major);
    release_array(info.mask_minor);
    release_array(info.mask_first);
    release_array(info.mask_shape_of);
    release_array(info.mask_orientation_of);
    info.mask_shapes = 0;
    info.mask_count = 0;
    info.mask_varied = 0;
    info.mask_a = 0.0;
    info.mask_b = 0.0;
}

void install_raw_frame(int* samples, int data_min, int data_max)
{
    release_array(info.raw_image);
    release_array(info.ref_image);
    info.raw_image = samples;
    info.data_min = data_min;
    info.data_max = data_max;
}

void update_cubic_params()
{
    const double B = info.cubic_b, C = info.cubic_c;
    double* p = info.cubic_coeffs;
    p[0] = (12 - 9 * B - 6 * C) / 6;
    p[1] = (-18 + 12 * B + 6 * C) / 6;
    p[2] = 0.0;
    p[3] = (6 - 2 * B) / 6;
    p[4] = (-B - 6 * C) / 6;
    p[5] = (6 * B + 30 * C) / 6;
    p[6] = (-12 * B - 48 * C) / 6;
    p[7] = (8 * B + 24 * C) / 6;
}

namespace {

template <class T>
void keep(T& to, const T& from)
{
    to = from;
}
template <class T, size_t N>
void keep(T (&to)[N], const T (&from)[N])
{
    std::copy(from, from + N, to);
}

}  // namespace

void resize_rsq_cache(int neighbours)
{
    if (info.rsq_cache) {
        for (int i = 0; i < rsq_cache_allocated; i++) release_array(info.rsq_cache[i]);
        release_array(info.rsq_cache);
    }
    info.rsq_neighbours = neighbours;
    rsq_cache_allocated = rsq_cache_slots();
    info.rsq_cache = new double*[rsq_cache_allocated]();
    info.rsq_cache_width = 0;
    info.rsq_cache_record = -1;
}

void flush_rsq_cache()
{
    if (info.rsq_cache)
        for (int i = 0; i < rsq_cache_allocated; i++) release_array(info.rsq_cache[i]);
    info.rsq_cache_width = 0;
    info.rsq_cache_record = -1;
}

void reset_info()
{
    // Release every array the record owns (display_image too: the caller sizes a new
    // one for its window).
    for (unsigned char** p : {&info.display_image}) release_array(*p);
    for (int** p : {&info.raw_image, &info.sampled_image, &info.aux_image, &info.noise_image,
                    &info.ref_image, &info.processed_image, &info.probe_values})
        release_array(*p);
    for (double** p : {&info.kernel, &info.line_profile, &info.projection_line, &info.ramp_filter})
        release_array(*p);
    release_mask_tables();
    if (info.rsq_cache) {
        for (int i = 0; i < rsq_cache_allocated; i++) release_array(info.rsq_cache[i]);
        release_array(info.rsq_cache);
    }

    // Every field returns to the default it is declared with, except what a new data set
    // leaves alone: the canvas size and view, the fonts, the gradient, threshold and high
    // pass displays, the histogram buffer, the last slice geometry and the sampled size.
    info_t fresh;
    keep(fresh.window_width, info.window_width);
    keep(fresh.window_height, info.window_height);
    keep(fresh.slice_thickness, info.slice_thickness);
    keep(fresh.slice_location, info.slice_location);
    keep(fresh.orientation, info.orientation);
    keep(fresh.position, info.position);
    keep(fresh.orientation_angles, info.orientation_angles);
    keep(fresh.proc_width, info.proc_width);
    keep(fresh.proc_height, info.proc_height);
    keep(fresh.data_colour, info.data_colour);
    keep(fresh.colour_processing, info.colour_processing);
    keep(fresh.histogram, info.histogram);
    keep(fresh.histogram_bins, info.histogram_bins);
    keep(fresh.centre, info.centre);
    keep(fresh.cursor, info.cursor);
    keep(fresh.panning, info.panning);
    keep(fresh.zoom_box, info.zoom_box);
    keep(fresh.font, info.font);
    keep(fresh.drag_start, info.drag_start);
    keep(fresh.drag_end, info.drag_end);
    keep(fresh.zoom, info.zoom);
    keep(fresh.show_threshold, info.show_threshold);
    keep(fresh.show_gradient, info.show_gradient);
    keep(fresh.show_hipass, info.show_hipass);
    keep(fresh.process_time, info.process_time);
    keep(fresh.saved_window, info.saved_window);
    keep(fresh.metal_change, info.metal_change);
    keep(fresh.multires_level, info.multires_level);
    info = fresh;
    fresh.histogram = nullptr;  // now owned by info

    // What follows from the defaults: the cubic coefficients, the mask radius, the
    // profile buffers and an empty sinogram cache.
    update_cubic_params();
    info.mask_radius[0] = info.mask_radius[1] = info.filter_size + 0.5;
    info.line_profile = new double[4 * info.profile_length]();
    info.projection_line = new double[info.profile_length]();
    rsq_cache_allocated = rsq_cache_slots();
    info.rsq_cache = new double*[rsq_cache_allocated]();
}
