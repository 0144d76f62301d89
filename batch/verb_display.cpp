// The "display" verb: the whole data path to display_image, written as PNG or raw RGB.
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "core/record.h"
#include "batch/batch_load.h"
#include "io/save_image.h"
#include "batch/batch_reference.h"
#include "batch/batch_verbs.h"
#include "batch/pipeline_options.h"
#include "display/display_image.h"
#include "display/interpolation.h"
#include "commands/pipeline.h"

static bool ends_with(const std::string& s, const char* tail)
{
    const std::string t(tail);
    return s.size() >= t.size() && s.compare(s.size() - t.size(), t.size(), t) == 0;
}

static void apply_display_options(const batch_args& args)
{
    if (args.has("--size")) {
        int w, h;
        args.size_pair("--size", w, h);
        resize_display(w, h);
    }
    set_default_zoom();
    if (args.has("--zoom")) {
        info.zoom = args.real("--zoom", 1.0, 1e-4, 1e4);
        info.zoom_mode = 1;
    }
    if (args.has("--centre")) {
        const std::vector<double> c = args.numbers("--centre", 2);
        if (std::fabs(c[0]) > 32767 || std::fabs(c[1]) > 32767)
            throw usage_error("--centre must lie within -32767..32767");
        info.centre.x = (short)std::lround(c[0]);
        info.centre.y = (short)std::lround(c[1]);
    }
    if (args.has("--interp")) select_interpolation((int)args.integer("--interp", 3, 0, INTERP_KINDS - 1));
    if (args.has("--window")) {
        const std::vector<double> w = args.numbers("--window", 2);
        if (std::fabs(w[0]) > 1e9 || std::fabs(w[1]) > 1e9) throw usage_error("--window is out of range");
        // The windowing drag never lets the width fall below one unit; a zero or negative width
        // has no ramp to draw.
        if (std::lround(w[1]) < 1) throw usage_error("--window needs a width of at least 1, not '" + args.value("--window") + "'");
        info.window_centre = (int)std::lround(w[0]);
        info.window_range = (int)std::lround(w[1]);
    }
    if (args.has("--gradient")) info.show_gradient = 1;
    if (args.has("--hipass")) info.show_hipass = 1;
    if (args.has("--threshold")) {
        info.show_threshold = 1;
        info.threshold = (int)args.integer("--threshold", 0, 0, 255);
    }
    info.detail = (int)args.integer("--detail", info.detail, 0, 1000);
    if (args.has("--line")) {
        const std::vector<double> l = args.numbers("--line", 4);
        info.line_start = vertex2d(l[0], l[1]);
        info.line_end = vertex2d(l[2], l[3]);
        // As a line drawn on the canvas: four samples per pixel of length.
        const double length = std::hypot(l[2] - l[0], l[3] - l[1]);
        if (length > 1e6) throw usage_error("--line is too long");
        info.profile_length = (int)(4 * length);
        release_array(info.line_profile);
        info.line_profile = new double[4 * (size_t)std::max(info.profile_length, 1)]();
        release_array(info.projection_line);
        info.projection_line = new double[(size_t)std::max(info.profile_length, 1)]();
    }
}

static void print_profile()
{
    const int per_sample = std::min(info.colour_processing && !info.show_noise ? info.channels : 1, 4);
    for (int k = 0; k < info.profile_length; k++) {
        for (int c = 0; c < per_sample; c++)
            std::printf(c ? " %.6f" : "%.6f", info.line_profile[(size_t)k * per_sample + c]);
        std::printf("\n");
    }
}

static int run_display(const batch_args& args)
{
    if (!args.has("--out")) throw usage_error("--out F.png or F.bin is required");
    const std::string out = args.value("--out");
    const bool png = ends_with(out, ".png") || ends_with(out, ".PNG");
    if (!png && !ends_with(out, ".bin")) throw usage_error("--out must end in .png or .bin");
    batch_load(args);
    apply_sampling_options(args);
    if (args.has("--channel")) {
        const int n = info.data_colour ? info.channels : 1;
        info.channel = (int)args.integer("--channel", 0, 0, n);
    }
    apply_display_options(args);
    sample_image();
    process_image();  // ends with create_display_image()
    // The PNG or the raw RGB bytes, as "Save interpolated" writes them.
    if (!save_display_image(wxString::FromUTF8(out.c_str()), png ? export_png : export_binary))
        throw run_error("could not write " + out);
    save_as_requested(args, true);
    if (args.has("--line")) print_profile();
    return 0;
}

static batch_verb_registrar display_verb({
    "display", "run the data path over FILE and write the display image",
    "display FILE --out F.png|F.bin [options]\n"
    "Runs sub-sampling, the pipeline (no filter) and the display stage as the desktop\n"
    "program does for a canvas of the given size, and writes display_image as PNG or as\n"
    "raw RGB bytes (rows top first). With --line prints the profile, one sample a line.\n"
    "  --size WxH             canvas size (default: the image size)\n"
    "  --zoom Z               display pixels per image pixel (default: fit)\n"
    "  --centre X,Y           image pixel at the middle of the canvas\n"
    "  --interp K             interpolation 0..7 (default 3, cubic B-spline)\n"
    "  --window C,W           window centre and width in source units\n"
    "  --colour C             colour space 0..9 (allowed by the data's layout)\n"
    "  --channel K            channel shown, 0 all\n"
    "  --subsample S          sub-sampling factor\n"
    "  --gradient             show the gradient of the interpolant\n"
    "  --threshold T          mark display levels at or above T\n"
    "  --hipass               show the residual (input - output)\n"
    "  --detail D             detail enhancement\n"
    "  --line X0,Y0,X1,Y1     profile line in image pixels\n"
    "  --save OUT.ext         also save the view as \"Save interpolated\" does\n",
    with_load_options({{"--out", true}, {"--size", true}, {"--zoom", true}, {"--centre", true},
                       {"--interp", true}, {"--window", true}, {"--colour", true},
                       {"--channel", true}, {"--subsample", true}, {"--gradient", false},
                       {"--threshold", true}, {"--hipass", false}, {"--detail", true},
                       {"--line", true}, {"--save", true}}),
    1, 1, run_display});
