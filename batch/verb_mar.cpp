// The "mar" and "recon" verbs: the CT Metal page's "Apply" and "Create MAR data", and the
// CT Recon page's "Reconstruct" on a slice.
#include <cstdio>
#include <string>
#include <wx/string.h>

#include "core/record.h"
#include "core/ui.h"
#include "core/path_buffer.h"
#include "display/display_image.h"
#include "batch/batch_load.h"
#include "batch/batch_output.h"
#include "batch/batch_verbs.h"
#include "commands/metal_run.h"
#include "io/frame_writer.h"
#include "commands/save_sequence.h"
#include "commands/pipeline.h"

namespace {

// The CT Recon page's sliders.
void apply_recon_options(const batch_args& args)
{
    info.recon_noise = args.integer("--noise", info.recon_noise, 0, 80);
    info.recon_angle = args.integer("--angle-scale", info.recon_angle, 1, 200);
    info.recon_scale = args.integer("--relative-scale", info.recon_scale, 1, 200);
    info.recon_filter = args.integer("--filter-parameter", info.recon_filter, 1, 100);
    info.recon_seed = (uint64_t)args.integer("--seed", (long)info.recon_seed, 0, 4294967295L);
}

// The CT Metal page's choice and sliders.
void apply_metal_options(const batch_args& args)
{
    set_metal_choice((int)args.integer("--method", 4, 0, 6));
    info.metal_threshold = (int)args.integer("--metal", info.metal_threshold, 0, 4000);
    info.metal_background = (int)args.integer("--background", info.metal_background, -1000, 2000);
    info.metal_air = (int)args.integer("--air", info.metal_air, -1000, 1000);
    info.metal_range = (int)args.integer("--range", info.metal_range, 0, 1000);
    info.metal_iterations = (int)args.integer("--iterations", info.metal_iterations, 1, 10);
    info.metal_convergence = args.integer("--convergence", info.metal_convergence, 0, 100);
    info.metal_smooth = (int)args.integer("--smooth", info.metal_smooth, 0, 40);
    info.metal_smooth_frames = (int)args.integer("--smooth-frames", info.metal_smooth_frames, 0, 40);
    apply_recon_options(args);
}

// The whole slice in the window at zoom 1, as the other verbs that write results have it.
void whole_view()
{
    resize_display(info.width, info.height);
    info.zoom = 1.0;
    info.centre.x = (short)(info.width / 2);
    info.centre.y = (short)(info.height / 2);
}

void print_slice_report(bool ran)
{
    std::printf("{\"proc_width\":%d,\"proc_height\":%d,\"ran\":%s,\"iterations\":%d,\"change\":%.6g,"
                "\"angles\":%d,\"samples\":%d,\"status\":%s}\n",
                info.proc_width, info.proc_height, ran ? "true" : "false", info.metal_iteration,
                info.metal_change, info.recon_angles, info.profile_length,
                json_string(ui_last_status(2)).c_str());
}

int run_all(const batch_args& args)
{
    const wxString refusal = mar_data_refusal();
    if (!refusal.empty())
        throw run_error("cannot create MAR data from " + args.positional()[0] + ": " + std::string(refusal.utf8_str()));
    whole_view();
    sample_image();
    const int frames = mdt_all_frames(nullptr);
    const data_set_run& run = current_data_set_run();
    std::string files;
    for (const std::string& f : run.files)
        files += (files.empty() ? "" : ",") + json_string(path_text(f));
    std::printf("{\"files\":[%s],\"frames_written\":%d,\"frames_not_written\":%d}\n", files.c_str(), frames,
                run.skipped + (run.failed ? 1 : 0));
    std::fprintf(stderr, "%s\n", (const char*)ui_last_status(2).utf8_str());
    if (run.failed) throw run_error("the run stopped: a file could not be written");
    if (run.files.empty()) throw run_error("no file was written");
    return 0;
}

int run_mar(const batch_args& args)
{
    const bool all = args.has("--all");
    if (all == args.has("--out")) throw usage_error("give either --out F.bin or --all");
    batch_load(args);
    apply_metal_options(args);
    if (all) return run_all(args);
    whole_view();
    sample_image();
    if (info.metal_choice == 0) {
        // "No correction": the slice as the pipeline gives it.
        process_whole_image();
        write_int32_file(args.value("--out"), info.processed_image, (size_t)info.proc_width * info.proc_height);
        print_slice_report(false);
        return 0;
    }
    wxString why;
    const bool ran = metal_apply(&why);
    if (!why.empty()) throw run_error("cannot correct " + args.positional()[0] + ": " + std::string(why.utf8_str()));
    write_int32_file(args.value("--out"), info.processed_image, (size_t)info.proc_width * info.proc_height);
    if (!ran) std::fprintf(stderr, "no pixel reaches the metal threshold (%d HU): the slice is unchanged\n",
                           info.metal_threshold);
    else
        std::fprintf(stderr, "%s\n", (const char*)ui_last_status(2).utf8_str());
    print_slice_report(ran);
    return 0;
}

int run_recon(const batch_args& args)
{
    if (!args.has("--out")) throw usage_error("recon needs --out F.bin");
    batch_load(args);
    apply_recon_options(args);
    whole_view();
    sample_image();
    wxString why;
    const bool ran = reconstruct_slice(&why);
    if (!ran) throw run_error("cannot reconstruct " + args.positional()[0] + ": " +
                              std::string(why.empty() ? "nothing to project" : why.utf8_str()));
    write_int32_file(args.value("--out"), info.processed_image, (size_t)info.proc_width * info.proc_height);
    std::fprintf(stderr, "%s\n", (const char*)ui_last_status(2).utf8_str());
    print_slice_report(ran);
    return 0;
}

#define RECON_USAGE \
    "  --noise DB             detection noise in dB, 0..80 (0 none)\n"                          \
    "  --angle-scale P        projection angles in percent of the default, 1..200\n"           \
    "  --relative-scale P     samples across the line in percent of one per pixel, 1..200\n"   \
    "  --filter-parameter F   ramp-filter window, 1..100 (100 none)\n"                          \
    "  --seed N               seed of the detection noise, 0..4294967295 (default 1)\n"

const std::vector<option_spec> recon_options = {
    {"--noise", true}, {"--angle-scale", true}, {"--relative-scale", true}, {"--filter-parameter", true},
    {"--seed", true}};

std::vector<option_spec> plus_recon(std::vector<option_spec> o)
{
    o.insert(o.end(), recon_options.begin(), recon_options.end());
    return with_load_options(o);
}

}  // namespace

