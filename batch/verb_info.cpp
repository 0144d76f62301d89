// The "info" and "raw" verbs: load a file as start-up does and report the record, and
// dump the raw samples.
#include <cstdio>
#include <string>

#include "core/record.h"
#include "batch/batch_load.h"
#include "batch/batch_output.h"
#include "batch/batch_verbs.h"

static int run_info(const batch_args& args)
{
    batch_load(args);
    std::printf("%s\n", record_json().c_str());
    return 0;
}

static int run_raw(const batch_args& args)
{
    if (!args.has("--out")) throw usage_error("--out F is required");
    batch_load(args);
    // Source value x 16, channels interleaved, rows top first.
    write_int32_file(args.value("--out"), info.raw_image,
                     (size_t)info.width * info.height * (info.data_colour ? info.channels : 1));
    std::printf("%s\n", record_json().c_str());
    return 0;
}

static batch_verb_registrar info_verb({
    "info", "print the record after loading FILE as one JSON object",
    "info FILE [--loader L] [--frame N]\n"
    "Loads FILE as the desktop program's start-up does and prints the record as JSON.\n",
    with_load_options({}), 1, 1, run_info});

static batch_verb_registrar raw_verb({
    "raw", "write the raw samples of FILE as little-endian int32",
    "raw FILE --out F [--loader L] [--frame N]\n"
    "Writes raw_image (source value x 16, channels interleaved, rows top first) as\n"
    "little-endian int32 to F and prints the record as JSON.\n",
    with_load_options({{"--out", true}}), 1, 1, run_raw});
