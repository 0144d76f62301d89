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

namespace {

// Every array a record owns for its data set (not the shared histogram buffer or fonts),
// released, or only forgotten when another record now owns them.
void release_owned(info_t& r, int rsq_slots, bool forget_only)
{
    auto drop = [forget_only](auto*& p) {
        if (!forget_only) delete[] p;
        p = nullptr;
    };
    drop(r.display_image);
    for (int** p : {&r.raw_image, &r.sampled_image, &r.aux_image, &r.noise_image, &r.ref_image,
                    &r.processed_image, &r.probe_values, &r.mask_orientations, &r.mask_first,
                    &r.mask_shape_of, &r.mask_orientation_of})
        drop(*p);
    for (double** p : {&r.kernel, &r.line_profile, &r.projection_line, &r.ramp_filter,
                       &r.mask_major, &r.mask_minor})
        drop(*p);
    if (r.rsq_cache && !forget_only)
        for (int i = 0; i < rsq_slots; i++) delete[] r.rsq_cache[i];
    drop(r.rsq_cache);
}

}  // namespace

held_record::~held_record()
{
    if (holding) release_owned(record, rsq_slots, false);
}

void hold_record(held_record& held)
{
    if (held.holding) release_owned(held.record, held.rsq_slots, false);
    held.record = info;
    held.rsq_slots = rsq_cache_allocated;
    held.holding = true;
    release_owned(info, rsq_cache_allocated, true);
    rsq_cache_allocated = 0;
}

void restore_record(held_record& held)
{
    if (!held.holding) return;
    release_owned(info, rsq_cache_allocated, false);
    // The histogram buffer and the fonts are shared: the live ones stay.
    int* histogram = info.histogram;
    const int bins = info.histogram_bins;
    gl_fonts* font = info.font;
    info = held.record;
    info.histogram = histogram;
    info.histogram_bins = bins;
    info.font = font;
    rsq_cache_allocated = held.rsq_slots;
    release_owned(held.record, held.rsq_slots, true);
    held.holding = false;
}

void reset_info()
{
    // Release every array the record owns (display_image too: the caller sizes a new
    // one for its window).
    release_owned(info, rsq_cache_allocated, false);
    release_mask_tables();

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