static batch_verb_registrar mar_verb({
    "mar", "correct metal artefacts in a CT slice (\"Apply\") or every frame (\"Create MAR data\")",
    "mar FILE --out F.bin|--all [options]\n"
    "With --out: corrects the frame as \"Apply\" does and writes processed_image (HU x 16)\n"
    "as little-endian int32 to F.bin; prints the iterations and change as JSON. A slice\n"
    "without metal is written unchanged. With --all: corrects every frame and writes each\n"
    "through the data-set writer (DICOM into bmar/, nmar/ or refined/ as NAME_refined.ext,\n"
    "16-bit data as TIFF); exits 1 when nothing could be written.\n"
    "  --method K             0 none, 1 Basic LI, 2 NMAR, 3 LI + NMAR, 4 RMAR (default),\n"
    "                         5 RMAR (no back), 6 RMAR (predict back)\n"
    "  --metal HU             metal threshold, 0..4000 (default 2800)\n"
    "  --background HU        prior reference level, -1000..2000 (default 0)\n"
    "  --air HU               air level, -1000..1000 (default -500)\n"
    "  --range HU             prior level spacing, 0..1000 (default 500)\n"
    "  --iterations N         1..10 (default 5)\n"
    "  --convergence V        stop below V x 0.001 % change, 0..100 (default 20)\n"
    "  --smooth P             smoothing of the correction in pixels, 0..40 (default 8)\n"
    "  --smooth-frames N      neighbouring frames whose metal counts, 0..40 (default 1)\n" RECON_USAGE,
    plus_recon({{"--out", true}, {"--all", false}, {"--method", true}, {"--metal", true},
                {"--background", true}, {"--air", true}, {"--range", true}, {"--iterations", true},
                {"--convergence", true}, {"--smooth", true}, {"--smooth-frames", true}}),
    1, 1, run_mar});

static batch_verb_registrar recon_verb({
    "recon", "simulate a CT acquisition of a slice and reconstruct it (\"Reconstruct\")",
    "recon FILE --out F.bin [options]\n"
    "Projects the slice over half a turn (with detection noise), reconstructs it by filtered\n"
    "back-projection and writes processed_image (x 16) as little-endian int32 to F.bin;\n"
    "with --xtreme-load 0 (\"Sinogram\") the image holds one sinogram row per angle.\n" RECON_USAGE,
    plus_recon({{"--out", true}}),
    1, 1, run_recon});
