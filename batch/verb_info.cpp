// The "info" and "raw" verbs: load a file as start-up does and report the record, and
// dump the raw samples.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "app/record.h"
#include "batch/batch_load.h"
#include "batch/batch_verbs.h"

static int run_info(const batch_args& args)
{
    batch_load(args);
    std::printf("%s\n", record_json().c_str());
    return 0;
}

// Writes the raw samples as little-endian int32, channels interleaved, top row first.
static void write_raw_samples(const std::string& out_name)
{
    const size_t n = (size_t)info.width * info.height * (info.data_colour ? info.channels : 1);
    FILE* f = std::fopen(out_name.c_str(), "wb");
    if (!f) throw run_error("cannot write " + out_name);
    // Written in blocks: a whole-image copy of a large frame costs more in fresh pages
    // than the conversion itself.
    const size_t block = 1 << 16;
    std::vector<unsigned char> bytes(block * 4);
    bool ok = true;
    for (size_t start = 0; start < n && ok; start += block) {
        const size_t m = std::min(block, n - start);
        for (size_t i = 0; i < m; i++) {
            const uint32_t v = (uint32_t)info.raw_image[start + i];
            for (int b = 0; b < 4; b++) bytes[i * 4 + b] = (unsigned char)(v >> (8 * b));
        }
        ok = std::fwrite(bytes.data(), 1, m * 4, f) == m * 4;
    }
    if (std::fclose(f) != 0 || !ok) {
        std::remove(out_name.c_str());
        throw run_error("could not write all of " + out_name);
    }
}

static int run_raw(const batch_args& args)
{
    if (!args.has("--out")) throw usage_error("--out F is required");
    batch_load(args);
    write_raw_samples(args.value("--out"));
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
