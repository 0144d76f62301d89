// The image record: the one global state of Voxmira.
//
// `info` holds the loaded data set, every processing and display parameter, the
// intermediate images of the pipeline, the mouse-interaction state and the CT state.
// Image arrays hold 32-bit samples equal to the source value times 16, channels
// interleaved, top row first; they are allocated with new[] by the stage that produces
// them and released with delete[] by the next producer or by reset_info(). A null
// pointer means the image is absent. Only the GUI thread touches the record.
#pragma once

#include <cstdint>
#include <vector>
#include <wx/string.h>

#include "core/codes.h"
#include "core/geometry.h"

class gl_fonts;

struct info_t {
    ~info_t();

    // Names and files.
    wxString file_name;
    wxString ref_file_name;

    // Canvas and display buffer.
    int window_width = 1200, window_height = 1200;
    unsigned char* display_image = nullptr;

    // Loaded data.
    int width = 1200, height = 1200;
    int frames = 1;
    int first_frame = 0;
    int file_type = -4;
    int frame = 0;
    int data_min = 0, data_max = 1;
    double pixel_width = 0.1, pixel_height = 0.1;
    double frame_spacing = 0.0;
    double slice_thickness = 0.0, slice_location = 0.0;
    double orientation[6] = {1, 0, 0, 0, 1, 0};
    double position[3] = {0, 0, 0};
    double orientation_angles[3] = {0, 0, 0};

    // Processed images.
    int proc_width = 0, proc_height = 0;
    int* raw_image = nullptr;
    int* sampled_image = nullptr;
    int* aux_image = nullptr;
    int* noise_image = nullptr;
    int* ref_image = nullptr;
    int* processed_image = nullptr;
    int data_colour = 0;
    uint8_t colour_processing = 0;
    int colour = 1;
    int channels = 3;
    int channel = 0;

    // Filter probe and histogram.
    int* probe_values = nullptr;
    int probe_count = 0;
    int probe_mode = 0;
    int* histogram = nullptr;
    int histogram_bins = 256;
    uint8_t show_histogram = 0;
    int sonix_mode = 0;

    // View and interaction.
    vertex2s centre;
    vertex2s cursor;
    uint8_t overlay = 1;
    int panning = 0;
    int zoom_box = 0;
    int zoom_mode = 0;
    int font_index = 2;
    gl_fonts* font = nullptr;
    vertex2s drag_start, drag_end;
    int line_drag = 0;
    vertex2d line_start, line_end;
    double zoom = 1.0;

    // Processing parameters.
    int subsample = 1;
    uint8_t subsample_filter = 1;
    uint8_t show_threshold = 0;
    uint8_t show_gradient = 0;
    uint8_t show_hipass = 0;
    uint8_t show_noise = 0;
    int threshold = 0;
    int filter_size = 3;
    double* kernel = nullptr;
    int kernel_size = -1;
    int centile = 4;
    int angle = 0;
    double mask_radius[2] = {3.5, 3.5};
    int iterations = 5;
    int detail = 0;
    int centile_alt = 6;
    int level = 256;
    uint8_t use_level = 1;
    uint8_t noise_colour = 0;
    int64_t process_time = 0;

    // Mask description, rebuilt by create_mask_info().
    int mask_shapes = 0;
    int* mask_orientations = nullptr;
    double* mask_major = nullptr;
    double* mask_minor = nullptr;
    int* mask_first = nullptr;
    int mask_count = 0;
    int* mask_shape_of = nullptr;
    int* mask_orientation_of = nullptr;
    uint8_t mask_varied = 0;
    double mask_a = 0.0, mask_b = 0.0;

    // Windowing and interpolation.
    int windowing = 0;
    int window_centre = 0, window_range = 1;
    int saved_window[2] = {0, 1};
    int default_centre = 0, default_range = 1;
    int interp = 3;
    uint8_t invert_grey = 0;  // grey data whose low values show bright (DICOM MONOCHROME1)
    double cubic_c = 0.0, cubic_b = 1.0;
    double cubic_coeffs[8] = {};

    // Choices, profile and CT work.
    int noise_kind = 0;
    int filter = 0;
    int mask = 2;
    int profile_length = 50;
    double* line_profile = nullptr;
    double* projection_line = nullptr;
    uint8_t show_projection = 0;
    int fft_length = 0;
    double* ramp_filter = nullptr;
    int open_filter = 0;

