// The "compare" verb: PSNR, SNR or SSIM of a file against its noise-free reference.
#include "batch/batch_load.h"
#include "batch/batch_reference.h"
#include "batch/batch_verbs.h"

static int run_compare(const batch_args& args)
{
    load_and_process(args);
    report_reference_comparison(args, true);
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
