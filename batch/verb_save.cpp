// The "save" verb: the processed or displayed image of a file, written as the save
// commands write it.
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

static int run_save(const batch_args& args)
{
    if (!args.has("--out")) throw usage_error("--out OUT.ext is required");
    const int index = export_index_of(args.value("--out"));
    load_and_process(args);
    const wxString out = wxString::FromUTF8(args.value("--out").c_str());
    const bool ok = args.has("--displayed") ? save_display_image(out, index) : save_processed_image(out, index);
    if (!ok) throw run_error("could not write " + args.value("--out"));
    return 0;
}

static batch_verb_registrar save_verb({
    "save", "write the processed (or displayed) image of FILE",
    "save FILE --out OUT.ext [--displayed] [--loader L] [--frame N]\n"
    "Writes the processed image as \"Save processed\" does, or with --displayed the display\n"
    "image; the type follows the extension (.bin: binary dump).\n"
    "  --out OUT.ext      png, jpg, jpeg, tif, tiff, bmp, pnm, ppm or bin\n"
    "  --displayed        save the image as displayed\n",
    with_load_options({{"--out", true}, {"--displayed", false}}), 1, 1, run_save});

