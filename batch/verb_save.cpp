// The "save" verb: the processed or displayed image of a file, written as the save
// commands write it.
#include "batch/batch_load.h"
#include "batch/batch_reference.h"
#include "batch/batch_verbs.h"

static int run_save(const batch_args& args)
{
    if (!args.has("--out")) throw usage_error("--out OUT.ext is required");
    export_index_of(args.value("--out"));  // a bad extension is a usage error before loading
    load_and_process(args);
    save_as_requested(args, args.has("--displayed"), "--out");
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
