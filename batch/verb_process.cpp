// The "process" verb: the pipeline over the whole image, processed_image written out.
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>
#include <wx/string.h>

#include "core/record.h"
#include "core/ui.h"
#include "display/display_image.h"
#include "batch/batch_load.h"
#include "batch/batch_output.h"
#include "batch/batch_reference.h"
#include "batch/batch_verbs.h"
#include "batch/pipeline_options.h"
#include "commands/pipeline.h"

// Writes processed_image as little-endian int32, channels interleaved, top row first.
static void write_processed(const std::string& out_name)
{
    const int n = info.colour_processing ? info.channels : 1;
    const size_t count = (size_t)info.proc_width * info.proc_height * n;
    write_int32_file(out_name, info.processed_image, count);
}

static int run_process(const batch_args& args)
{
    if (!args.has("--out") && !args.has("--save"))
        throw usage_error("--out F.bin or --save OUT.ext is required");
    if (args.has("--save")) export_index_of(args.value("--save"));  // a bad type fails first
    batch_load(args);
    apply_sampling_options(args);
    apply_filter_options(args);
    // A window that shows the whole image at zoom 1, so every pixel is filtered.
    resize_display(info.width, info.height);
    info.zoom = 1.0;
    info.centre.x = (short)(info.width / 2);
    info.centre.y = (short)(info.height / 2);
    sample_image();
    process_image();
    if (!info.processed_image) throw run_error("nothing was processed");
    if (args.has("--out")) write_processed(args.value("--out"));
    save_as_requested(args, false);
    if (info.filter != FILTER_NONE) std::fprintf(stderr, "%s\n", (const char*)ui_last_status(2).utf8_str());
    std::printf("{\"proc_width\":%d,\"proc_height\":%d,\"values_per_pixel\":%d,\"colour\":%d,"
                "\"data_min\":%d,\"data_max\":%d,\"process_time\":%lld}\n",
                info.proc_width, info.proc_height, info.colour_processing ? info.channels : 1,
                info.colour, info.data_min, info.data_max, (long long)info.process_time);
    // The comparison report, as the status bar shows it, when a reference is loaded
    // (paired by name, or --ref) and a filter ran, or when --ref asks for it.
    report_reference_comparison(args);
    return 0;
}

static batch_verb_registrar process_verb({
    "process", "run the processing pipeline over FILE and write processed_image",
    "process FILE --out F.bin|--save OUT.ext [options]\n"
    "Sub-samples, converts and filters the whole image as the desktop program does and\n"
    "writes processed_image (value x 16, channels interleaved, rows top first) as\n"
    "little-endian int32 to F.bin. Prints the processed size as JSON on stdout and the\n"
    "filtering time on stderr.\n"
    "  --subsample S          sub-sampling factor (default 1)\n"
    "  --no-subsample-filter  sub-sample without the Gaussian pre-filter\n"
    "  --colour C             processing colour space 0..9 (allowed by the data's layout)\n"
    "  --filter K             filter choice 0..12 (0 no filtering)\n"
    "  --size R               filter size 0..100 (default 3)\n"
    "  --centile P            centile in percent (default 4)\n"
    "  --level L              filter level (default 256)\n"
    "  --no-level             the level control is not in force\n"
    "  --auto-level           estimate the level from the noise before filtering\n"
    "  --multires N           multi-resolution filtering with N levels\n"
    "  --mask M               mask shape 0..7 (default 2)\n"
    "  --angle A              angle slider value\n"
    "  --noise K              noise model 0..2\n"
    "  --ref REF              load REF as \"Open reference\" does and print the comparison\n"
    "  --ssim                 the comparison also reports SSIM\n"
    "  --save OUT.ext         save the processed image as \"Save processed\" does (type from\n"
    "                         the extension; .bin is the binary dump)\n",
    with_load_options({{"--out", true}, {"--subsample", true}, {"--no-subsample-filter", false},
                       {"--colour", true}, {"--filter", true}, {"--size", true},
                       {"--centile", true}, {"--level", true}, {"--no-level", false},
                       {"--auto-level", false}, {"--multires", true}, {"--mask", true},
                       {"--angle", true}, {"--noise", true}, {"--ref", true},
                       {"--ssim", false}, {"--save", true}}),
    1, 1, run_process});
