// The image record and its reset between data sets.
#include "app/record.h"

#include "display/interpolation.h"

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

static void reset_rsq_cache()
{
    if (info.rsq_cache) {
        for (int i = 0; i < rsq_cache_allocated; i++) release_array(info.rsq_cache[i]);
        release_array(info.rsq_cache);
    }
    rsq_cache_allocated = rsq_cache_slots();
    info.rsq_cache = new double*[rsq_cache_allocated]();
}

void reset_info()
{
    // 1. Names.
    info.file_name.clear();
    info.ref_file_name.clear();

    // 2. Interpolation: cubic B-spline.
    info.interp = 3;
    info.cubic_c = 0.0;
    info.cubic_b = 1.0;
    update_cubic_params();

    // 3. Scalar defaults of the choices and view.
    info.subsample = 1;
    info.subsample_filter = 1;
    info.noise_kind = 0;
    info.filter = 0;
    info.mask = 2;
    info.overlay = 1;
    info.font_index = 2;
    info.zoom_mode = 0;
    info.colour = 1;
    info.channels = 3;
    info.channel = 0;
    info.threshold = 0;
    info.filter_size = 3;
    info.show_noise = 0;
    info.line_drag = 0;
    info.windowing = 0;
    info.probe_mode = 0;
    info.sonix_mode = 0;

    // 4. Gaussian kernel cache and mask radius.
    release_array(info.kernel);
    info.kernel_size = -1;
    info.centile = 4;
    info.mask_radius[0] = info.mask_radius[1] = info.filter_size + 0.5;

    // 5. Filter sliders and the mask tables.
    info.use_level = 1;
    info.noise_colour = 0;
    info.angle = 0;
    info.iterations = 5;
    info.detail = 0;
    info.centile_alt = 6;
    info.level = 256;
    release_mask_tables();

    // 6. Frames and spacing.
    info.frames = 1;
    info.first_frame = 0;
    info.file_type = -4;
    info.frame = 0;
    info.frame_spacing = 0.0;
    info.pixel_width = info.pixel_height = 0.1;

    // 7. Images. display_image is left null for the caller to size for its window.
    release_array(info.raw_image);
    release_array(info.sampled_image);
    release_array(info.aux_image);
    release_array(info.noise_image);
    release_array(info.ref_image);
    release_array(info.processed_image);
    release_array(info.display_image);
    release_array(info.probe_values);
    info.probe_count = 0;

    // 8. Size, range, window and profile line.
    info.width = info.height = 1200;
    info.show_histogram = 0;
    info.show_projection = 0;
    info.data_min = 0;
    info.data_max = 1;
    info.window_centre = 0;
    info.window_range = 1;
    info.default_centre = 0;
    info.default_range = 1;
    info.open_filter = 0;
    info.line_start = vertex2d(0, 0);
    info.line_end = vertex2d(0, 0);

    // 9. Profile buffers and the reconstruction filter.
    info.profile_length = 50;
    release_array(info.line_profile);
    info.line_profile = new double[4 * info.profile_length]();
    release_array(info.projection_line);
    info.projection_line = new double[info.profile_length]();
    info.fft_length = 0;
    release_array(info.ramp_filter);

    // 10. CT and metal-artefact defaults, then a fresh, empty sinogram cache.
    info.metal_active = 0;
    info.metal_choice = 4;
    info.recon_scale = 100;
    info.recon_angles = 720;
    info.recon_angle = 100;
    info.recon_noise = 0;
    info.metal_iteration = 0;
    info.metal_hardening = 3;
    info.recon_only = 0;
    info.metal_smooth = 8;
    info.metal_smooth_frames = 1;
    info.recon_filter = 100;
    info.line_margins[0] = info.line_margins[1] = 0;
    info.trace_pad[0] = info.trace_pad[1] = 1;
    info.metal_threshold = 2800;
    info.metal_background = 0;
    info.metal_air = -500;
    info.metal_range = 500;
    info.metal_iterations = 5;
    info.show_iterations = 0;
    info.writing_frames = 0;
    info.backproject_pending = 0;
    info.dicom_output = 0;
    info.tiff_output = 0;
    info.beam_hardening[0] = 10.0;
    info.beam_hardening[1] = 0.1;
    info.beam_hardening[2] = 10.0;
    info.metal_convergence = 20;
    info.metal_predict_back = 0;
    info.metal_li = 0;
    info.metal_nmar = 0;
    info.metal_rmar = 1;
    info.rsq_loaded = 0;
    info.rsq_fan_views = 80;
    info.rsq_view_margin = 2;
    info.rsq_row_skip = 15;
    info.rsq_stack = 124;
    info.rsq_neighbours = 9;
    reset_rsq_cache();
    info.rsq_cache_width = 0;
    info.rsq_cache_record = -1;
    info.xtreme_load = 2;
    info.xtreme_recon = 0;

    // 11. Filter tuning.
    static const int dev_values[10] = {2, 2, 1, 24, 24, 1, 1, 1, 3, 1};
    static const uint8_t dev_switches[10] = {0, 0, 0, 1, 1, 0, 0, 0, 1, 0};
    for (int i = 0; i < 10; i++) {
        info.dev_values[i] = dev_values[i];
        info.dev_switches[i] = dev_switches[i];
    }
    info.use_histogram = 1;
    info.filter_flag = 1;
    info.show_ssim = 0;
    info.filter_iterate = 0;
    info.levelling = 0;
    info.ref_range = 1.0;
}