    // Metal-artefact reduction and reconstruction.
    uint8_t metal_active = 0;
    int metal_choice = 4;
    int64_t recon_scale = 100;
    int recon_angles = 720;
    int64_t recon_angle = 100;
    int64_t recon_noise = 0;
    int metal_iteration = 0;
    int metal_hardening = 3;
    uint8_t recon_only = 0;
    int metal_smooth = 8;
    int metal_smooth_frames = 1;
    int64_t recon_filter = 100;
    int line_margins[2] = {0, 0};
    int trace_pad[2] = {1, 1};
    int metal_threshold = 2800;
    int metal_background = 0;
    int metal_air = -500;
    int metal_range = 500;
    int metal_iterations = 5;
    uint8_t show_iterations = 0;
    uint8_t writing_frames = 0;  // set while the data-set run writes a frame
    uint8_t backproject_pending = 0;
    uint8_t dicom_output = 0;
    uint8_t tiff_output = 0;
    int tiff_offset = 0;  // added to the stored words of the 16-bit TIFF loaded: -32768 for CT form
    double beam_hardening[3] = {10.0, 0.1, 10.0};
    double metal_change = 0.0;
    int64_t metal_convergence = 20;
    uint8_t metal_predict_back = 0;
    uint8_t metal_li = 0;
    uint8_t metal_nmar = 0;
    uint8_t metal_rmar = 1;
    uint8_t rsq_loaded = 0;
    int rsq_fan_views = 80;
    int rsq_view_margin = 2;
    int rsq_row_skip = 15;
    int rsq_stack = 124;
    int rsq_neighbours = 9;
    double** rsq_cache = nullptr;  // 2 * rsq_neighbours + 1 slots
    int rsq_cache_width = 0;
    int rsq_cache_record = -1;
    int xtreme_load = 2;
    int xtreme_recon = 0;
    uint64_t recon_seed = 1;  // seed of the simulated detection noise: the same seed, the same noise
    // The metal of the neighbouring frames (proc_width x proc_height flags, or empty), found
    // when a correction starts; "Cont." goes on with it.
    std::vector<uint8_t> metal_neighbours;

    // Filter tuning.
    int dev_values[10] = {2, 2, 1, 24, 24, 1, 1, 1, 3, 1};
    uint8_t dev_switches[10] = {0, 0, 0, 1, 1, 0, 0, 0, 1, 0};
    uint8_t use_histogram = 1;
    uint8_t filter_flag = 1;
    uint8_t show_ssim = 0;
    uint8_t filter_iterate = 0;
    int multires_level = 0;
    uint8_t levelling = 0;
    double ref_range = 1.0;
};

extern info_t info;

// The filter-tuning values of dev_values by what each controls. The pyramid divisors are
// 24 for the rank filters and 30 for the anisotropic filter (the filter choice switches
// them); the others keep their defaults.
inline int& pyramid_restriction_kind() { return info.dev_values[0]; }    // how a level is halved
inline int& pyramid_interpolation_kind() { return info.dev_values[1]; }  // how a level is enlarged
inline int& pyramid_first_divisor() { return info.dev_values[3]; }       // filter size divisor, first step
inline int& pyramid_later_divisor() { return info.dev_values[4]; }       // filter size divisor, later steps

// The one-byte re-entrancy guard shared by the canvas's mouse and key handlers and the
// application's idle handler: each returns at once while it is set.
extern uint8_t key;

// Returns the record to its defaults between data sets (start-up, Close, Open).
// Releases every image array except that display_image is left null for the caller
// to reallocate for the current window.
void reset_info();

// The whole record held aside while another data set is tried, its arrays with it: an
// open that fails puts the previous data set back exactly as it was.
struct held_record {
    info_t record;
    int rsq_slots = 0;
    bool holding = false;
    held_record() = default;
    held_record(const held_record&) = delete;
    held_record& operator=(const held_record&) = delete;
    ~held_record();  // releases what it still holds
};
// Moves the record into `held` (info keeps no array of it; the shared histogram buffer
// and fonts stay with info).
void hold_record(held_record& held);
// Releases what info holds now and moves the held record back.
void restore_record(held_record& held);

// Recomputes info.cubic_coeffs from info.cubic_b and info.cubic_c: four coefficients
// (cubic term first) of P1 for 0 <= t < 1, then four of P2 for 1 <= t < 2.
void update_cubic_params();

// Releases the mask tables built by create_mask_info() and zeroes the mask data.
void release_mask_tables();

// The last step every loader shares: the new frame's samples replace raw_image (taking
// ownership), any reference image goes, and the frame's range is recorded.
void install_raw_frame(int* samples, int data_min, int data_max);

// Number of slots in the micro-CT sinogram cache for the current neighbour count.
inline int rsq_cache_slots() { return 2 * info.rsq_neighbours + 1; }
// Releases the cache and makes a new one of 2 x `neighbours` + 1 empty slots for that
// neighbour count (kept in step with rsq_neighbours, so a release never walks past it).
void resize_rsq_cache(int neighbours);
// Releases every cached sinogram; the slots stay.
void flush_rsq_cache();

// Releases an owned array and leaves the pointer null; safe on null.
template <typename T>
inline void release_array(T*& p)
{
    delete[] p;
    p = nullptr;
}
