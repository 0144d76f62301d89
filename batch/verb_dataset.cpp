// The "dataset" verb: "Process DICOM/TIFF" with the given filter settings.
#include <cstdio>
#include <string>
#include <wx/string.h>

#include "core/record.h"
#include "core/ui.h"
#include "core/path_buffer.h"
#include "display/display_image.h"
#include "io/frame_writer.h"
#include "batch/batch_load.h"
#include "batch/batch_verbs.h"
#include "batch/pipeline_options.h"
#include "commands/pipeline.h"
#include "commands/save_sequence.h"

static int run_dataset(const batch_args& args)
{
    batch_load(args);
    apply_filter_options(args);
    const wxString refusal = data_set_refusal();
    if (!refusal.empty())
        throw run_error(std::string("cannot write ") + args.positional()[0] + " as a data set: " +
                        std::string(refusal.utf8_str()));
    resize_display(info.width, info.height);
    info.zoom = 1.0;
    info.centre.x = (short)(info.width / 2);
    info.centre.y = (short)(info.height / 2);
    sample_image();
    const int frames = process_data_set(nullptr);
    const data_set_run& run = current_data_set_run();
    std::string files;
    for (const std::string& f : run.files)
        files += (files.empty() ? "" : ",") + json_string(path_text(f));
    std::printf("{\"files\":[%s],\"frames_written\":%d,\"frames_not_written\":%d}\n", files.c_str(),
                frames, run.skipped + (run.failed ? 1 : 0));
    std::fprintf(stderr, "%s\n", (const char*)ui_last_status(2).utf8_str());
    if (run.failed) throw run_error("the run stopped: a file could not be written");
    if (run.files.empty()) throw run_error("no file was written");
    if (run.skipped)
        throw run_error(std::to_string(run.skipped) + (run.skipped == 1 ? " frame was" : " frames were") +
                        " not written");
    return 0;
}

static batch_verb_registrar dataset_verb({
    "dataset", "write every frame of FILE's data set processed, as \"Process DICOM/TIFF\" does",
    "dataset FILE [options]\n"
    "Processes every frame of the DICOM or 16-bit TIFF data set FILE belongs to with the\n"
    "given filter and writes each beside its source: DICOM as proc/NAME_proc.ext (every\n"
    "element kept but the pixel data and new instance and series UIDs), 16-bit data as\n"
    "proc/NAME_proc.tiff or proc/NAME.tif. Prints the files written as JSON; exits 1 when\n"
    "the data cannot be written or a frame could not be read or written.\n"
    "  --filter K             filter choice 0..12 (0 no filtering)\n"
    "  --size R               filter size 0..100 (default 3)\n"
    "  --centile P            centile in percent (default 4)\n"
    "  --level L              filter level (default 256)\n"
    "  --no-level             the level control is not in force\n"
    "  --auto-level           estimate the level from the noise before filtering\n"
    "  --multires N           multi-resolution filtering with N levels\n"
    "  --mask M               mask shape 0..7 (default 2)\n"
    "  --angle A              angle slider value\n"
    "  --noise K              noise model 0..2\n",
    with_load_options({{"--filter", true}, {"--size", true}, {"--centile", true}, {"--level", true},
                       {"--no-level", false}, {"--auto-level", false}, {"--multires", true},
                       {"--mask", true}, {"--angle", true}, {"--noise", true}}),
    1, 1, run_dataset});
