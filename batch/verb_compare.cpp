// The "compare" verb: PSNR, SNR or SSIM of a file against its noise-free reference.
#include <cstdio>
#include <string>

#include "app/record.h"
#include "app/ui.h"
#include "batch/batch_load.h"
#include "batch/batch_verbs.h"
#include "evaluation/compare.h"
#include "evaluation/reference.h"
#include "io/save_image.h"
#include "io/save_sequence.h"
#include "processing/pipeline.h"

static int run_compare(const batch_args& args)
{
    load_and_process(args);
    if (args.has("--ssim")) info.show_ssim = 1;
    wxString report;
    if (args.has("--ref")) {
        if (!open_reference(wxString::FromUTF8(args.value("--ref").c_str())))
            throw run_error("could not use " + args.value("--ref") + " as the reference");
        report = ui_last_status(0);
    } else {
        if (!info.ref_image) throw run_error("no reference found for " + args.positional()[0] + "; give --ref REF");
        report = compare_to_ref(0, 0, info.proc_width, info.proc_height);
    }
    if (report.empty()) throw run_error("the comparison needs sub-sampling 1 and images of one size");
    std::printf("%s\n", (const char*)report.utf8_str());
    return 0;
}

static batch_verb_registrar compare_verb({
    "compare", "report PSNR, SNR or SSIM of FILE against its reference",
    "compare FILE [--ref REF] [--ssim] [--loader L] [--frame N]\n"
    "Loads FILE as the Open command does (finding its reference by name), or loads REF as\n"
    "\"Open reference\" does, and prints the comparison report of the status bar.\n"
    "  --ref REF          the noise-free reference image\n"
    "  --ssim             report SNR with the mean SSIM\n",
    with_load_options({{"--ref", true}, {"--ssim", false}}), 1, 1, run_compare});

