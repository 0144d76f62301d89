// The "sequence" verb: every frame saved as numbered files, as "Save sequence" does.
#include <cstdio>
#include <string>
#include <wx/string.h>

#include "core/record.h"
#include "batch/batch_load.h"
#include "batch/batch_reference.h"
#include "batch/batch_verbs.h"
#include "commands/save_sequence.h"

static int run_sequence(const batch_args& args)
{
    if (!args.has("--out")) throw usage_error("--out NAME.ext is required");
    const int index = export_index_of(args.value("--out"));
    const long subsample = args.integer("--subsample", 1, 1, 64);
    batch_load(args);
    info.subsample = (int)subsample;
    info.subsample_filter = args.has("--average") ? 1 : 0;
    bool complete = false;
    const int written = save_sequence(wxString::FromUTF8(args.value("--out").c_str()), index,
                                      args.has("--displayed") ? 1 : 0, nullptr, &complete);
    std::printf("%i\n", written);
    if (written == 0) throw run_error("no file was written");
    if (!complete) throw run_error("the sequence stopped after " + std::to_string(written) + " files");
    return 0;
}

static batch_verb_registrar sequence_verb({
    "sequence", "save every frame of FILE as NAME_0000.ext, NAME_0001.ext, ...",
    "sequence FILE --out NAME.ext [--displayed] [--subsample N [--average]] [--loader L]\n"
    "Runs \"Save sequence\": every frame processed (or as displayed with --displayed); with\n"
    "--subsample N one frame in N, or with --average the mean of each group of N frames.\n"
    "Prints the number of files written; exits 1 when a frame could not be read or written.\n"
    "  --out NAME.ext     base name; the type follows the extension\n"
    "  --displayed        save the frames as displayed\n"
    "  --subsample N      sub-sampling factor (1..64)\n"
    "  --average          average groups of N frames instead of skipping\n",
    with_load_options({{"--out", true}, {"--displayed", false}, {"--subsample", true}, {"--average", false}}),
    1, 1, run_sequence});
